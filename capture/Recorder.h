#pragma once
// Streaming capture to a file: a pipeline of its own, fed with the frames of
// the connected source, that encodes them as motion JPEG into an AVI file.

#include "capture/GstSupport.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class TRecorder {
public:
    // A running recorder writing `fileName` at `framesPerSecond`; null when it cannot start.
    static std::unique_ptr<TRecorder> Start(const std::string& fileName, int framesPerSecond);
    // Ends the file properly: end of stream through the muxer, then the pipeline stops.
    void Finish();
    ~TRecorder() { Finish(); }
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Queues one frame; called on the source's streaming thread.
    void Push(GstBuffer* frame, GstCaps* caps);
    // Frames encoded so far.
    std::uint64_t Frames() const { return FFrames.load(); }

private:
    TRecorder() = default;
    static GstPadProbeReturn CountFrame(GstPad*, GstPadProbeInfo*, gpointer self);

    TGstPtr<GstElement> FPipeline;
    TGstPtr<GstElement> FInput;
    std::atomic<std::uint64_t> FFrames{0};
};
