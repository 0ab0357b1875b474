#include "events/EventWriter.h"

#include "events/EventCodec.h"
#include "events/EventRepair.h"
#include "gstkit/GstKit.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include <sys/stat.h>

namespace {

// The file at `path` now: device and inode, or nothing when there is none.
std::pair<dev_t, ino_t> IdentityOf(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return {0, 0};
    }
    return {info.st_dev, info.st_ino};
}

} // namespace

TEventWriter::TEventWriter(const TEventCodec& codec, GstCaps* encodedCaps, const std::string& path,
                           GstClockTime origin)
    : FPath(path), FOrigin(origin) {
    // Unbuffered: what the muxer has written is in the file even when the
    // program is killed a moment later.
    const std::string description = TBoundedAppSrc::Description("src") + " ! " + codec.Muxer +
                                    " ! filesink name=sink sync=false buffer-mode=unbuffered";
    try {
        FPipeline = LaunchPipeline(description);
    } catch (const std::exception& error) {
        throw std::runtime_error(std::string("Cannot build the event writer: ") + error.what());
    }
    // Refused frames leave the writer to choose what else to leave out.
    FSource = TBoundedAppSrc(FPipeline.get(), "src", encodedCaps,
                             {StallFrames, TBoundedAppSrc::TWhenFull::Refuse, false});
    g_object_set(TGstPtr<GstElement>(gst_bin_get_by_name(GST_BIN(FPipeline.get()), "sink")).get(),
                 "location", path.c_str(), nullptr);
    FMarker = std::make_unique<TUnfinishedMarker>(path);
    // The bus is read whatever set_state says: a file sink that cannot open
    // its file fails the state change and leaves the reason there.
    const bool started = SetState(FPipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE;
    if (CheckFailed() || !started) {
        const std::string text = FError.empty() ? "cannot start the writer" : FError;
        Stop();
        std::remove(path.c_str());
        FMarker->Remove();
        throw std::runtime_error("Cannot create file \"" + path + "\". " + text);
    }
    FIdentity = IdentityOf(path);
}

TEventWriter::~TEventWriter() {
    if (!FStopped) {
        Finish(std::chrono::seconds(5));
    }
}

void TEventWriter::Push(GstBuffer* encoded) {
    const GstClockTime pts = GST_BUFFER_PTS(encoded);
    if (FEnded || !GST_CLOCK_TIME_IS_VALID(pts) || pts < FOrigin) {
        return;
    }
    const bool key = !GST_BUFFER_FLAG_IS_SET(encoded, GST_BUFFER_FLAG_DELTA_UNIT);
    if (FSkipping && !key) {
        FSkipped.fetch_add(1);
        return;
    }
    GstBuffer* frame = gst_buffer_copy(encoded);
    GST_BUFFER_PTS(frame) = pts - FOrigin;
    GST_BUFFER_DTS(frame) = pts - FOrigin;
    const gsize size = gst_buffer_get_size(frame);
    if (!FSource.Push(frame)) {
        FSkipping = true;
        FSkipped.fetch_add(1);
        return;
    }
    FSkipping = false;
    FBytes.fetch_add(size);
    const GstClockTime duration = GST_BUFFER_DURATION(encoded);
    FEnd.store(pts + (GST_CLOCK_TIME_IS_VALID(duration) ? duration : 0));
}

void TEventWriter::EndOfStream() {
    if (!FEnded) {
        FEnded = true;
        FSource.EndOfStream();
    }
}

// Takes every waiting message off the bus, keeping what matters: the first
// error and whether the end of stream got through.
bool TEventWriter::CheckFailed() {
    const TGstPtr<GstBus> bus = BusOf(FPipeline.get());
    while (const TMessagePtr message{gst_bus_pop(bus.get())}) {
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR && FError.empty()) {
            FError = ErrorText(message.get());
        } else if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) {
            FComplete = true;
        }
    }
    return !FError.empty();
}

bool TEventWriter::Finish(std::chrono::milliseconds timeout) {
    if (FStopped) {
        return FError.empty();
    }
    EndOfStream();
    bool complete = false;
    if (!CheckFailed() && FComplete) {
        complete = true;
    } else if (FError.empty()) {
        const TMessagePtr message = WaitForMessage(
            FPipeline.get(), static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR),
            timeout);
        if (!message) {
            FError = "the file was not finished in time";
        } else if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
            FError = ErrorText(message.get());
        } else {
            complete = true;
        }
    }
    Stop();
    if (complete && FBytes.load() == 0) {
        FError = "no frame reached the file";
        complete = false;
    }
    // The file (or its folder) may have been removed while it was written:
    // the writer then wrote to a file that no longer has a name.
    FLost = IdentityOf(FPath) != FIdentity || FIdentity.second == 0;
    if (FLost) {
        FError = "the file was removed from the disk while it was being written";
        complete = false;
    } else if (!complete) {
        std::remove(FPath.c_str());
    }
    FMarker->Remove();
    return complete;
}

void TEventWriter::Stop() {
    FStopped = true;
    SetState(FPipeline.get(), GST_STATE_NULL);
}
