#pragma once
// The command line of `stirwatch scan`: options, files, the help text, and
// the stored detection settings that are the options' defaults.

#include "scan/FileScan.h"
#include "scan/ScanEvents.h"

#include <stdexcept>
#include <string>
#include <vector>

// A command line that cannot be understood; the text says what is wrong.
class EUsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct TScanOptions {
    TScanSettings Settings;
    TEventRules Events;
    std::string OutputFolder = ".";
    int Jobs = 0; // 0: the number of cores
    bool Plot = true;
    // A clip of each event beside the other results.
    bool Clips = false;
    bool Quiet = false;
    bool Help = false;
    std::vector<std::string> Files;
};

// Pixel Tolerance, Minimal Movement and the capture frequency as the main
// window stored them (its defaults 20, 400 and 250 ms when nothing is stored).
TScanSettings StoredScanSettings();

// Parses the arguments after "scan"; the defaults come in `defaults`.
// Throws EUsageError.
TScanOptions ParseScanOptions(const std::vector<std::string>& arguments,
                              const TScanSettings& defaults);

std::string ScanHelpText(const TScanSettings& defaults);
