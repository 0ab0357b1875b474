#pragma once
// The sizes and rates a source offers in the Video Format dialog: the
// "as it comes" entry, what a camera reports, and the usual sizes and rates,
// all delivered through the pipeline's own scaling.

#include "capture/SourcePipeline.h"
#include "capture/VideoDriver.h"

#include <vector>

// The caps that ask for `width` x `height` (and `rate` frames a second when above 0).
QString SizeCaps(int width, int height, int rate);

std::vector<TVideoFormat> SourceFormats(const TSource& source);
