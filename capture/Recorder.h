#pragma once
// Streaming capture to a file: a pipeline of its own that encodes frames of
// the connected source as motion JPEG into an AVI file.
//
// The source's streaming thread offers every frame; the recorder keeps only
// the newest one (a reference, no copy). The GUI thread admits one frame per
// capture interval, and only once the frame before it has been handed to the
// file: at most one frame is ever in flight, whatever the disk does, and a
// count reported between two admissions is exactly what the file will hold.

#include "capture/GstSupport.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

class TRecorder {
public:
    // A running recorder writing `fileName` at `framesPerSecond`; null when it
    // cannot start, with the reason in `error`.
    static std::unique_ptr<TRecorder> Start(const std::string& fileName, int framesPerSecond,
                                            std::string& error);
    // Ends the file properly: end of stream through the muxer, then the pipeline stops.
    void Finish();
    ~TRecorder() { Finish(); }
    TRecorder(const TRecorder&) = delete;
    TRecorder& operator=(const TRecorder&) = delete;

    // Keeps the frame as the newest one; called on the source's streaming thread.
    void Offer(GstBuffer* frame, GstCaps* caps);
    // GUI thread: moves the newest frame into the file when the one before it is
    // written; counts it as dropped when the file is still busy.
    void AdmitNewest();
    // Frames handed to the file so far.
    std::uint64_t Frames() const { return FWritten.load(); }
    std::uint64_t Dropped() const { return FDropped; }
    // GUI thread: why the recording failed (write error, disk full), empty while it is fine.
    std::string Error();

private:
    TRecorder() = default;
    static GstPadProbeReturn CountWritten(GstPad*, GstPadProbeInfo*, gpointer self);
    // Takes the first error off the pipeline's bus, if there is one.
    void ReadBus();

    TGstPtr<GstElement> FPipeline;
    TGstPtr<GstElement> FInput;
    TGstPtr<GstElement> FSizeFilter;
    std::string FFileName;
    int FRate = 15;
    GstClockTime FInterval = 0;

    std::mutex FNewestMutex;
    TBufferPtr FNewestBuffer;
    TCapsPtr FNewestCaps;

    TCapsPtr FSourceCaps; // as the source sent them
    TCapsPtr FInputCaps;  // as the recorder's input gets them
    std::chrono::steady_clock::time_point FAdmittedAt;
    std::uint64_t FAdmitted = 0;
    std::uint64_t FDropped = 0;
    std::atomic<std::uint64_t> FWritten{0};
    std::string FError;
};
