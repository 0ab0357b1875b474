#pragma once
// Reads the video of one recording with GStreamer: decodes it once and hands
// over, without any conversion where the decoder's output allows, only the
// frames the step takes. The frames of an MJPEG stream that the step skips
// are dropped before the decoder, since each JPEG stands alone.

#include "engine/FrameView.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

// A recording that cannot be read; the text says why.
class EScanFileError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A decoded frame as the decoder hands it over, and its time in the video
// (stream time) in nanoseconds.
struct TDecodedFrame {
    TFrameView View;
    std::int64_t TimeNs = 0;
};

// When the container says the recording was made: UTC seconds since 1970.
using TCreationTime = std::optional<std::int64_t>;

// How far a decoding has come, for a display on another thread.
struct TDecodeProgress {
    std::atomic<double> Fraction{0};         // 0..1
    std::atomic<std::int64_t> FramesSeen{0}; // decoded frames, taken or not
};

class TVideoDecoder {
public:
    // Opens the file and starts decoding. Throws EScanFileError when the file
    // is missing or cannot be opened. `progress`, when given, is kept up to
    // date while the decoder reads.
    TVideoDecoder(const std::string& path, std::int64_t stepNs,
                  TDecodeProgress* progress = nullptr);
    ~TVideoDecoder();
    TVideoDecoder(const TVideoDecoder&) = delete;
    TVideoDecoder& operator=(const TVideoDecoder&) = delete;

    // The next frame the step takes, valid until the next call; false at the
    // end of the video. Throws EScanFileError when the file cannot be
    // decoded (damaged, not a video, no decoder installed).
    bool NextFrame(TDecodedFrame& frame);

    // Length of the video in nanoseconds, or -1 when the file does not say.
    std::int64_t DurationNs() const;
    // How far the decoding has come, 0..1: by time when the length is known,
    // otherwise by the bytes read.
    double Progress() const;
    // Frames that reached the reader so far (taken or not).
    std::int64_t FramesSeen() const;
    TCreationTime CreationTime() const;
    // The end of the last frame seen, in nanoseconds of video time.
    std::int64_t EndNs() const;

    // The decoding state, shared with GStreamer's callbacks.
    struct TState;

private:
    std::unique_ptr<TState> State;
};
