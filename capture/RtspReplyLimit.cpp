#include "capture/RtspReplyLimit.h"

#include <gst/rtsp/gstrtspconnection.h>

#include <dlfcn.h>

#include <cstring>

namespace {

using TCreate = GstRTSPResult (*)(const GstRTSPUrl*, GstRTSPConnection**);

TCreate LibraryCreate() {
    static const auto create =
        reinterpret_cast<TCreate>(dlsym(RTLD_NEXT, "gst_rtsp_connection_create"));
    return create;
}

} // namespace

// The RTSP source makes each of its connections with this function and offers
// no way to reach them; the program's executables export this definition
// (see capture/CMakeLists.txt), so the source's call comes here first. It makes
// the connection with GStreamer's own function and sets the bound on it: a
// reply announcing a longer body fails the connection, which the RTSP source
// reports as an error.
extern "C" GstRTSPResult gst_rtsp_connection_create(const GstRTSPUrl* url,
                                                    GstRTSPConnection** conn) {
    const TCreate create = LibraryCreate();
    if (!create) {
        return GST_RTSP_ERROR;
    }
    const GstRTSPResult result = create(url, conn);
    if (result == GST_RTSP_OK && conn && *conn) {
        gst_rtsp_connection_set_content_length_limit(*conn, LargestRtspReply);
    }
    return result;
}

bool RtspReplyLimitInForce() {
    // Is the symbol the dynamic linker hands to others this one?
    const auto found = reinterpret_cast<TCreate>(dlsym(RTLD_DEFAULT, "gst_rtsp_connection_create"));
    return found == &gst_rtsp_connection_create && LibraryCreate() != nullptr;
}

bool IsRtspReplyRefusal(const char* details) {
    return details && std::strstr(details, "Could not receive message") &&
           std::strstr(details, "(Out of memory)");
}
