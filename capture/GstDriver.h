#pragma once
// The GStreamer driver: one pipeline per connected source. Making the
// pipeline, connecting, negotiating, looping, reconnecting and shutting down
// run on a worker thread of the driver's own; decoded frames reach the capture window through a
// frame exchange; the frame size and rate are chosen inside the pipeline, so
// a format change never restarts the source.

#include "capture/SourcePipeline.h"
#include "capture/VideoDriver.h"

#include <atomic>
#include <memory>
#include <string>

class TFrameExchange;
struct TSourceSession;

class TGstDriver final : public TVideoDriver {
public:
    explicit TGstDriver(TSource source);
    ~TGstDriver() override;

    bool Start() override;
    void Stop() override;
    void SetFrameNotifier(std::function<void()> notify) override;
    void SetStatusNotifier(std::function<void()> notify) override;
    void SetFrameTap(TFrameTap* tap) override;
    std::uint64_t NewestFrameNumber() const override;
    bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit) override;
    std::uint64_t WithNewestFrame(const std::function<void(const QImage&)>& use) override;
    std::uint64_t WithNewestView(const std::function<void(const TFrameView&)>& use) override;
    std::uint64_t CopyNewestFrame(QImage& target) override;
    std::vector<TDriverStatus> TakeStatus() override;
    TSourceSignal Signal() const override;
    void Watch() override;
    std::vector<TVideoFormat> Formats() const override;
    TVideoFormat CurrentFormat() const override;
    bool SetFormat(const TVideoFormat& format) override;
    void AddSourceControls(QWidget* dialog, QFormLayout* layout) override;
    bool StartRecording(const std::string& fileName, int framesPerSecond) override;
    void StopRecording() override;
    bool Recording() const override;
    std::uint64_t RecordedFrames() const override;
    void RecordNewestFrame() override;
    std::uint64_t DroppedFrames() const override;
    std::string RecordingError() override;
    bool Absent() const override;
    std::string FoundName() const override;

    // The pipeline's element named "src" once it is made (null before), for tools
    // and tests that look into the running pipeline.
    TGstPtr<GstElement> SourceElement() const;

private:
    TSource FSource;
    std::shared_ptr<TFrameExchange> FExchange;
    std::shared_ptr<TSourceSession> FSession;
    std::shared_ptr<std::atomic<bool>> FLooping;
    TVideoFormat FFormat;
    std::uint64_t FLastRecorded = 0;
    std::uint64_t FLastDropped = 0;
    std::string FRecordingError;
};
