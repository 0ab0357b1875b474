#pragma once
// A bound on what a network source may send without a picture coming of it. A
// camera that sends one part that never ends (or a stream that never closes a
// JPEG) makes the demultiplexer or the parser keep every byte while it waits
// for the end; past the bound the bytes are dropped and the owner is told, once
// per connection, so that it can drop the connection and say why.

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TIncomingLimit {
public:
    // No decoder needs more for one picture: 16 MB is four times a JPEG of a
    // 4K picture at the highest quality.
    static constexpr std::uint64_t LargestPart = 16u << 20;

    // Counts the bytes leaving `source`'s "src" pad and forgets them whenever a
    // decoded picture enters `decoded` through its "sink" pad. Calls `exceeded`
    // from a streaming thread when more than `limit` bytes are pending. Null when
    // `source` has no static "src" pad (a bin that makes its pads as it goes).
    static std::shared_ptr<TIncomingLimit> Install(GstElement* source, GstElement* decoded,
                                                   std::uint64_t limit,
                                                   std::function<void()> exceeded);

    // A new connection: counting starts again.
    void Reset();

private:
    GstPadProbeReturn Arrived(GstBuffer* buffer);

    std::uint64_t FLimit = LargestPart;
    std::function<void()> FExceeded;
    std::atomic<std::uint64_t> FPending{0};
    std::atomic<bool> FTripped{false};
};
