#pragma once
// The capture window's three dialogs: video format, video source, video display.
// Each runs modally; the caller checks afterwards whether it still exists.

#include "capture/VideoDriver.h"

#include <vector>

class QWidget;

// Video Format: the index in `formats` the user accepted, -1 when cancelled.
int RunFormatDialog(QWidget* parent, const std::vector<TVideoFormat>& formats,
                    const TVideoFormat& current);

// Video Source: the source's own controls, which act at once.
void RunSourceDialog(QWidget* parent, TVideoDriver& driver);

struct TDisplayOptions {
    bool Scale = false;
    bool KeepAspect = true;
};

// Video Display: true when the user accepted, `options` then holds the choice.
bool RunDisplayDialog(QWidget* parent, TDisplayOptions& options);
