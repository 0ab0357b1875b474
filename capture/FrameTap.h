#pragma once
// A raw frame tap on a capture window: every decoded frame of the connected
// source, at the source's own rate, for consumers that need more than the
// grabbed frames of the frame step.

#include "capture/PlatformTypes.h"

struct _GstSample;
typedef struct _GstSample GstSample;

// Receives every decoded frame of the connected source, at the source's own rate, on a GStreamer
// streaming thread. Never touch a widget here. `sample` is borrowed for the call (ref it to keep
// it); its caps tell format and size (video/x-raw), its buffer's PTS is the running time.
class TFrameTap {
public:
    virtual ~TFrameTap() = default;
    virtual void OnSourceFrame(GstSample* sample) = 0;
    // The source was disconnected or lost (called on the GUI thread).
    virtual void OnSourceGone() {}
};

// Installs the tap on a capture window (null removes it); survives reconnections and driver
// changes. Once it returns, the tap it replaced receives no further call.
void capSetFrameTap(HWND window, TFrameTap* tap);
