#include "capture/PipelineWorker.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

struct TPipelineWorker::TState {
    using TClock = std::chrono::steady_clock;
    struct TJob {
        TClock::time_point Due;
        std::function<void()> Run;
    };
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<TJob> Jobs; // ordered by due time
    bool Finishing = false;
    bool Done = false;

    void Loop() {
        std::unique_lock lock(Mutex);
        while (true) {
            if (Jobs.empty()) {
                if (Finishing) {
                    break;
                }
                Changed.wait(lock);
                continue;
            }
            const auto due = Jobs.front().Due;
            if (TClock::now() < due) {
                Changed.wait_until(lock, due);
                continue;
            }
            std::function<void()> job = std::move(Jobs.front().Run);
            Jobs.pop_front();
            lock.unlock();
            job();
            job = nullptr; // releases what the job held before the lock is taken again
            lock.lock();
        }
        Done = true;
        Changed.notify_all();
    }
};

TPipelineWorker::TPipelineWorker() : FState(std::make_shared<TState>()) {
    std::thread([state = FState] { state->Loop(); }).detach();
}

TPipelineWorker::~TPipelineWorker() {
    Finish(std::chrono::milliseconds(0));
}

void TPipelineWorker::Post(std::function<void()> job, std::chrono::milliseconds delay) {
    std::lock_guard lock(FState->Mutex);
    if (FState->Finishing) {
        return;
    }
    const auto due = TState::TClock::now() + delay;
    auto place = FState->Jobs.end();
    while (place != FState->Jobs.begin() && std::prev(place)->Due > due) {
        --place;
    }
    FState->Jobs.insert(place, {due, std::move(job)});
    FState->Changed.notify_all();
}

void TPipelineWorker::Finish(std::chrono::milliseconds grace) {
    std::deque<TState::TJob> dropped;
    std::unique_lock lock(FState->Mutex);
    if (!FState->Finishing) {
        FState->Finishing = true;
        const auto now = TState::TClock::now();
        while (!FState->Jobs.empty() && FState->Jobs.back().Due > now) {
            dropped.push_front(std::move(FState->Jobs.back()));
            FState->Jobs.pop_back();
        }
        FState->Changed.notify_all();
    }
    // What the dropped jobs hold is released outside the lock.
    lock.unlock();
    dropped.clear();
    lock.lock();
    const std::shared_ptr<TState> state = FState;
    state->Changed.wait_for(lock, grace, [&state] { return state->Done; });
}
