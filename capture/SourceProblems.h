#pragma once
// What is wrong with a source, in the user's words: GStreamer's errors,
// missing plug-ins and refused connections turned into status texts that name
// the problem and, for a missing decoder, the Debian package that provides it.
// Qt-free.

#include <gst/gst.h>

#include <string>
#include <string_view>

// The Debian package that provides a GStreamer element ("avdec_h264"); empty when unknown.
std::string PackageForElement(std::string_view element);

// The Debian package whose plug-ins handle a media type ("video/x-h264"); empty when unknown.
std::string PackageForMediaType(std::string_view mediaType);

// A missing plug-in as GStreamer describes it: its description ("H.264 (High Profile)
// decoder") and installer detail ("gstreamer|1.0|app|desc|decoder-video/x-h264, ...").
// Gives "Missing decoder: H.264 (High Profile) decoder (install gstreamer1.0-libav)".
// A decoder for a web page is no plug-in to install: then this text is given.
std::string MissingPluginText(const std::string& description, const std::string& installerDetail);
inline const std::string WebPageMissing = "A web page, not a video stream";

// A launch description GStreamer could not parse.
std::string ParseErrorText(const GError* error);

enum class TSourceClass { File, Network, Camera, Other };

// A stream or resource error of a source named `name`. `missing` is the text of a
// missing plug-in reported just before, if any.
std::string DescribeError(const GError* error, const std::string& debug, TSourceClass source,
                          const std::string& name, const std::string& missing);

// Whether an error of a network source means the connection failed or went away.
bool IsConnectionError(const GError* error);
