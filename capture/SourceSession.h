#pragma once
// One connected source's pipeline, shared by the driver, the pipeline's
// threads and the driver's worker: made (after looking for the camera, for a
// driver of the first camera), started, paused for a retry and torn down on
// the worker thread; sizes asked for from the GUI thread. What goes wrong
// with it is its faults' job.

#include "capture/GstSupport.h"
#include "capture/SourceFaults.h"
#include "capture/SourcePipeline.h"

#include <QString>

#include <atomic>
#include <memory>
#include <mutex>

class TFrameExchange;
class TIncomingLimit;
class TPipelineWorker;

struct TSourceSession : std::enable_shared_from_this<TSourceSession> {
    TSource Source;
    QString Name;
    TGstPtr<GstElement> Pipeline; // made, used and torn down on the worker thread
    std::shared_ptr<TFrameExchange> Exchange;
    std::shared_ptr<TPipelineWorker> Worker;
    std::shared_ptr<TIncomingLimit> Incoming; // null for sources without one
    std::shared_ptr<std::atomic<bool>> Looping;
    std::atomic<bool> Stopped{false};
    std::atomic<bool> Absent{false}; // the camera looked for is not there
    TSourceFaults Faults{*this};

    // Worker thread.
    void Build();
    void Play();
    void TearDown();
    // Back to the start of a file that loops.
    void SeekToStart();
    // The connection is dropped until a retry plays it again.
    void Pause();
    // GUI thread: the size asked for goes to the pipeline now, or when it is made.
    void SetCaps(TCapsPtr caps);
    TGstPtr<GstElement> SourceElementRef();
    // The camera found for a driver of the first camera, else `source`.
    TSource FoundOr(const TSource& source);

private:
    bool FindCamera();

    std::mutex Mutex; // guards the fields below
    // Set on the worker once the pipeline is made, for the GUI thread's requests.
    TGstPtr<GstElement> FormatFilter;
    TGstPtr<GstElement> SourceElement;
    TCapsPtr WantedCaps; // a format asked for before the pipeline was made
    TSource Found;       // the camera found for a driver of the first camera
};
