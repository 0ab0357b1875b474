// A recorder in a process of its own, for the crash tests: a live test
// source, movement five times a second, so one event that never ends.
// Prints "recording <pre-roll ns> <path>" once the event has started; a
// SIGTERM ends it cleanly ("finished" is printed once the recorder has
// finished the clip); a SIGKILL may come at any moment.
//
// Usage: event_record_child FOLDER h264|vp8

#include "events/EventRecorder.h"

#include "EventTestSupport.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER h264|vp8\n", argv[0]);
        return 2;
    }
    // SIGTERM is taken by sigtimedwait below, never by a handler.
    sigset_t quit;
    sigemptyset(&quit);
    sigaddset(&quit, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &quit, nullptr);
    gst_init(nullptr, nullptr);

    TEventSettings settings;
    settings.Folder = argv[1];
    settings.PreRollSeconds = 0.5;
    settings.PostRollSeconds = 60;
    settings.PreferH264 = std::string(argv[2]) == "h264";
    {
        TEventRecorder recorder(settings, [](const TEventStatus& status) {
            if (status.Kind == TEventStatus::Recording) {
                std::printf("recording %llu %s\n", static_cast<unsigned long long>(status.PreRoll),
                            status.Path.c_str());
                std::fflush(stdout);
            }
        });
        TLiveTestSource source(320, 240, 30,
                               [&](GstSample* sample) { recorder.OnSourceFrame(sample); });
        const timespec tick{0, 200'000'000};
        while (sigtimedwait(&quit, nullptr, &tick) != SIGTERM) {
            if (recorder.PreRollBytes() > 0) {
                recorder.Movement();
            }
        }
        source.Stop();
    }
    std::printf("finished\n");
    return 0;
}
