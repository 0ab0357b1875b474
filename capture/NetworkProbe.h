#pragma once
// Whether a TCP server answers: tells a refused connection from one that
// times out, which GStreamer's network sources do not always say.

#include <chrono>
#include <string>

enum class TReachability { Open, Refused, TimedOut, Unknown };

// Tries to connect to `host`:`port` within `timeout`; blocks the calling thread.
TReachability ProbeTcp(const std::string& host, int port, std::chrono::milliseconds timeout);
