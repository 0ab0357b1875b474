// How much of an event survives a crash: a recorder process is killed with
// SIGKILL at random moments of its event, many times; after each, the repair
// of the next start runs and GStreamer's discoverer opens what is left.
// Prints kills tried, clips playable, clips moved aside and the most seconds
// lost, and fails when a kill lost more than the fragments allow.
//
// Usage: stirwatch_event_crash_bench [KILLS [h264|vp8 [SEED]]]   (default 200 h264)

#include "tests/events/CrashLoop.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
    gst_init(nullptr, nullptr);
    const int kills = argc > 1 ? std::atoi(argv[1]) : 200;
    const char* codec = argc > 2 ? argv[2] : "h264";
    const std::uint32_t seed = argc > 3
                                   ? static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10))
                                   : std::random_device{}();
    std::printf("%d kills of a %s recorder, 0 to 3 s into its event (seed %u)\n", kills, codec,
                seed);
    const TCrashFigures figures =
        KillAtRandomMoments(RECORD_CHILD, kills, std::chrono::milliseconds(3000), codec, seed);
    std::printf("kills tried:        %d\n", figures.Kills);
    std::printf("clips playable:     %d\n", figures.Playable);
    std::printf("moved aside:        %d (killed at most %.2f s into the event)\n",
                figures.MovedAside, figures.LongestKilledAt);
    std::printf("unexplained:        %d %s\n", figures.Unexplained, figures.Notes.c_str());
    std::printf("most seconds lost:  %.2f\n", figures.MostSecondsLost);
    // Fragments of about a second: at most the fragment being written and the
    // frames still in the encoder are lost, and only an event killed within
    // its first fragment leaves nothing. Timed on the wall clock: meaningful
    // on a quiet machine only.
    const bool withinFragments = figures.MostSecondsLost <= 2.0 && figures.LongestKilledAt <= 2.0;
    std::printf("within the fragments' bound (2 s): %s\n", withinFragments ? "yes" : "NO");
    return figures.Unexplained == 0 && withinFragments ? 0 : 1;
}
