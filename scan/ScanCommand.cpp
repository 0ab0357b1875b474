#include "scan/ScanCommand.h"

#include "scan/FileScan.h"
#include "scan/ScanClips.h"
#include "scan/ScanOptions.h"
#include "scan/ScanOutputs.h"
#include "scan/ScanPlot.h"
#include "scan/ScanProgress.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <optional>
#include <set>
#include <thread>
#include <unistd.h>

namespace {

struct TFileJob {
    std::string Path;
    TOutputNames Names;
    std::vector<TScanEvent> Events;
    // One per event with --clips.
    std::vector<TEventClip> Clips;
    std::string Failure;
};

// Output names per file; a name already taken by an earlier file gets "-2",
// "-3"... so that two recordings of the same name do not overwrite each other.
std::vector<TFileJob> PlanJobs(const TScanOptions& options) {
    std::vector<TFileJob> jobs;
    std::set<std::string> taken;
    for (const std::string& path : options.Files) {
        TOutputNames names = OutputNamesFor(options.OutputFolder, path);
        for (int serial = 2; taken.count(names.ClipStem) != 0; ++serial) {
            names =
                OutputNamesFor(options.OutputFolder, std::filesystem::path(path).stem().string() +
                                                         "-" + std::to_string(serial));
        }
        taken.insert(names.ClipStem);
        jobs.push_back({path, names, {}, {}, {}});
    }
    return jobs;
}

void WriteResults(TFileJob& job, const TScanOptions& options, const TFileScan& scan) {
    job.Events = FindEvents(scan.Steps, options.Events, scan.VideoEndNs);
    const std::vector<TScanEvent>& events = job.Events;
    WriteWholeFile(job.Names.Log, MovementLogText(scan.Steps, scan.Creation));
    if (options.Clips) {
        job.Clips = CutEventClips(job.Path, events, job.Names.ClipStem);
    }
    WriteWholeFile(job.Names.EventsCsv, EventsCsv(events, job.Clips));
    TEventsHeader header{job.Path, options.Settings.PixelTolerance,
                         options.Settings.MinimalMovement, options.Settings.StepNs,
                         scan.VideoEndNs};
    WriteWholeFile(job.Names.EventsJson, EventsJson(header, events, job.Clips));
    if (options.Plot) {
        const std::string title = std::filesystem::path(job.Path).filename().string();
        const std::string subtitle =
            "Pixel Tolerance " + std::to_string(options.Settings.PixelTolerance) +
            ", Minimal Movement " + std::to_string(options.Settings.MinimalMovement) +
            " px, step " +
            (options.Settings.StepNs > 0 ? std::to_string(options.Settings.StepNs / 1000000) + " ms"
                                         : std::string("every frame")) +
            "; " + std::to_string(events.size()) + " event" + (events.size() == 1 ? "" : "s") +
            " (shaded)";
        WritePlot(job.Names.Plot, {title, subtitle, scan.Steps, events, scan.VideoEndNs});
    }
}

void RunJob(TFileJob& job, const TScanOptions& options, TScanProgress& progress) {
    const TFileScan scan = ScanFile(job.Path, options.Settings, progress);
    job.Failure = scan.Failure;
    if (scan.FramesSeen == 0) {
        return;
    }
    try {
        WriteResults(job, options, scan);
    } catch (const std::exception& error) {
        job.Failure = error.what();
    }
}

int JobCount(const TScanOptions& options, std::size_t files) {
    const int cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    const int wanted = options.Jobs > 0 ? options.Jobs : cores;
    return std::max(1, std::min(wanted, static_cast<int>(files)));
}

void RunJobs(std::vector<TFileJob>& jobs, const TScanOptions& options) {
    std::deque<TScanProgress> progress(jobs.size());
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        std::error_code error;
        const std::uintmax_t bytes = std::filesystem::file_size(jobs[i].Path, error);
        progress[i].Weight = error ? 1.0 : std::max(1.0, double(bytes));
    }
    std::atomic<std::size_t> next{0};
    std::atomic<int> running{JobCount(options, jobs.size())};
    std::vector<std::thread> workers;
    for (int i = running.load(); i > 0; --i) {
        workers.emplace_back([&] {
            for (std::size_t job = next++; job < jobs.size(); job = next++) {
                RunJob(jobs[job], options, progress[job]);
            }
            --running;
        });
    }
    std::vector<std::string> names;
    for (const TFileJob& job : jobs) {
        names.push_back(std::filesystem::path(job.Path).filename().string());
    }
    TProgressDisplay display(stderr, isatty(STDERR_FILENO) != 0, names, progress);
    while (running.load() > 0) {
        if (!options.Quiet) {
            display.Update();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (std::thread& worker : workers) {
        worker.join();
    }
    if (!options.Quiet) {
        display.Update();
        display.Finish();
    }
}

// A line per clip on the standard output; a clip that could not be written
// on the standard error. Returns the number of those.
int ReportClips(const TFileJob& job) {
    int failed = 0;
    for (std::size_t i = 0; i < job.Clips.size(); ++i) {
        const TEventClip& clip = job.Clips[i];
        const TScanEvent& event = job.Events[i];
        const std::string span = SecondsText(clip.StartNs) + "-" + SecondsText(clip.EndNs) + " s";
        if (clip.Path.empty()) {
            ++failed;
            std::fprintf(stderr, "stirwatch scan: %s: no clip of event %zu (%s-%s s): %s\n",
                         job.Path.c_str(), i + 1, SecondsText(event.StartNs).c_str(),
                         SecondsText(event.EndNs).c_str(), clip.Why.c_str());
        } else if (!clip.Copied) {
            std::printf("  %s: %s, re-encoded (%s)\n", clip.Path.c_str(), span.c_str(),
                        clip.Why.c_str());
        } else if (clip.StartNs < event.StartNs) {
            std::printf("  %s: %s, copied; starts %s s early, at a key frame\n", clip.Path.c_str(),
                        span.c_str(), SecondsText(event.StartNs - clip.StartNs).c_str());
        } else {
            std::printf("  %s: %s, copied\n", clip.Path.c_str(), span.c_str());
        }
    }
    return failed;
}

int Report(const std::vector<TFileJob>& jobs) {
    int failed = 0;
    int failedClips = 0;
    for (const TFileJob& job : jobs) {
        if (!job.Failure.empty()) {
            ++failed;
            std::fprintf(stderr, "stirwatch scan: %s: %s\n", job.Path.c_str(), job.Failure.c_str());
            continue;
        }
        std::printf("%s: %zu event%s -> %s\n", job.Path.c_str(), job.Events.size(),
                    job.Events.size() == 1 ? "" : "s", job.Names.EventsCsv.c_str());
        failedClips += ReportClips(job);
    }
    if (failed > 0) {
        std::fprintf(stderr, "stirwatch scan: %d of %zu files failed\n", failed, jobs.size());
    }
    if (failedClips > 0) {
        std::fprintf(stderr, "stirwatch scan: %d clip%s could not be written\n", failedClips,
                     failedClips == 1 ? "" : "s");
    }
    std::fflush(stdout);
    return failed > 0 || failedClips > 0 ? 1 : 0;
}

} // namespace

int RunScanCommand(const std::vector<std::string>& arguments) {
    TScanOptions options;
    TScanSettings defaults;
    try {
        defaults = StoredScanSettings();
    } catch (const std::exception& error) {
        std::fprintf(stderr,
                     "stirwatch scan: the stored settings cannot be read (%s); "
                     "using the built-in defaults\n",
                     error.what());
    }
    try {
        options = ParseScanOptions(arguments, defaults);
    } catch (const EUsageError& error) {
        std::fprintf(stderr, "stirwatch scan: %s\nTry \"stirwatch scan --help\".\n", error.what());
        return 2;
    }
    if (options.Help) {
        std::fputs(ScanHelpText(defaults).c_str(), stdout);
        return 0;
    }
    std::error_code error;
    std::filesystem::create_directories(options.OutputFolder, error);
    if (!std::filesystem::is_directory(options.OutputFolder)) {
        std::fprintf(stderr, "stirwatch scan: the output folder %s cannot be made: %s\n",
                     options.OutputFolder.c_str(), error.message().c_str());
        return 1;
    }
    std::vector<TFileJob> jobs = PlanJobs(options);
    std::optional<TPlotSupport> plotting;
    if (options.Plot) {
        plotting.emplace();
    }
    RunJobs(jobs, options);
    return Report(jobs);
}
