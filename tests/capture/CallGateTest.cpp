// The gate between streaming threads and the owner of a target: a Set waits
// for the call in flight and is woken when it ends, and a target that
// replaces itself from inside its own call fails at once instead of hanging.

#include "capture/CallGate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <stdexcept>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TGate = TCallGate<std::function<void()>>;

// Waits (at most a generous deadline) until `condition` holds.
template <class Condition> bool WaitUntil(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::yield();
    }
    return true;
}

TEST(CallGate, ASetWaitsForTheCallInFlightAndIsWokenWhenItEnds) {
    TGate gate;
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    gate.Set([&] {
        inside = true;
        WaitUntil([&] { return release.load(); });
    });
    auto call = std::async(std::launch::async,
                           [&] { gate.Call([](const std::function<void()>& f) { f(); }); });
    ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
    auto set = std::async(std::launch::async, [&] { gate.Set(nullptr); });
    ASSERT_TRUE(WaitUntil([&] { return gate.SetWaits(); }));
    EXPECT_EQ(set.wait_for(0s), std::future_status::timeout) << "the Set did not wait";
    release = true;
    call.get();
    ASSERT_EQ(set.wait_for(60s), std::future_status::ready) << "the waiting Set was not woken";
    EXPECT_FALSE(gate.Call([](const std::function<void()>&) {}));
}

TEST(CallGate, ATargetReplacingItselfFromItsOwnCallFailsAtOnce) {
    TGate gate;
    TGate other;
    other.Set([] {});
    gate.Set([&] {
        other.Set([] {}); // another gate's target may be replaced from here
        gate.Set(nullptr);
    });
    const auto callReplacingItself = [&] {
        gate.Call([](const std::function<void()>& f) { f(); });
    };
#ifdef NDEBUG
    EXPECT_THROW(callReplacingItself(), std::logic_error);
    // The failed call was counted out: the owner replaces the target at once.
    auto set = std::async(std::launch::async, [&] { gate.Set(nullptr); });
    EXPECT_EQ(set.wait_for(60s), std::future_status::ready);
#else
    EXPECT_DEATH(callReplacingItself(), "replaced from inside its own call");
#endif
}

} // namespace
