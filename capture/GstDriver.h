#pragma once
// The GStreamer driver: one pipeline per connected source, ending in an
// appsink of BGR frames; the newest frame is handed to the capture window,
// the frame size and rate are chosen in the pipeline, and the source's own
// controls are offered to the source dialog.

#include "capture/GstSupport.h"
#include "capture/Recorder.h"
#include "capture/VideoDriver.h"

#include <gst/app/gstappsink.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

enum class TSourceKind { TestScene, File, Url, Launch, Camera };

// One video source of the machine, as the catalogue found it.
struct TSource {
    TSourceKind Kind = TSourceKind::TestScene;
    std::string Name;
    std::string Location; // file path, URL or launch description
    std::shared_ptr<GstDevice> Device;
};

class TGstDriver final : public TVideoDriver {
public:
    explicit TGstDriver(TSource source) : FSource(std::move(source)) {}
    ~TGstDriver() override { Stop(); }

    bool Start() override;
    void Stop() override;
    void SetFrameNotifier(std::function<void()> notify) override { FNotify = std::move(notify); }
    void SetFrameTap(TFrameTap* tap) override;
    std::uint64_t NewestFrameNumber() const override { return FNumber.load(); }
    bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds timeout) override;
    std::uint64_t WithNewestFrame(const std::function<void(const QImage&)>& use) override;
    std::vector<TDriverStatus> TakeStatus() override;
    std::vector<TVideoFormat> Formats() const override;
    TVideoFormat CurrentFormat() const override;
    bool SetFormat(const TVideoFormat& format) override;
    void AddSourceControls(QWidget* dialog, QFormLayout* layout) override;
    bool StartRecording(const std::string& fileName, int framesPerSecond) override;
    void StopRecording() override;
    bool Recording() const override { return FRecorder != nullptr; }
    std::uint64_t RecordedFrames() const override;
    void RecordNewestFrame() override;
    std::uint64_t DroppedFrames() const override;
    std::string RecordingError() override;

private:
    bool Build();
    QString Description() const;
    void PollBus();
    void OnSample(GstAppSink* sink);
    static GstFlowReturn NewSample(GstAppSink* sink, gpointer self);

    TSource FSource;
    TGstPtr<GstElement> FPipeline;
    TGstPtr<GstElement> FSink;
    TGstPtr<GstElement> FFormatFilter;
    TGstPtr<GstElement> FSourceElement;
    TVideoFormat FFormat;
    bool FLooping = true;
    bool FFailed = false;
    std::vector<TDriverStatus> FStatus;
    std::function<void()> FNotify;

    mutable std::mutex FMutex;
    std::condition_variable FFrameArrived;
    // The newest frame, kept as buffer and caps: holding appsink's sample
    // object itself would stop appsink from reusing it.
    TBufferPtr FNewestBuffer;
    TCapsPtr FNewestCaps;
    std::atomic<std::uint64_t> FNumber{0};

    // Held while a frame is handed to the tap, so that a removed tap is never called again.
    std::mutex FTapMutex;
    TFrameTap* FTap = nullptr;

    // Written on the GUI thread only; read under the mutex on the streaming thread.
    std::mutex FRecorderMutex;
    std::unique_ptr<TRecorder> FRecorder;
    std::uint64_t FLastRecorded = 0;
    std::uint64_t FLastDropped = 0;
    std::string FRecordingError;
};
