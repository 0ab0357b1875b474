#pragma once
// What the capture and frame-step benchmarks share beyond the capture tests'
// fake camera (which hands out prepared frames at once, so that a measurement
// is of the grab, not of waiting for a camera) and event-loop helpers: the
// CPU time of the process, for CPU-use measurements.

#include "EventLoop.h"
#include "FakeCamera.h"

#include <ctime>

// CPU time of the whole process, all threads, in seconds.
inline double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
