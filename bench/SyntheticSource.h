#pragma once
// What the capture and frame-step benchmarks share: a camera that hands out
// prepared frames at once (so a measurement is of the grab, not of waiting for
// a camera), and idle-waiting helpers for CPU-use measurements.

#include "capture/CaptureWindow.h"
#include "capture/VFWInterUnit.h"

#include <QEventLoop>
#include <QImage>
#include <QTimer>

#include <ctime>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// Cycles through its frames, one new frame per grab.
class TSyntheticDriver final : public TVideoDriver {
public:
    explicit TSyntheticDriver(std::vector<QImage> frames) : FFrames(std::move(frames)) {}
    bool Start() override { return true; }
    void Stop() override {}
    void SetFrameNotifier(std::function<void()>) override {}
    std::uint64_t NewestFrameNumber() const override { return FNumber; }
    bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds) override {
        FNumber = after + 1;
        return true;
    }
    std::uint64_t WithNewestFrame(const std::function<void(const QImage&)>& use) override {
        use(FFrames[FNumber % FFrames.size()]);
        return FNumber;
    }
    std::vector<TDriverStatus> TakeStatus() override { return {}; }
    std::vector<TVideoFormat> Formats() const override { return {}; }
    TVideoFormat CurrentFormat() const override { return {}; }
    bool SetFormat(const TVideoFormat&) override { return false; }
    void AddSourceControls(QWidget*, QFormLayout*) override {}
    bool StartRecording(const std::string&, int) override { return false; }
    void StopRecording() override {}
    bool Recording() const override { return false; }
    std::uint64_t RecordedFrames() const override { return 0; }

private:
    std::vector<QImage> FFrames;
    std::uint64_t FNumber = 0;
};

// One driver, at index 0.
class TSyntheticCatalog final : public TDriverCatalog {
public:
    TSyntheticCatalog(std::string name, std::vector<QImage> frames)
        : FName(std::move(name)), FFrames(std::move(frames)) {}
    void Refresh() override {}
    int Count() const override { return 1; }
    TDriverDescription Describe(int) const override { return {FName, "1"}; }
    std::unique_ptr<TVideoDriver> Open(int index) override {
        return index == 0 ? std::make_unique<TSyntheticDriver>(FFrames) : nullptr;
    }

private:
    std::string FName;
    std::vector<QImage> FFrames;
};

// Runs the event loop, idle between events, for the given time.
inline void RunEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

// CPU time of the whole process, all threads, in seconds.
inline double ProcessCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
