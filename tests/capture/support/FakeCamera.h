#pragma once
// A stand-in camera at the hardware edge, for what no real source can show
// (drivers that refuse, a driver without a sequence setup, status texts on
// demand) and for measurements of the grab alone: it hands out prepared
// frames at once, one new frame per grab.

#include "capture/VideoDriver.h"

#include <QImage>

#include <memory>
#include <string>
#include <vector>

// What the fake drivers were asked, and status events they are to report.
struct TFakeCameraLog {
    std::vector<int> Opened;
    int RecordingStops = 0;
    std::vector<TDriverStatus> PendingStatus;
};

struct TFakeCamera {
    std::string Name;
    bool Refuse = false;        // Start fails
    bool WithSetup = true;      // answers the sequence setup requests
    std::vector<QImage> Frames; // cycled; empty: one 8 x 6 red frame
};

class TFakeDriver final : public TVideoDriver {
public:
    TFakeDriver(TFakeCamera camera, TFakeCameraLog* log);
    bool Start() override { return !FCamera.Refuse; }
    void Stop() override {}
    void SetFrameNotifier(std::function<void()>) override {}
    std::uint64_t NewestFrameNumber() const override { return FNumber; }
    bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds) override;
    std::uint64_t WithNewestFrame(const std::function<void(const QImage&)>& use) override;
    std::vector<TDriverStatus> TakeStatus() override;
    bool SupportsSequenceSetup() const override { return FCamera.WithSetup; }
    std::vector<TVideoFormat> Formats() const override { return {}; }
    TVideoFormat CurrentFormat() const override { return {}; }
    bool SetFormat(const TVideoFormat&) override { return false; }
    void AddSourceControls(QWidget*, QFormLayout*) override {}
    bool StartRecording(const std::string&, int) override { return FRecording = true; }
    void StopRecording() override;
    bool Recording() const override { return FRecording; }
    std::uint64_t RecordedFrames() const override { return 0; }

private:
    TFakeCamera FCamera;
    TFakeCameraLog* FLog;
    bool FRecording = false;
    std::uint64_t FNumber = 0;
};

// Drivers 0 .. n-1 for the given cameras.
class TFakeCatalog final : public TDriverCatalog {
public:
    explicit TFakeCatalog(std::vector<TFakeCamera> cameras, TFakeCameraLog* log = nullptr);
    // `count` cameras named "Fake camera N"; `refusing` and `withoutSetup` name the odd ones.
    static std::unique_ptr<TFakeCatalog> Numbered(int count, const std::vector<int>& refusing,
                                                  const std::vector<int>& withoutSetup,
                                                  TFakeCameraLog* log);
    // One camera cycling through `frames`.
    static std::unique_ptr<TFakeCatalog> Single(std::string name, std::vector<QImage> frames);

    void Refresh() override {}
    int Count() const override { return static_cast<int>(FCameras.size()); }
    TDriverDescription Describe(int index) const override;
    std::unique_ptr<TVideoDriver> Open(int index) override;

private:
    std::vector<TFakeCamera> FCameras;
    TFakeCameraLog* FLog;
};
