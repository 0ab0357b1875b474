#pragma once
// The source dialog's controls for a GStreamer source: the test scene's
// pattern, a file's looping, a camera's colour balance.

#include <gst/gst.h>

#include <atomic>
#include <memory>

class QFormLayout;
class QWidget;

void AddPatternControl(GstElement* source, QWidget* dialog, QFormLayout* layout);
void AddLoopControl(std::shared_ptr<std::atomic<bool>> looping, QWidget* dialog,
                    QFormLayout* layout);
void AddColorBalanceControls(GstElement* element, QWidget* dialog, QFormLayout* layout);
