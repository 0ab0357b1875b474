#pragma once
// A source's frames stay in the decoder's own format (I420, NV12, BGR or
// gray) until something reads them; these turn such a frame into what the
// reader needs: the whole frame as 24-bit blue-green-red for a grab, and only
// the pixels shown, at the size shown, for the live display.

#include "engine/FrameView.h"

#include <QImage>
#include <QRect>
#include <QSize>

#include <cstdint>
#include <vector>

// A view of a 24-bit blue-green-red image without a copy; empty for a null
// image or another format.
TFrameView BgrImageView(const QImage& image);

// Converts the whole frame into `target` as BGR888, with the colours the
// engine's gray conversion gives a YUV frame, so that a grab's gray levels
// equal those of the frame itself. `target` keeps its storage when it has the
// frame's size and format and nothing shares it. An empty frame gives a null image.
void FrameToBgrImage(const TFrameView& frame, QImage& target);

// What sampling a frame for the screen works in: the source column of each
// pixel shown, where the columns are not evenly spaced. Kept from call to
// call, so that a picture of an unchanged size allocates nothing.
struct TScreenSampling {
    std::vector<int> Columns;
};

// Samples the part `part` of the frame at the given size (nearest, at pixel
// centres) into `shown` (RGB32), reading and converting only the pixels
// shown; the storage of `shown` is kept from call to call. `part` must lie
// inside the frame.
void SampleFrameForScreen(const TFrameView& frame, QRect part, QSize size, QImage& shown,
                          TScreenSampling& work);
