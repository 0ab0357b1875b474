#pragma once
// Whether a shared library is in the process: for the libraries the program
// opens only when a feature first needs them.

#include <fstream>
#include <string>

// True when a mapping of the process names a file whose path holds `name`
// (e.g. "/libavcodec.so").
inline bool LibraryMapped(const std::string& name) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find(name) != std::string::npos) {
            return true;
        }
    }
    return false;
}
