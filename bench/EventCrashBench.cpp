// How much of an event survives a crash: a recorder process is killed with
// SIGKILL at random moments of its event, many times; after each, the repair
// of the next start runs and GStreamer's discoverer opens what is left.
// Prints kills tried, clips playable, clips moved aside and the most seconds
// lost.
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
    return figures.Unexplained == 0 ? 0 : 1;
}
