#pragma once
// The programs that run the whole main window start measuring at its first
// frame: Start Video returns before the source delivers, and a step needs a
// frame to compare with.

#include <functional>

class QObject;
class TVideo;

// Calls `then` once, on the event loop, when the window holds the first
// frame of the video it started; looks every `pollMs` milliseconds, and
// stops looking when `context` goes.
void AfterFirstFrame(TVideo& window, QObject& context, std::function<void()> then,
                     int pollMs = 100);
