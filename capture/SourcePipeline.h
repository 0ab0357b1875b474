#pragma once
// Builds the pipeline of a source: the source part for its kind (test scene,
// file, RTSP, HTTP, camera, launch description) and the common tail that
// converts, scales and rates the picture (the capsfilter "format" chooses the
// size and rate) into an appsink of frames in the decoder's own format where
// it is I420, NV12, BGR or gray (converted to one of these otherwise). Frames that come without a
// timestamp (HTTP cameras) are stamped with their time of arrival.

#include "capture/GstSupport.h"

#include <memory>
#include <string>

enum class TSourceKind { TestScene, File, Url, Launch, Camera };

// One video source of the machine, as the catalogue found it.
struct TSource {
    TSourceKind Kind = TSourceKind::TestScene;
    std::string Name;
    std::string Location; // file path, URL or launch description
    std::shared_ptr<GstDevice> Device;

    bool Network() const;
    bool Live() const;
};

struct TSourcePipeline {
    TGstPtr<GstElement> Pipeline;
    TGstPtr<GstElement> Sink;          // the appsink
    TGstPtr<GstElement> FormatFilter;  // the capsfilter after scaling and rate conversion
    TGstPtr<GstElement> Converter;     // the first element of the tail: decoded frames at the
                                       // source's size and rate come into its sink pad
    TGstPtr<GstElement> SourceElement; // the element named "src", if any
    std::string Error;                 // why there is no pipeline, in the user's words
};

// Why a file source cannot be played (missing, a folder, unreadable), in the
// user's words; empty for a readable file and for every other kind of source.
// Quick: it needs no GStreamer.
std::string SourceFileProblem(const TSource& source);

// Makes the pipeline; slow the first time (GStreamer's start, plug-ins loaded).
TSourcePipeline BuildSourcePipeline(const TSource& source);
