#pragma once
// The program's whole life, in order: module initialisation, the application
// title, the main window and its auxiliary windows, the message loop, and the
// shut-down in reverse order.

#include <functional>

class TVideo;

// Runs the program and returns its exit code. `started`, when given, runs once
// inside the message loop after the main window is shown; the end-to-end test
// drives the program from there.
int RunProgram(int& argc, char** argv, std::function<void(TVideo& mainWindow)> started = {});
