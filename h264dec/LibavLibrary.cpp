#include "h264dec/LibavLibrary.h"

extern "C" {
#include <libavutil/macros.h>
}

#include <dlfcn.h>

#include <string>

namespace {

// The versions the program was built against, by their file names.
constexpr const char* CodecLibrary = "libavcodec.so." AV_STRINGIFY(LIBAVCODEC_VERSION_MAJOR);
constexpr const char* UtilLibrary = "libavutil.so." AV_STRINGIFY(LIBAVUTIL_VERSION_MAJOR);

// Never closed: the functions stay in use until the process ends, and
// pictures lent to GStreamer are released through them from any thread at
// any time, even after every decoder is gone.
void* OpenLibrary(const char* name) {
    void* library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = dlerror();
        throw ELibavError(std::string("cannot load ") + name + ": " +
                          (reason != nullptr ? reason : "unknown reason"));
    }
    return library;
}

template <typename TFunction>
void Find(void* library, const char* libraryName, const char* name, TFunction& function) {
    function = reinterpret_cast<TFunction>(dlsym(library, name));
    if (function == nullptr) {
        throw ELibavError(std::string(libraryName) + " has no function " + name);
    }
}

TLibavFunctions Load() {
    void* codec = OpenLibrary(CodecLibrary);
    void* util = OpenLibrary(UtilLibrary);
    TLibavFunctions f{};
    Find(codec, CodecLibrary, "avcodec_find_decoder", f.FindDecoder);
    Find(codec, CodecLibrary, "avcodec_alloc_context3", f.AllocContext);
    Find(codec, CodecLibrary, "avcodec_free_context", f.FreeContext);
    Find(codec, CodecLibrary, "avcodec_open2", f.Open);
    Find(codec, CodecLibrary, "avcodec_send_packet", f.SendPacket);
    Find(codec, CodecLibrary, "avcodec_receive_frame", f.ReceiveFrame);
    Find(codec, CodecLibrary, "avcodec_flush_buffers", f.FlushBuffers);
    Find(codec, CodecLibrary, "av_packet_alloc", f.PacketAlloc);
    Find(codec, CodecLibrary, "av_packet_free", f.PacketFree);
    Find(util, UtilLibrary, "av_frame_alloc", f.FrameAlloc);
    Find(util, UtilLibrary, "av_frame_free", f.FrameFree);
    Find(util, UtilLibrary, "av_frame_unref", f.FrameUnref);
    Find(util, UtilLibrary, "av_frame_clone", f.FrameClone);
    Find(util, UtilLibrary, "av_frame_get_plane_buffer", f.FramePlaneBuffer);
    Find(util, UtilLibrary, "av_mallocz", f.Mallocz);
    Find(util, UtilLibrary, "av_strerror", f.ErrorText);
    Find(util, UtilLibrary, "av_get_pix_fmt_name", f.PixelFormatName);
    return f;
}

} // namespace

const TLibavFunctions& Libav() {
    // A failed load throws out of the initialisation and is tried again at
    // the next call.
    static const TLibavFunctions functions = Load();
    return functions;
}
