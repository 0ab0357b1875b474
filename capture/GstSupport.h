#pragma once
// The program's GStreamer toolkit (owners, pipelines, error texts), with the
// capture layer's adapters between GStreamer's strings and QString.

#include "gstkit/GstKit.h"
#include "gstkit/GstOwners.h"

#include <QString>

#include <gst/gst.h>

// Takes a string GStreamer handed over (may be null) and frees it.
QString TakeGString(gchar* text);

// The caps of a text; null when the text is not caps.
TCapsPtr CapsFromText(const QString& text);
