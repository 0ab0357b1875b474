#pragma once
// The start of an event in two halves. Movement() takes, on its own thread
// and without touching the disk, what the event needs (the settings, the
// codec, the pre-roll's frames); the recorder's worker then does the disk
// work (the folder, its free space and size limit, the new file and its
// pipeline) while the frames that keep coming are collected here.

#include "events/EncodedRing.h"
#include "events/EventCodec.h"
#include "events/EventRecorder.h"
#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

class TEventWriter;

struct TEventStart {
    // Takes the pre-roll of `ring` from `movement` back by the settings'
    // pre-roll; `caps` are the encoded frames' (a reference is kept).
    TEventStart(GstClockTime movement, const TEventSettings& settings, const TEventCodec& codec,
                GstCaps* caps, const TEncodedRing& ring);
    TEventStart(const TEventStart&) = delete;
    TEventStart& operator=(const TEventStart&) = delete;

    // Set when the start is asked for; read by the worker without the lock.
    const GstClockTime Movement; // the first movement
    const TEventSettings Settings;
    const TEventCodec Codec;
    const TCapsPtr Caps;
    const std::uint64_t Reserve;               // the pre-roll's bytes, which the file will hold
    GstClockTime From = 0;                     // the pre-roll's wanted start
    GstClockTime Origin = GST_CLOCK_TIME_NONE; // the PTS of the file's first frame
    std::time_t StartTime = 0;                 // the wall-clock time of the file's first frame

    // Under the recorder's lock: the pre-roll and every frame encoded since,
    // until the event ends (before or after its file opened).
    TEncodedRing Frames;
    bool Ended = false;
    std::string Note;
};

struct TPreparedEvent {
    std::unique_ptr<TEventWriter> Writer; // null when the event cannot start
    TEventStatus Refusal;                 // why, for the status line
    bool RetryLater = false;              // the file could not be created
};

// The worker's half: makes the folder, checks its disk's free space, makes
// room within the size limit and opens the event's file.
TPreparedEvent PrepareEvent(const TEventStart& start);
