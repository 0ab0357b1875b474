#include "h264dec/PictureLender.h"

#include "h264dec/LibavH264.h"

#include <algorithm>

namespace {

constexpr int Planes = 3;

// One picture lent: a reference of its own to libav's picture, dropped with
// the last of the buffer's memories.
struct TLease {
    std::unique_ptr<AVFrame, TAvFrameFree> Picture;
    std::atomic<int> Memories{Planes};
    std::shared_ptr<std::atomic<std::size_t>> Lent;
};

void ReleasePlane(gpointer data) {
    auto* lease = static_cast<TLease*>(data);
    if (lease->Memories.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        const std::unique_ptr<TLease> last(lease);
        last->Lent->fetch_sub(1, std::memory_order_relaxed);
    }
}

// The bytes of a plane from its first pixel: whole rows where libav's
// storage holds them (as a pool's plane would be), else up to the last
// pixel of the last row.
std::size_t PlaneBytes(AVFrame& picture, int plane, const GstVideoInfo& info) {
    const auto rows = std::size_t(GST_VIDEO_INFO_COMP_HEIGHT(&info, plane));
    const auto stride = std::size_t(picture.linesize[plane]);
    const std::size_t used =
        stride * (rows - 1) + std::size_t(GST_VIDEO_INFO_COMP_WIDTH(&info, plane));
    const AVBufferRef* storage = Libav().FramePlaneBuffer(&picture, plane);
    if (storage == nullptr) {
        return 0;
    }
    const std::uint8_t* end = storage->data + storage->size;
    const std::uint8_t* start = picture.data[plane];
    if (start < storage->data || start + used > end) {
        return 0;
    }
    return start + stride * rows <= end ? stride * rows : used;
}

} // namespace

TPictureLender::TPictureLender(std::size_t limit)
    : FLent(std::make_shared<std::atomic<std::size_t>>(0)), FLimit(limit) {}

GstBuffer* TPictureLender::Lend(const AVFrame& picture, const GstVideoInfo& info) {
    if (FLent->load() >= FLimit || GST_VIDEO_INFO_N_PLANES(&info) != guint(Planes)) {
        return nullptr;
    }
    auto lease = std::make_unique<TLease>();
    lease->Picture.reset(Libav().FrameClone(&picture));
    lease->Lent = FLent;
    if (!lease->Picture) {
        return nullptr;
    }
    AVFrame& lent = *lease->Picture;
    std::size_t bytes[Planes] = {};
    for (int plane = 0; plane < Planes; ++plane) {
        bytes[plane] = lent.linesize[plane] > 0 ? PlaneBytes(lent, plane, info) : 0;
        if (bytes[plane] == 0) {
            return nullptr;
        }
    }
    GstBuffer* buffer = gst_buffer_new();
    gsize offsets[GST_VIDEO_MAX_PLANES] = {};
    gint strides[GST_VIDEO_MAX_PLANES] = {};
    gsize offset = 0;
    FLent->fetch_add(1, std::memory_order_relaxed);
    TLease* owner = lease.release(); // the memories own it from here on
    for (int plane = 0; plane < Planes; ++plane) {
        gst_buffer_append_memory(buffer, gst_memory_new_wrapped(GST_MEMORY_FLAG_READONLY,
                                                                lent.data[plane], bytes[plane], 0,
                                                                bytes[plane], owner, ReleasePlane));
        offsets[plane] = offset;
        strides[plane] = lent.linesize[plane];
        offset += bytes[plane];
    }
    gst_buffer_add_video_meta_full(buffer, GST_VIDEO_FRAME_FLAG_NONE, GST_VIDEO_INFO_FORMAT(&info),
                                   GST_VIDEO_INFO_WIDTH(&info), GST_VIDEO_INFO_HEIGHT(&info),
                                   Planes, offsets, strides);
    return buffer;
}
