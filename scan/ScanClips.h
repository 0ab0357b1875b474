#pragma once
// The clips of a scan's events, cut from the recording once the events are
// known, in at most two passes over the file that end at the last clip.
//
// A clip is copied where the stream allows: demuxed, parsed and muxed again,
// never decoded, from the key frame at or before the event's start (so it may
// start a little early, and says so), into the recording's own container when
// its muxer takes the stream, else into Matroska. Otherwise it is decoded and
// encoded again (the event clips' codec, H.264/MP4 or VP8/WebM) from the last
// frame at or before the start: raw video, a codec no muxer here takes, or no
// key frame within 10 s before the start.

#include "scan/ScanEvents.h"

#include <string>
#include <vector>

// One clip per event, in order, named "<clipStem>-event-001<extension>",
// "-event-002"... A clip never replaces a file: a name that is taken gets
// "_2", "_3"... before its extension. A clip that cannot be written carries
// the reason (an empty Path) and the others go on.
std::vector<TEventClip> CutEventClips(const std::string& recording,
                                      const std::vector<TScanEvent>& events,
                                      const std::string& clipStem);
