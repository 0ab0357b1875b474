#pragma once
// A bound on what a network source may send without a picture coming of it. A
// camera that sends one part that never ends (or a stream that never closes a
// JPEG, or frames larger than any picture needs) makes the demultiplexer, the
// jitter buffer or the depayloader keep every byte while it waits for the end;
// past the bound the bytes are dropped and the owner is told, once per
// connection, so that it can drop the connection and say why.

#include <gst/gst.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class TIncomingLimit : public std::enable_shared_from_this<TIncomingLimit> {
public:
    // No decoder needs more for one picture: 16 MB is four times a JPEG of a
    // 4K picture at the highest quality.
    static constexpr std::uint64_t LargestPart = 16u << 20;

    // `exceeded` is called from a streaming thread when the bound is passed.
    static std::shared_ptr<TIncomingLimit> Make(std::uint64_t limit,
                                                std::function<void()> exceeded);

    // Watches the network part of a source pipeline: the bytes that `source`
    // receives count until a decoded picture enters `decoded` through its "sink"
    // pad. `source` is an element with a "src" pad of its own (an HTTP source) or
    // a uridecodebin, whose RTSP source is watched at its jitter buffers' input
    // and its depayloaders' output as it is made at each connection. False when
    // neither applies.
    bool Watch(GstElement* source, GstElement* decoded);

    // Bytes passing `pad` count as pending.
    void CountAt(GstPad* pad);
    // A buffer passing `pad` is a picture: nothing is pending any more.
    void SettleAt(GstPad* pad);
    // A single buffer over the bound passing `pad` (a frame put together by a
    // depayloader) is dropped and passes the bound.
    void CapAt(GstPad* pad);

    // A new connection: counting starts again.
    void Reset();

private:
    GstPadProbeReturn Arrived(std::uint64_t size);
    GstPadProbeReturn Assembled(std::uint64_t size);
    void Exceeded();
    void WatchRtspSource(GstElement* uriDecoder);

    std::uint64_t FLimit = LargestPart;
    std::function<void()> FExceeded;
    std::atomic<std::uint64_t> FPending{0};
    std::atomic<bool> FTripped{false};
};
