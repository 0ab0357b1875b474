#include "bench/BenchSupport.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

bool RunBenchmarks(int argc, char** argv, int repetitions, benchmark::BenchmarkReporter* reporter) {
    std::vector<char*> arguments(argv, argv + argc);
    std::string repeat = "--benchmark_repetitions=" + std::to_string(repetitions);
    std::string aggregatesOnly = "--benchmark_report_aggregates_only=true";
    if (argc == 1 && repetitions > 1) {
        arguments.push_back(repeat.data());
        arguments.push_back(aggregatesOnly.data());
    }
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    if (benchmark::ReportUnrecognizedArguments(count, arguments.data())) {
        return false;
    }
    benchmark::RunSpecifiedBenchmarks(reporter);
    benchmark::Shutdown();
    return true;
}

void UseOffscreenUnlessSet() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform == nullptr || *platform == '\0') {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
}

namespace {

double ClockSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

} // namespace

double ProcessCpuSeconds() {
    return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

double ThreadCpuSeconds() {
    return ClockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

TCpuUse MeasureCpu(const std::function<void()>& run) {
    const double cpuBefore = ProcessCpuSeconds();
    const auto wallBefore = std::chrono::steady_clock::now();
    run();
    TCpuUse use;
    use.Seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - wallBefore).count();
    use.Percent = use.Seconds > 0 ? 100.0 * (ProcessCpuSeconds() - cpuBefore) / use.Seconds : 0;
    return use;
}
