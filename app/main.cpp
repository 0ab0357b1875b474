#include "app/Program.h"
#include "scan/ScanCommand.h"

#include <cstring>
#include <string>
#include <vector>

// "stirwatch scan ..." scans recordings without a window; anything else
// starts the program's windows.
int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "scan") == 0) {
        return RunScanCommand(std::vector<std::string>(argv + 2, argv + argc));
    }
    return RunProgram(argc, argv);
}
