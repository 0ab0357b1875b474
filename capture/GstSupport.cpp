#include "capture/GstSupport.h"

QString TakeGString(gchar* text) {
    return QString::fromStdString(TakeString(text));
}

TCapsPtr CapsFromText(const QString& text) {
    return TCapsPtr(gst_caps_from_string(text.toUtf8().constData()));
}
