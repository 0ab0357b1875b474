// The status texts of what can go wrong with a source: GStreamer's errors and
// missing plug-ins in the user's words, with the package that fixes them.

#include "capture/SourceProblems.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

struct TErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
using TError = std::unique_ptr<GError, TErrorFree>;

TError Error(GQuark domain, int code, const char* message) {
    return TError(g_error_new_literal(domain, code, message));
}

TEST(SourceProblems, PackagesOfCommonDecodersAndElements) {
    EXPECT_EQ(PackageForMediaType("video/x-h264, stream-format=avc"), "gstreamer1.0-libav");
    EXPECT_EQ(PackageForMediaType("video/mpeg, mpegversion=(int)4"), "gstreamer1.0-libav");
    EXPECT_EQ(PackageForMediaType("video/x-divx"), "gstreamer1.0-libav");
    EXPECT_EQ(PackageForMediaType("video/x-cinepak"), "gstreamer1.0-libav");
    EXPECT_EQ(PackageForMediaType("video/x-vp9"), "gstreamer1.0-plugins-good");
    EXPECT_EQ(PackageForMediaType("video/x-something-new"), "");
    EXPECT_EQ(PackageForElement("avdec_mpeg4"), "gstreamer1.0-libav");
    EXPECT_EQ(PackageForElement("x264enc"), "gstreamer1.0-plugins-ugly");
    EXPECT_EQ(PackageForElement("h264parse"), "gstreamer1.0-plugins-bad");
    EXPECT_EQ(PackageForElement("pipewiresrc"), "gstreamer1.0-pipewire");
    EXPECT_EQ(PackageForElement("nosuchelement"), "");
}

TEST(SourceProblems, MissingPluginNamesWhatAndWhichPackage) {
    EXPECT_EQ(MissingPluginText("MPEG-4 Video decoder",
                                "gstreamer|1.0|stirwatch|MPEG-4 Video decoder|decoder-video/mpeg, "
                                "mpegversion=(int)4, systemstream=(boolean)false"),
              "Missing decoder: MPEG-4 Video decoder (install gstreamer1.0-libav)");
    EXPECT_EQ(MissingPluginText("", "gstreamer|1.0|stirwatch||element-x264enc"),
              "Missing plug-in: element-x264enc (install gstreamer1.0-plugins-ugly)");
    EXPECT_EQ(MissingPluginText("Odd decoder", "garbage"), "Missing plug-in: Odd decoder");
    // A web page needs no plug-in: it is no video.
    EXPECT_EQ(MissingPluginText("text/html decoder",
                                "gstreamer|1.0|stirwatch|text/html decoder|decoder-text/html"),
              WebPageMissing);
    EXPECT_EQ(DescribeError(nullptr, "", TSourceClass::Network, "http://cam/", WebPageMissing),
              "http://cam/ is a web page, not a video stream");
}

TEST(SourceProblems, ParseErrorsNameTheElementAndItsPackage) {
    const TError unknown =
        Error(GST_PARSE_ERROR, GST_PARSE_ERROR_NO_SUCH_ELEMENT, "no element \"x264enc\"");
    EXPECT_EQ(ParseErrorText(unknown.get()), "Error in the pipeline description: no element "
                                             "\"x264enc\" (install gstreamer1.0-plugins-ugly)");
    const TError link = Error(GST_PARSE_ERROR, GST_PARSE_ERROR_LINK, "could not link a to b");
    EXPECT_EQ(ParseErrorText(link.get()),
              "Error in the pipeline description: could not link a to b");
    EXPECT_EQ(ParseErrorText(nullptr), "Error in the pipeline description: unknown error");
}

TEST(SourceProblems, ErrorsInTheUsersWords) {
    const auto describe = [](GQuark domain, int code, TSourceClass source,
                             const std::string& missing = {}) {
        const TError error = Error(domain, code, "GStreamer says so");
        return DescribeError(error.get(), "", source, "clip.avi", missing);
    };
    EXPECT_EQ(describe(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, TSourceClass::File),
              "File not found: clip.avi");
    EXPECT_EQ(describe(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NOT_FOUND, TSourceClass::Camera),
              "Device not found: clip.avi (GStreamer says so)");
    EXPECT_EQ(describe(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_BUSY, TSourceClass::Camera),
              "Device busy: clip.avi (GStreamer says so)");
    EXPECT_EQ(describe(GST_STREAM_ERROR, GST_STREAM_ERROR_WRONG_TYPE, TSourceClass::File),
              "Not a video: clip.avi (GStreamer says so)");
    EXPECT_EQ(describe(GST_STREAM_ERROR, GST_STREAM_ERROR_TYPE_NOT_FOUND, TSourceClass::File),
              "Not a video: clip.avi (GStreamer says so)");
    EXPECT_EQ(describe(GST_STREAM_ERROR, GST_STREAM_ERROR_CODEC_NOT_FOUND, TSourceClass::File,
                       "Missing decoder: H.264 (install gstreamer1.0-libav)"),
              "Missing decoder: H.264 (install gstreamer1.0-libav) - clip.avi cannot be played");
    EXPECT_EQ(describe(GST_CORE_ERROR, GST_CORE_ERROR_PAD, TSourceClass::Other),
              "Video stream error: GStreamer says so");
    EXPECT_TRUE(IsConnectionError(Error(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_READ, "x").get()));
    EXPECT_FALSE(IsConnectionError(Error(GST_STREAM_ERROR, GST_STREAM_ERROR_DECODE, "x").get()));
}

} // namespace
