#include "scan/ScanEvents.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

namespace {

constexpr std::int64_t NsPerMs = 1000000;

void Widen(TScanEvent& event, const TEventRules& rules, std::int64_t videoEndNs) {
    event.StartNs = std::max<std::int64_t>(0, event.StartNs - rules.BeforeNs);
    event.EndNs = event.EndNs + rules.AfterNs;
    if (videoEndNs > 0) {
        event.EndNs = std::max(event.StartNs, std::min(event.EndNs, videoEndNs));
    }
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// A field as RFC 4180 writes it: quoted when it holds a comma, a quote or a
// line break.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string out = "\"";
    for (const char c : text) {
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return out + "\"";
}

std::string FileName(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

const char* ClipMode(const TEventClip& clip) {
    if (clip.Path.empty()) {
        return "failed";
    }
    return clip.Copied ? "copied" : "re-encoded";
}

std::string ClipCsv(const TEventClip& clip) {
    if (clip.Path.empty()) {
        return ",,,,failed";
    }
    return "," + CsvField(FileName(clip.Path)) + "," + SecondsText(clip.StartNs) + "," +
           SecondsText(clip.EndNs) + "," + ClipMode(clip);
}

std::string ClipJson(const TScanEvent& event, const TEventClip& clip) {
    std::string text = ", \"clip\": {\"mode\": \"" + std::string(ClipMode(clip)) + "\"";
    if (clip.Path.empty()) {
        return text + ", \"error\": " + JsonString(clip.Why) + "}";
    }
    text += ", \"file\": " + JsonString(FileName(clip.Path)) +
            ", \"start\": " + SecondsText(clip.StartNs) + ", \"end\": " + SecondsText(clip.EndNs) +
            ", \"early\": " + SecondsText(std::max<std::int64_t>(0, event.StartNs - clip.StartNs));
    if (!clip.Copied) {
        text += ", \"reason\": " + JsonString(clip.Why);
    }
    return text + "}";
}

} // namespace

std::vector<TScanEvent> FindEvents(const std::vector<TStepRecord>& steps, const TEventRules& rules,
                                   std::int64_t videoEndNs) {
    std::vector<TScanEvent> runs;
    bool inRun = false;
    for (const TStepRecord& step : steps) {
        if (!step.Movement) {
            inRun = false;
            continue;
        }
        if (!inRun) {
            runs.push_back({step.TimeNs, step.TimeNs, step.Percent});
            inRun = true;
        }
        runs.back().EndNs = step.TimeNs;
        runs.back().PeakPercent = std::max(runs.back().PeakPercent, step.Percent);
    }
    std::vector<TScanEvent> events;
    for (TScanEvent run : runs) {
        Widen(run, rules, videoEndNs);
        if (!events.empty() && run.StartNs - events.back().EndNs <= rules.MergeNs) {
            events.back().EndNs = std::max(events.back().EndNs, run.EndNs);
            events.back().PeakPercent = std::max(events.back().PeakPercent, run.PeakPercent);
            continue;
        }
        events.push_back(run);
    }
    return events;
}

std::string SecondsText(std::int64_t ns) {
    const std::int64_t ms = ns / NsPerMs;
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string TimecodeText(std::int64_t ns) {
    const std::int64_t ms = ns / NsPerMs;
    char text[40];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%03lld",
                  static_cast<long long>(ms / 3600000), static_cast<long long>(ms / 60000 % 60),
                  static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    return text;
}

std::string EventsCsv(const std::vector<TScanEvent>& events, const std::vector<TEventClip>& clips) {
    const bool withClips = !clips.empty();
    std::string text = std::string("start,end,duration,peak_percent,start_time,end_time") +
                       (withClips ? ",clip,clip_start,clip_end,clip_mode\n" : "\n");
    for (std::size_t i = 0; i < events.size(); ++i) {
        const TScanEvent& event = events[i];
        text += SecondsText(event.StartNs) + "," + SecondsText(event.EndNs) + "," +
                SecondsText(event.EndNs - event.StartNs) + "," + std::to_string(event.PeakPercent) +
                "," + TimecodeText(event.StartNs) + "," + TimecodeText(event.EndNs) +
                (withClips && i < clips.size() ? ClipCsv(clips[i]) : "") + "\n";
    }
    return text;
}

std::string EventsJson(const TEventsHeader& header, const std::vector<TScanEvent>& events,
                       const std::vector<TEventClip>& clips) {
    std::string text = "{\n  \"file\": " + JsonString(header.File) +
                       ",\n  \"pixel_tolerance\": " + std::to_string(header.PixelTolerance) +
                       ",\n  \"minimal_movement\": " + std::to_string(header.MinimalMovement) +
                       ",\n  \"step\": " + SecondsText(header.StepNs) +
                       ",\n  \"video_end\": " + SecondsText(header.VideoEndNs) +
                       ",\n  \"events\": [";
    for (std::size_t i = 0; i < events.size(); ++i) {
        const TScanEvent& event = events[i];
        text += std::string(i == 0 ? "\n" : ",\n") +
                "    {\"start\": " + SecondsText(event.StartNs) +
                ", \"end\": " + SecondsText(event.EndNs) +
                ", \"duration\": " + SecondsText(event.EndNs - event.StartNs) +
                ", \"peak_percent\": " + std::to_string(event.PeakPercent) +
                (i < clips.size() ? ClipJson(event, clips[i]) : "") + "}";
    }
    text += events.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return text;
}
