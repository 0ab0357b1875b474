#include "scan/ScanProgress.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int BarWidth = 24;
constexpr std::size_t NameWidth = 24;

std::string Bar(double fraction) {
    const int filled = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * BarWidth);
    return "[" + std::string(std::size_t(filled), '#') +
           std::string(std::size_t(BarWidth - filled), '.') + "]";
}

std::string ShortName(const std::string& name) {
    if (name.size() <= NameWidth) {
        return name + std::string(NameWidth - name.size(), ' ');
    }
    return "..." + name.substr(name.size() - (NameWidth - 3));
}

std::string Percent(double fraction) {
    return std::to_string(static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100)) + "%";
}

double Seconds(std::chrono::steady_clock::duration duration) {
    return std::chrono::duration<double>(duration).count();
}

std::string TimeLeft(double fraction, double elapsed) {
    if (fraction <= 0.01 || elapsed <= 0) {
        return "";
    }
    return ", " + DurationText(elapsed * (1 - fraction) / fraction) + " left";
}

} // namespace

std::string DurationText(double seconds) {
    const long total = std::lround(std::max(0.0, seconds));
    char text[32];
    if (total >= 3600) {
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", total / 3600, total / 60 % 60,
                      total % 60);
    } else {
        std::snprintf(text, sizeof text, "%ld:%02ld", total / 60, total % 60);
    }
    return text;
}

TProgressDisplay::TProgressDisplay(std::FILE* out, bool terminal, std::vector<std::string> names,
                                   std::deque<TScanProgress>& progress)
    : Out(out), Terminal(terminal), Names(std::move(names)), Progress(progress),
      States(Names.size()), Start(TClock::now()) {}

std::string TProgressDisplay::FileFigures(std::size_t index, TClock::time_point now) const {
    const TScanProgress& progress = Progress[index];
    const double elapsed = Seconds(now - States[index].Start);
    const double fraction = progress.Fraction.load();
    const double fps = elapsed > 0 ? double(progress.FramesSeen.load()) / elapsed : 0;
    return Percent(fraction) + ", " + std::to_string(std::lround(fps)) + " fps" +
           TimeLeft(fraction, elapsed);
}

std::string TProgressDisplay::FileLine(std::size_t index, TClock::time_point now) const {
    return ShortName(Names[index]) + " " + Bar(Progress[index].Fraction.load()) + " " +
           FileFigures(index, now);
}

std::string TProgressDisplay::OverallLine(TClock::time_point now) const {
    double done = 0;
    double total = 0;
    int finished = 0;
    std::int64_t frames = 0;
    for (const TScanProgress& progress : Progress) {
        done += progress.Weight * (progress.Finished ? 1.0 : progress.Fraction.load());
        total += progress.Weight;
        finished += progress.Finished ? 1 : 0;
        frames += progress.FramesSeen.load();
    }
    const double fraction = total > 0 ? done / total : 1;
    const double elapsed = Seconds(now - Start);
    const double fps = elapsed > 0 ? double(frames) / elapsed : 0;
    const std::string label =
        "All " + std::to_string(finished) + "/" + std::to_string(Progress.size()) + " files";
    return ShortName(label) + " " + Bar(fraction) + " " + Percent(fraction) + ", " +
           std::to_string(std::lround(fps)) + " fps" + TimeLeft(fraction, elapsed);
}

void TProgressDisplay::Update() {
    const TClock::time_point now = TClock::now();
    for (std::size_t i = 0; i < States.size(); ++i) {
        if (!States[i].Seen && Progress[i].Started) {
            States[i].Seen = true;
            States[i].Start = TClock::time_point(TClock::duration(Progress[i].StartTicks.load()));
        }
    }
    if (Terminal) {
        DrawBars(now);
    } else {
        WritePlainLines(now);
    }
    std::fflush(Out);
}

void TProgressDisplay::DrawBars(TClock::time_point now) {
    std::string text;
    if (LinesDrawn > 0) {
        text += "\033[" + std::to_string(LinesDrawn) + "F";
    }
    int lines = 0;
    for (std::size_t i = 0; i < States.size(); ++i) {
        if (States[i].Seen && !Progress[i].Finished) {
            text += "\033[2K" + FileLine(i, now) + "\n";
            ++lines;
        }
    }
    text += "\033[2K" + OverallLine(now) + "\n";
    ++lines;
    for (int extra = lines; extra < LinesDrawn; ++extra) {
        text += "\033[2K\n";
    }
    if (LinesDrawn > lines) {
        text += "\033[" + std::to_string(LinesDrawn - lines) + "F";
    }
    LinesDrawn = lines;
    std::fputs(text.c_str(), Out);
}

void TProgressDisplay::WritePlainLines(TClock::time_point now) {
    for (std::size_t i = 0; i < States.size(); ++i) {
        TFileState& state = States[i];
        if (!state.Seen || state.Reported) {
            continue;
        }
        // A finished file gets its last line once, also when it finished
        // before any line was due (a short file on a fast machine).
        const bool finished = Progress[i].Finished;
        state.Reported = finished;
        const int tenth = finished ? 10 : static_cast<int>(Progress[i].Fraction.load() * 10);
        if (tenth != state.Tenth) {
            state.Tenth = tenth;
            std::fprintf(Out, "%s: %s\n", Names[i].c_str(), FileFigures(i, now).c_str());
        }
    }
}

void TProgressDisplay::Finish() {
    if (Terminal && LinesDrawn > 0) {
        std::string text = "\033[" + std::to_string(LinesDrawn) + "F";
        for (int i = 0; i < LinesDrawn; ++i) {
            text += "\033[2K\n";
        }
        text += "\033[" + std::to_string(LinesDrawn) + "F";
        std::fputs(text.c_str(), Out);
        LinesDrawn = 0;
    }
    std::fflush(Out);
}
