#pragma once
// A decoded frame as the decoder hands it over: up to three planes with their
// strides, and the frame's time in the video.

#include <cstdint>

enum class TFrameLayout { Gray8, Bgr24, I420, Nv12 };

struct TDecodedFrame {
    TFrameLayout Layout = TFrameLayout::Gray8;
    int Width = 0;
    int Height = 0;
    const std::uint8_t* Planes[3] = {nullptr, nullptr, nullptr};
    int Strides[3] = {0, 0, 0};
    // Time in the video (stream time), in nanoseconds.
    std::int64_t TimeNs = 0;
};
