#include "capture/GstSupport.h"

bool EnsureGStreamer() {
    static const bool initialised = [] {
        GError* raw = nullptr;
        const bool ok = gst_init_check(nullptr, nullptr, &raw);
        const TErrorPtr error(raw);
        return ok;
    }();
    return initialised;
}

QString TakeGString(gchar* text) {
    const TGStringPtr owned(text);
    return QString::fromUtf8(text ? text : "");
}

TCapsPtr CapsFromText(const QString& text) {
    return TCapsPtr(gst_caps_from_string(text.toUtf8().constData()));
}

// Needs no GStreamer start: the version is the library's own.
std::string GStreamerVersionText() {
    const TGStringPtr version(gst_version_string());
    return version ? std::string(version.get()) : std::string("GStreamer");
}
