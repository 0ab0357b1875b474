#pragma once
// Waiting in tests and benchmarks with the event loop running.

#include <functional>

// Runs the event loop, idle between events, for the given time.
void RunEventsFor(int milliseconds);

// Runs the event loop until `done` holds, checking it at least every 10 ms; false
// when it did not hold within the given time.
bool RunEventsUntil(const std::function<bool()>& done, int milliseconds);
