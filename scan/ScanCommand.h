#pragma once
// `stirwatch scan [options] FILE...`: scans recordings for movement without a
// window and writes the results of each beside the others.

#include <string>
#include <vector>

// The arguments after "scan". Returns the exit status: 0 when every file was
// scanned and its results written, 1 when some file failed, 2 for a command
// line that cannot be understood.
int RunScanCommand(const std::vector<std::string>& arguments);
