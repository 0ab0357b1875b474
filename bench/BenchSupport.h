#pragma once
// What every benchmark program shares: the run of the registered Google
// Benchmark cases with the program's defaults, the offscreen platform for
// the programs with widgets, and the CPU-time clocks of the measurements.

#include <benchmark/benchmark.h>

#include <functional>

// Runs the benchmarks registered so far with Google Benchmark's command line.
// When the command line names no option, each case runs `repetitions` times
// and only the aggregates (mean, median, deviation) are reported. `reporter`
// (the console's when null) sees every result. False, after saying which,
// when the command line holds an argument Google Benchmark does not know.
bool RunBenchmarks(int argc, char** argv, int repetitions = 1,
                   benchmark::BenchmarkReporter* reporter = nullptr);

// Widgets are drawn offscreen unless QT_QPA_PLATFORM names a platform; call
// before the application object is made.
void UseOffscreenUnlessSet();

// CPU time of the whole process (all threads), and of the calling thread, in
// seconds.
double ProcessCpuSeconds();
double ThreadCpuSeconds();

// The process's CPU use while `run` runs: per cent of one core per wall
// second, and the wall seconds it took.
struct TCpuUse {
    double Percent = 0;
    double Seconds = 0;
};
TCpuUse MeasureCpu(const std::function<void()>& run);
