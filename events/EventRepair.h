#pragma once
// Clips that a crash left unfinished. While a clip is written, a hidden
// marker beside it (".<clip name>.unfinished") is held locked; a clean
// finish removes it. A marker that is still there and no longer locked
// belongs to a writer that was killed: its clip is rewritten through the
// muxer so that it gets a complete index, or, when nothing in it can be
// played, renamed so that it no longer looks like an event.

#include <gst/gst.h>

#include <string>
#include <vector>

// The marker of `clip`: held locked from construction to Remove() or
// destruction. A marker that cannot be created is only skipped: the clip
// is then written without one.
class TUnfinishedMarker {
public:
    explicit TUnfinishedMarker(const std::string& clip);
    ~TUnfinishedMarker();
    TUnfinishedMarker(const TUnfinishedMarker&) = delete;
    TUnfinishedMarker& operator=(const TUnfinishedMarker&) = delete;

    // The clip is finished (or gone): the marker goes.
    void Remove();

    static std::string PathFor(const std::string& clip);

private:
    std::string FPath;
    int FFile = -1;
};

struct TRepairResult {
    enum TKind { Repaired, KeptAsItIs, MovedAside };
    TKind Kind = Repaired;
    std::string Path; // the clip as it is now
    std::string Text; // for the status line
    GstClockTime Duration = GST_CLOCK_TIME_NONE;
};

// Repairs every clip of `folder` whose marker no live writer holds, and
// removes the markers. Waits for the rewriting (a pipeline per clip), so it
// runs off the GUI thread.
std::vector<TRepairResult> RepairUnfinishedEvents(const std::string& folder);
