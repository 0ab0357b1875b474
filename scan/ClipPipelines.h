#pragma once
// The two pipelines behind an event clip: a reader that hands over the video
// stream of a recording, either as packets (demuxed and parsed, never
// decoded) or as decoded frames, and a writer that muxes packets as they are,
// or encodes frames, into a file.

#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <cstdint>
#include <memory>
#include <string>

class TClipReader {
public:
    enum class TMode { Packets, Frames };

    // Starts reading; throws EScanFileError when the pipeline cannot be built.
    TClipReader(const std::string& path, TMode mode);
    ~TClipReader();
    TClipReader(const TClipReader&) = delete;
    TClipReader& operator=(const TClipReader&) = delete;

    // The next sample of the video stream, or null at its end. Throws
    // EScanFileError when the file cannot be read.
    TSamplePtr Next();

    struct TState;

private:
    std::unique_ptr<TState> State;
};

// The time of a sample's buffer in the recording (stream time) from its
// presentation time, else its decoding time; -1 when it has neither.
std::int64_t SampleTimeNs(GstSample* sample);

// Whether a packet can start a clip (it does not depend on earlier ones).
bool IsKeyFrame(GstSample* sample);

class TClipWriter {
public:
    // Writes to `path` (which must exist and is overwritten) the buffers of
    // `caps`, through `chain`: a launch description between the source of
    // the buffers and the file (a muxer, or a converter, encoder and muxer).
    // Throws EScanFileError when the pipeline cannot be built or started.
    TClipWriter(const std::string& path, GstCaps* caps, const std::string& chain);
    ~TClipWriter();
    TClipWriter(const TClipWriter&) = delete;
    TClipWriter& operator=(const TClipWriter&) = delete;

    // Pushes the sample's buffer with its times moved `offsetNs` earlier.
    // Throws EScanFileError when the writer has failed.
    void Push(GstSample* sample, std::int64_t offsetNs);
    // Ends the stream and waits until the file is complete. Throws
    // EScanFileError.
    void Finish();

    struct TState;

private:
    std::unique_ptr<TState> State;
};
