#include "capture/SourceProblems.h"

#include <array>
#include <utility>

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

constexpr std::string_view Libav = "gstreamer1.0-libav";
constexpr std::string_view Good = "gstreamer1.0-plugins-good";
constexpr std::string_view Bad = "gstreamer1.0-plugins-bad";
constexpr std::string_view Ugly = "gstreamer1.0-plugins-ugly";
constexpr std::string_view Base = "gstreamer1.0-plugins-base";

// Elements by exact name, for those not recognised by their prefix.
constexpr std::array<std::pair<std::string_view, std::string_view>, 40> ElementPackages{{
    {"x264enc", Ugly},        {"mpeg2dec", Ugly},
    {"a52dec", Ugly},         {"asfdemux", Ugly},
    {"rmdemux", Ugly},        {"dvdreadsrc", Ugly},
    {"mpegpsdemux", Bad},     {"tsdemux", Bad},
    {"h264parse", Bad},       {"h265parse", Bad},
    {"mpeg4videoparse", Bad}, {"jpegparse", Bad},
    {"openh264dec", Bad},     {"dav1ddec", Bad},
    {"rtmpsrc", Bad},         {"srtsrc", Bad},
    {"hlsdemux", Bad},        {"dashdemux", Bad},
    {"rtspsrc", Good},        {"souphttpsrc", Good},
    {"multipartdemux", Good}, {"jpegdec", Good},
    {"jpegenc", Good},        {"avidemux", Good},
    {"avimux", Good},         {"qtdemux", Good},
    {"matroskademux", Good},  {"v4l2src", Good},
    {"vp8dec", Good},         {"vp9dec", Good},
    {"flvdemux", Good},       {"theoradec", Base},
    {"oggdemux", Base},       {"videotestsrc", Base},
    {"videoconvert", Base},   {"videoscale", Base},
    {"videorate", Base},      {"uridecodebin", Base},
    {"decodebin", Base},      {"pipewiresrc", "gstreamer1.0-pipewire"},
}};

constexpr std::array<std::pair<std::string_view, std::string_view>, 22> MediaTypePackages{{
    {"video/x-h264", Libav},
    {"video/x-h265", Libav},
    {"video/mpeg", Libav},
    {"video/x-divx", Libav},
    {"video/x-xvid", Libav},
    {"video/x-msmpeg", Libav},
    {"video/x-wmv", Libav},
    {"video/x-cinepak", Libav},
    {"video/x-svq", Libav},
    {"video/x-flash-video", Libav},
    {"video/x-indeo", Libav},
    {"video/x-av1", Libav},
    {"video/x-h263", Libav},
    {"video/x-vp8", Good},
    {"video/x-vp9", Good},
    {"video/x-theora", Base},
    {"video/mpegts", Bad},
    {"video/quicktime", Good},
    {"video/x-matroska", Good},
    {"video/x-ms-asf", Ugly},
    {"application/vnd.rn-realmedia", Ugly},
    {"image/jpeg", Good},
}};

std::string WithPackage(std::string text, const std::string& package) {
    if (!package.empty()) {
        text += " (install " + package + ")";
    }
    return text;
}

std::string Message(const GError* error) {
    return error && error->message ? std::string(error->message) : std::string("unknown error");
}

} // namespace

std::string PackageForElement(std::string_view element) {
    if (StartsWith(element, "avdec_") || StartsWith(element, "avenc_") ||
        StartsWith(element, "avdemux_") || StartsWith(element, "avmux_")) {
        return std::string(Libav);
    }
    for (const auto& [name, package] : ElementPackages) {
        if (name == element) {
            return std::string(package);
        }
    }
    return {};
}

std::string PackageForMediaType(std::string_view mediaType) {
    const std::string_view name = mediaType.substr(0, mediaType.find_first_of(", "));
    for (const auto& [type, package] : MediaTypePackages) {
        if (type == name) {
            return std::string(package);
        }
    }
    return {};
}

std::string MissingPluginText(const std::string& description, const std::string& installerDetail) {
    // The detail's last field says what kind of plug-in is missing and for what.
    const std::string_view detail(installerDetail);
    const std::string_view what = detail.substr(detail.rfind('|') + 1);
    std::string package;
    std::string kind = "plug-in";
    if (what == "decoder-text/html" || what == "decoder-application/xhtml+xml") {
        // Nothing to install: the address serves a web page (a camera's own
        // pages, a login form), not video.
        return WebPageMissing;
    }
    if (StartsWith(what, "decoder-")) {
        kind = "decoder";
        package = PackageForMediaType(what.substr(8));
    } else if (StartsWith(what, "element-")) {
        package = PackageForElement(what.substr(8));
    } else if (StartsWith(what, "urisource-")) {
        kind = "source for " + std::string(what.substr(10)) + " addresses";
    }
    const std::string name = description.empty() ? std::string(what) : description;
    return WithPackage("Missing " + kind + ": " + name, package);
}

std::string ParseErrorText(const GError* error) {
    std::string text = "Error in the pipeline description: " + Message(error);
    if (error && error->domain == GST_PARSE_ERROR &&
        error->code == GST_PARSE_ERROR_NO_SUCH_ELEMENT && error->message) {
        // "no element "x264enc"": the element's name is between the quotes.
        const std::string_view message(error->message);
        const auto open = message.find('"');
        const auto close = message.rfind('"');
        if (open != std::string_view::npos && close > open) {
            return WithPackage(text, PackageForElement(message.substr(open + 1, close - open - 1)));
        }
    }
    return text;
}

bool IsConnectionError(const GError* error) {
    if (!error) {
        return false;
    }
    if (error->domain == GST_RESOURCE_ERROR) {
        return error->code != GST_RESOURCE_ERROR_NOT_AUTHORIZED;
    }
    // A network source that stops feeding its pipeline reports a flow error.
    return error->domain == GST_STREAM_ERROR && error->code == GST_STREAM_ERROR_FAILED;
}

std::string DescribeError(const GError* error, const std::string& debug, TSourceClass source,
                          const std::string& name, const std::string& missing) {
    const std::string message = Message(error);
    if (missing == WebPageMissing) {
        return name + " is a web page, not a video stream";
    }
    if (!missing.empty()) {
        return missing + " - " + name + " cannot be played";
    }
    if (!error) {
        return "Video stream error: " + message;
    }
    if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN) {
        return "Missing plug-in for " + name + ": " + message;
    }
    if (error->domain == GST_STREAM_ERROR) {
        switch (error->code) {
        case GST_STREAM_ERROR_CODEC_NOT_FOUND:
            return "Missing decoder for " + name + ": " + message;
        case GST_STREAM_ERROR_TYPE_NOT_FOUND:
        case GST_STREAM_ERROR_WRONG_TYPE:
        case GST_STREAM_ERROR_DEMUX:
            return "Not a video: " + name + " (" + message + ")";
        case GST_STREAM_ERROR_DECODE:
            return "Cannot decode " + name + ": " + message;
        default:
            break;
        }
    }
    if (error->domain == GST_RESOURCE_ERROR) {
        switch (error->code) {
        case GST_RESOURCE_ERROR_NOT_FOUND:
            if (source == TSourceClass::File) {
                return "File not found: " + name;
            }
            if (source == TSourceClass::Network) {
                return "Not found on the server: " + name + " (" + message + ")";
            }
            return "Device not found: " + name + " (" + message + ")";
        case GST_RESOURCE_ERROR_BUSY:
            return "Device busy: " + name + " (" + message + ")";
        case GST_RESOURCE_ERROR_NOT_AUTHORIZED:
            return "Access denied: " + name + " (" + message + ")";
        default:
            if (source == TSourceClass::Network) {
                return "Cannot connect to " + name + " (" + message + ")";
            }
            if (source == TSourceClass::Camera) {
                return "Cannot open the device " + name + " (" + message + ")";
            }
            if (source == TSourceClass::File) {
                return "Cannot read " + name + " (" + message + ")";
            }
            break;
        }
    }
    (void)debug;
    return "Video stream error: " + message;
}
