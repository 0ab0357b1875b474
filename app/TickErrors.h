#pragma once
// Errors of automatic mode's timer ticks. A step that fails on every tick
// would open its error box again right after each OK, and the user would
// never get a click through to "Auto" to stop it. Within one automatic run
// an error is therefore shown once; its repeats are only counted, for the
// status line.

#include <functional>
#include <map>
#include <string>

class TTickErrors {
public:
    using TOutlet = std::function<void(const std::string& text)>;

    // Runs one tick. An error it throws goes to `show` (the standard error
    // display) the first time it occurs in the run; a repeat only updates the
    // count that `status` puts on the status line. Nothing leaves the call
    // but what `show` or `status` throw.
    void Run(const std::function<void()>& tick, const TOutlet& show, const TOutlet& status);

    // Records one failed tick. True the first time this error occurs in the
    // run (show it); false for a repeat, which is counted.
    bool Occur(const std::string& message);

    // How often the latest repeated error came back, and the error, e.g.
    // "3 more times: Cannot create file "/w/images/0.5.bmp". No such file or
    // directory": the count first, where a narrow status line still shows
    // it. Empty while nothing repeated.
    std::string StatusText() const;

    // A new automatic run: every error may be shown once again.
    void Reset();

    // What makes two errors the same: their text with the file part of every
    // quoted path left out, so that saves failing in one folder under
    // changing file names (the time of day) count as one error.
    static std::string Key(const std::string& message);

private:
    std::map<std::string, int> FRepeats;
    std::string FLatest;
    int FLatestRepeats = 0;
};
