#pragma once
// A thread of its own for the slow requests to one pipeline: starting it,
// stopping it, looping a file, reconnecting after a back-off. The GUI thread
// only posts; nothing it does waits for a network or a device.

#include <chrono>
#include <functional>
#include <memory>

class TPipelineWorker {
public:
    TPipelineWorker();
    // Drops the delayed jobs, lets the thread finish the jobs already due and end
    // by itself; waits for that at most `grace`.
    ~TPipelineWorker();
    TPipelineWorker(const TPipelineWorker&) = delete;
    TPipelineWorker& operator=(const TPipelineWorker&) = delete;

    // Runs `job` on the worker thread after `delay`, in order of due time.
    void Post(std::function<void()> job, std::chrono::milliseconds delay = {});
    // Ends the worker as its destructor does, waiting at most `grace` for the due jobs.
    void Finish(std::chrono::milliseconds grace);

private:
    struct TState;
    std::shared_ptr<TState> FState;
};
