#pragma once
// A source's frames stay in the decoder's own format (I420, NV12, BGR or
// gray) until something reads them; these turn such a frame into what the
// reader needs: the whole frame as 24-bit blue-green-red for a grab, and only
// the pixels shown, at the size shown, for the live display.

#include "analysis/TBitmap.h"
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

// A frame kept as it was decoded (I420, NV12, BGR or gray), rows packed, for
// as long as its readers hold it: the grab of a frame step. A YUV frame takes
// half the memory of its 24-bit picture, which is made only when somebody
// asks for it (the clipboard's reader, a saved frame).
class TFrameCopy {
public:
    // Copies the frame in (an empty view empties the copy). The storage is
    // kept when the frame's size and format are those of the copy before.
    void Assign(const TFrameView& frame);
    const TFrameView& View() const { return FView; }
    bool Empty() const { return FView.Empty(); }
    // The frame as a 24-bit blue-green-red image (as FrameToBgrImage makes
    // it), converted at the first call after Assign and kept until the next
    // Assign; null for an empty copy. Not to be called while another thread
    // assigns to the copy.
    const QImage& Picture() const;

private:
    std::vector<std::uint8_t, TCacheLineAllocator<std::uint8_t>> FStorage;
    TFrameView FView;
    mutable QImage FPicture;
    mutable bool FPictureMade = false;
};

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
