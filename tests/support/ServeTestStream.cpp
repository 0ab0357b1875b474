// The test servers as a program of their own, for trying the program by hand
// against a camera that comes and goes:
//   serve_test_stream rtsp|http [UP DOWN]
// prints the address and serves until its standard input ends or gives a line.
// With UP and DOWN (seconds) the server stops after UP seconds and starts again
// on the same port DOWN seconds later, over and over.
#include "tests/support/MjpegHttpServer.h"
#include "tests/support/RtspTestServer.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>

namespace {

std::atomic<bool> Finished{false};

// Sleeps `seconds`, less when the server is to finish.
void Pause(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (!Finished && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

template <class TServer> int Serve(TServer& server, double up, double down) {
    server.Start();
    std::printf("%s\n", server.Url().c_str());
    std::fflush(stdout);
    for (int round = 1; up > 0 && !Finished; ++round) {
        Pause(up);
        server.Stop();
        Pause(down);
        server.Start();
        std::printf("restarted %d\n", round);
        std::fflush(stdout);
    }
    while (!Finished) {
        Pause(1);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const bool rtsp = argc >= 2 && std::strcmp(argv[1], "rtsp") == 0;
    const bool http = argc >= 2 && std::strcmp(argv[1], "http") == 0;
    if (!rtsp && !http) {
        std::fprintf(stderr, "usage: %s rtsp|http [UP DOWN]\n", argv[0]);
        return 2;
    }
    const double up = argc >= 4 ? std::atof(argv[2]) : 0;
    const double down = argc >= 4 ? std::atof(argv[3]) : 0;
    std::thread([] {
        std::string line;
        std::getline(std::cin, line);
        Finished = true;
    }).detach();
    try {
        if (rtsp) {
            TRtspTestServer server;
            return Serve(server, up, down);
        }
        TMjpegHttpServer server(TMjpegMode::Multipart, 640, 480, 15);
        return Serve(server, up, down);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
