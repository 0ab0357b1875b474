#pragma once
// A target (a callback, a receiver) that streaming threads call without any
// lock held during the call, and that the owner replaces safely: Set waits
// until no call of the target it replaces is running, so once it returns the
// old target receives no further call. Calls may run on several threads at
// once; neither a call nor a Set allocates.

#include <condition_variable>
#include <mutex>
#include <utility>

template <class T> class TCallGate {
public:
    // Replaces the target (a null one: nobody is called) once no call of the old one runs.
    void Set(T target) {
        std::unique_lock lock(FMutex);
        FIdle.wait(lock, [this] { return FRunning == 0; });
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

private:
    class TDone {
    public:
        explicit TDone(TCallGate& gate) : FGate(gate) {}
        ~TDone() {
            {
                const std::lock_guard lock(FGate.FMutex);
                --FGate.FRunning;
            }
            FGate.FIdle.notify_all();
        }
        TDone(const TDone&) = delete;
        TDone& operator=(const TDone&) = delete;

    private:
        TCallGate& FGate;
    };

    std::mutex FMutex;
    std::condition_variable FIdle;
    int FRunning = 0;
    T FTarget{};
};
