#pragma once
// From the steps of a scan to its events: runs of steps with movement,
// widened by the seconds before and after, and joined when closer than the
// merge gap. Written as CSV and JSON.

#include <cstdint>
#include <string>
#include <vector>

struct TStepRecord {
    std::int64_t TimeNs = 0;
    int ChangedPixels = 0;
    int Percent = 0;
    bool Movement = false;
};

struct TScanEvent {
    std::int64_t StartNs = 0;
    std::int64_t EndNs = 0;
    int PeakPercent = 0;
};

struct TEventRules {
    std::int64_t BeforeNs = 0;
    std::int64_t AfterNs = 0;
    std::int64_t MergeNs = 0;
};

// The clip of an event (`stirwatch scan --clips`).
struct TEventClip {
    // The clip's file; empty when it could not be written.
    std::string Path;
    // Where the clip really starts and ends in the recording's time: a copied
    // clip starts at the key frame at or before the event's start.
    std::int64_t StartNs = 0;
    std::int64_t EndNs = 0;
    // Copied packet by packet; otherwise decoded and encoded again.
    bool Copied = false;
    // Why it was encoded again, or why it could not be written.
    std::string Why;
};

// An event starts at its first step with movement and ends at its last one;
// the widening stays within 0..videoEndNs.
std::vector<TScanEvent> FindEvents(const std::vector<TStepRecord>& steps, const TEventRules& rules,
                                   std::int64_t videoEndNs);

// Seconds with three decimals ("5.250"), independent of the locale.
std::string SecondsText(std::int64_t ns);
// "hh:mm:ss.zzz", hours not limited to 24.
std::string TimecodeText(std::int64_t ns);

// "start,end,duration,peak_percent,start_time,end_time" and one line per
// event. With clips (one per event): also "clip,clip_start,clip_end,clip_mode"
// (the clip's file name, where it really starts and ends, and "copied",
// "re-encoded" or "failed").
std::string EventsCsv(const std::vector<TScanEvent>& events,
                      const std::vector<TEventClip>& clips = {});

struct TEventsHeader {
    std::string File;
    int PixelTolerance = 0;
    int MinimalMovement = 0;
    std::int64_t StepNs = 0;
    std::int64_t VideoEndNs = 0;
};
std::string EventsJson(const TEventsHeader& header, const std::vector<TScanEvent>& events,
                       const std::vector<TEventClip>& clips = {});
