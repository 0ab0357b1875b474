#pragma once
// A target (a callback, a receiver) that streaming threads call without any
// lock held during the call, and that the owner replaces safely: Set waits
// until no call of the target it replaces is running, so once it returns the
// old target receives no further call. Calls may run on several threads at
// once; neither a call nor a Set allocates, and a call wakes nobody unless a
// Set waits for it.
//
// A target must not replace itself from inside its own call: Set would wait
// for the very call it runs in, forever, and the target it destroys would be
// the one running. Such a Set fails at once (an assertion in debug builds, a
// std::logic_error otherwise) instead of hanging a streaming thread.

#include <cassert>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace CallGateDetail {
// The gates whose calls run on this thread, innermost first: a chain of
// records on the callers' stacks.
struct TCallOnThread {
    const void* Gate;
    const TCallOnThread* Outer;
};
inline thread_local const TCallOnThread* InnermostCall = nullptr;
} // namespace CallGateDetail

template <class T> class TCallGate {
public:
    // Replaces the target (a null one: nobody is called) once no call of the
    // old one runs. Throws std::logic_error when called from inside a call
    // of this gate.
    void Set(T target) {
        if (CallsOnThisThread()) {
            assert(!"a call gate's target replaced from inside its own call");
            throw std::logic_error("A call gate's target was replaced from inside its own call, "
                                   "which would wait for itself forever");
        }
        std::unique_lock lock(FMutex);
        ++FWaiting;
        FIdle.wait(lock, [this] { return FRunning == 0; });
        --FWaiting;
        FTarget = std::move(target);
    }

    // Calls `use(target)` when there is a target; false, without a call, when there is none.
    template <class Use> bool Call(Use&& use) {
        {
            const std::lock_guard lock(FMutex);
            if (!FTarget) {
                return false;
            }
            ++FRunning;
        }
        // The target cannot change while FRunning counts this call.
        const TDone done(*this);
        std::forward<Use>(use)(FTarget);
        return true;
    }

    // Whether a Set waits now for calls to end.
    bool SetWaits() {
        const std::lock_guard lock(FMutex);
        return FWaiting > 0;
    }

private:
    bool CallsOnThisThread() const {
        for (auto* call = CallGateDetail::InnermostCall; call != nullptr; call = call->Outer) {
            if (call->Gate == this) {
                return true;
            }
        }
        return false;
    }

    // Counts the call out when it ends, and wakes a waiting Set when it was
    // the last one running.
    class TDone {
    public:
        explicit TDone(TCallGate& gate)
            : FGate(gate), FOnThread{&gate, CallGateDetail::InnermostCall} {
            CallGateDetail::InnermostCall = &FOnThread;
        }
        ~TDone() {
            CallGateDetail::InnermostCall = FOnThread.Outer;
            bool wake = false;
            {
                const std::lock_guard lock(FGate.FMutex);
                wake = --FGate.FRunning == 0 && FGate.FWaiting > 0;
            }
            if (wake) {
                FGate.FIdle.notify_all();
            }
        }
        TDone(const TDone&) = delete;
        TDone& operator=(const TDone&) = delete;

    private:
        TCallGate& FGate;
        CallGateDetail::TCallOnThread FOnThread;
    };

    std::mutex FMutex;
    std::condition_variable FIdle;
    int FRunning = 0;
    int FWaiting = 0; // Sets waiting for the calls to end
    T FTarget{};
};
