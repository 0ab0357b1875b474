#pragma once
// The clipboard road of a grabbed frame: the capture window puts the frame on
// the system clipboard, the frame step takes it from there.

#include "analysis/TBitmap.h"

#include <QImage>

// True when the clipboard holds an image (some platforms have no clipboard data at all).
bool ClipboardOffersBitmap();

// The clipboard's image, whatever its format and size, as a 24-bit
// blue-green-red bitmap in one copy. Leaves `target` empty when there is no image.
void TakeClipboardBitmap(TBitmap& target);

// The clipboard's image as it is (sharing its pixels); null when there is none.
QImage ClipboardImage();
