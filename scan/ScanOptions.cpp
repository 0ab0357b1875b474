#include "scan/ScanOptions.h"

#include "settings/StepSettings.h"
#include "settings/TRegIniFile.h"

#include <fstream>
#include <sstream>

#include <charconv>
#include <cmath>
#include <functional>
#include <map>

namespace {

constexpr std::int64_t NsPerMs = 1000000;
constexpr std::int64_t NsPerSecond = 1000000000;
constexpr const char* SettingsBaseKey = "Software\\Quellor";
constexpr const char* MainWindowSection = "Stirwatch\\Video";

long long WholeNumber(const std::string& option, const std::string& text, long long low,
                      long long high) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < low || value > high) {
        throw EUsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                          std::to_string(high) + ", not \"" + text + "\"");
    }
    return value;
}

std::int64_t Seconds(const std::string& option, const std::string& text) {
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value) ||
        value < 0 || value > 1e6) {
        throw EUsageError(option + " takes a number of seconds (0 or more), not \"" + text + "\"");
    }
    return std::llround(value * double(NsPerSecond));
}

// The mask in FILE, in the text form of the settings.
std::shared_ptr<const TDetectionMask> MaskFile(const std::string& option, const std::string& path) {
    if (path.empty()) {
        return nullptr; // "--mask=" turns a stored mask off
    }
    std::ifstream file(path);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf())) {
        throw EUsageError(option + ": cannot read \"" + path + "\"");
    }
    try {
        return std::make_shared<const TDetectionMask>(ParseMask(text.str()));
    } catch (const std::exception& fault) {
        throw EUsageError(option + " \"" + path + "\": " + fault.what());
    }
}

int ClampTolerance(int value) {
    return std::min(255, std::max(0, value));
}

} // namespace

TScanSettings StoredScanSettings() {
    TScanSettings settings;
    TRegIniFile store(SettingsBaseKey);
    settings.PixelTolerance =
        ClampTolerance(store.ReadInteger(MainWindowSection, "PixelTolerance", 20));
    settings.MinimalMovement = store.ReadInteger(MainWindowSection, "MinimalMovement", 400);
    const int frequency = store.ReadInteger(MainWindowSection, "CaptureFrequency", 250);
    settings.StepNs = std::max(0, frequency) * NsPerMs;
    const TDetectionSettings detection = ReadDetectionSettings(store, "Stirwatch");
    settings.SpeckleNeighbours = detection.SpeckleNeighbours;
    settings.LightGuardPercent = detection.LightGuard ? detection.LightGuardPercent : 0;
    if (!detection.Mask.empty()) {
        try {
            settings.Mask = std::make_shared<const TDetectionMask>(ParseMask(detection.Mask));
        } catch (const std::exception& fault) {
            throw EUsageError(std::string("the stored mask: ") + fault.what());
        }
    }
    return settings;
}

TScanOptions ParseScanOptions(const std::vector<std::string>& arguments,
                              const TScanSettings& defaults) {
    TScanOptions options;
    options.Settings = defaults;
    using TTaker = std::function<void(const std::string& option, const std::string& value)>;
    const std::map<std::string, TTaker> withValue = {
        {"--pixel-tolerance",
         [&](auto& o, auto& v) {
             options.Settings.PixelTolerance = int(WholeNumber(o, v, 0, 255));
         }},
        {"--minimal-movement",
         [&](auto& o, auto& v) {
             options.Settings.MinimalMovement = int(WholeNumber(o, v, -2147483647 - 1, 2147483647));
         }},
        {"--step",
         [&](auto& o, auto& v) {
             options.Settings.StepNs = WholeNumber(o, v, 0, 86400000) * NsPerMs;
         }},
        {"--speckle",
         [&](auto& o, auto& v) {
             options.Settings.SpeckleNeighbours = int(WholeNumber(o, v, 0, 8));
         }},
        {"--light-guard",
         [&](auto& o, auto& v) {
             options.Settings.LightGuardPercent = int(WholeNumber(o, v, 0, 100));
         }},
        {"--mask", [&](auto& o, auto& v) { options.Settings.Mask = MaskFile(o, v); }},
        {"--before", [&](auto& o, auto& v) { options.Events.BeforeNs = Seconds(o, v); }},
        {"--after", [&](auto& o, auto& v) { options.Events.AfterNs = Seconds(o, v); }},
        {"--merge", [&](auto& o, auto& v) { options.Events.MergeNs = Seconds(o, v); }},
        {"--output", [&](auto&, auto& v) { options.OutputFolder = v; }},
        {"--jobs", [&](auto& o, auto& v) { options.Jobs = int(WholeNumber(o, v, 1, 256)); }},
    };
    const std::map<std::string, std::string> shortNames = {{"-t", "--pixel-tolerance"},
                                                           {"-m", "--minimal-movement"},
                                                           {"-s", "--step"},
                                                           {"-o", "--output"},
                                                           {"-j", "--jobs"},
                                                           {"-q", "--quiet"},
                                                           {"-h", "--help"}};
    bool filesOnly = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string argument = arguments[i];
        if (filesOnly || argument.empty() || argument[0] != '-' || argument == "-") {
            options.Files.push_back(argument);
            continue;
        }
        if (argument == "--") {
            filesOnly = true;
            continue;
        }
        std::string value;
        bool hasValue = false;
        if (const auto equals = argument.find('=');
            argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = argument.substr(equals + 1);
            argument.resize(equals);
            hasValue = true;
        }
        if (const auto name = shortNames.find(argument); name != shortNames.end()) {
            argument = name->second;
        }
        if (const auto taker = withValue.find(argument); taker != withValue.end()) {
            if (!hasValue) {
                if (i + 1 >= arguments.size()) {
                    throw EUsageError(argument + " needs a value");
                }
                value = arguments[++i];
            }
            taker->second(argument, value);
            continue;
        }
        if (hasValue) {
            throw EUsageError(argument + " takes no value");
        }
        if (argument == "--every-frame") {
            options.Settings.StepNs = 0;
        } else if (argument == "--clips") {
            options.Clips = true;
        } else if (argument == "--no-plot") {
            options.Plot = false;
        } else if (argument == "--quiet") {
            options.Quiet = true;
        } else if (argument == "--help") {
            options.Help = true;
        } else {
            throw EUsageError("unknown option " + argument);
        }
    }
    if (options.Files.empty() && !options.Help) {
        throw EUsageError("no file to scan");
    }
    return options;
}

std::string ScanHelpText(const TScanSettings& defaults) {
    const auto number = [](long long value) { return std::to_string(value); };
    return "Usage: stirwatch scan [options] FILE...\n"
           "\n"
           "Finds the movement in recordings, without a window, with the detector of the\n"
           "main window: frames a step apart are compared, a pixel whose brightness rose or\n"
           "fell by more than the pixel tolerance has changed, and a step with more changed\n"
           "pixels than the minimal movement shows movement. Defaults come from the main\n"
           "window's stored settings; the options override them.\n"
           "\n"
           "For each FILE, in the output folder:\n"
           "  NAME.movement.csv   one line per step, in the format of Auto mode's log,\n"
           "                      stamped with the wall-clock time when the recording\n"
           "                      says when it was made, otherwise with the video's time\n"
           "  NAME.events.csv     the events: start, end, duration (seconds), peak percent\n"
           "  NAME.events.json    the same as JSON\n"
           "  NAME.plot.png       the percentage over the video's time, events shaded\n"
           "  NAME-event-001.EXT  with --clips, a clip of each event (\"_2\" is added when\n"
           "                      the name is taken)\n"
           "\n"
           "Options:\n"
           "  -t, --pixel-tolerance N   0..255 (now " +
           number(defaults.PixelTolerance) +
           ")\n"
           "  -m, --minimal-movement N  changed pixels that count as movement (now " +
           number(defaults.MinimalMovement) +
           ")\n"
           "  -s, --step MS             milliseconds of video between compared frames\n"
           "                            (now " +
           number(defaults.StepNs / NsPerMs) +
           "; 0 compares every frame)\n"
           "      --every-frame         compare every frame\n"
           "      --speckle N           a changed pixel counts only when at least N of its\n"
           "                            8 neighbours changed too (now " +
           number(defaults.SpeckleNeighbours) +
           "; 0 off)\n"
           "      --light-guard PCT     a step in which more than PCT % of the watched\n"
           "                            pixels changed is a change of light, not movement\n"
           "                            (now " +
           number(defaults.LightGuardPercent) +
           "; 0 off)\n"
           "      --mask FILE           polygons to ignore or to watch alone (" +
           (defaults.Mask && !defaults.Mask->Empty() ? "now the stored mask" : "now none") +
           "; --mask= none):\n"
           "                            a line \"ignore\" or \"watch\", then one polygon per\n"
           "                            line as x,y pairs from 0 to 1 (\"0,0 0.5,0 0.5,1\");\n"
           "                            the percentage is then of the watched pixels\n"
           "      --before SECONDS      start each event this much earlier (0)\n"
           "      --after SECONDS       end each event this much later (0)\n"
           "      --merge SECONDS       join events at most this far apart (0)\n"
           "  -o, --output FOLDER       where the results go (the current folder)\n"
           "      --clips               cut a clip of each event from the recording: copied\n"
           "                            from the key frame at or before the event's start\n"
           "                            where the stream allows (it may start a little\n"
           "                            early; the events list says where), otherwise\n"
           "                            encoded again\n"
           "      --no-plot             write no plot\n"
           "  -j, --jobs N              files scanned side by side (the number of cores)\n"
           "  -q, --quiet               no progress display\n"
           "  -h, --help                this text\n"
           "\n"
           "Progress goes to the standard error: a bar on a terminal, plain lines otherwise.\n"
           "Exit status: 0 when every file was scanned, 1 when some could not be read or\n"
           "their results not written (each is named with the reason), 2 for a wrong\n"
           "command line.\n";
}
