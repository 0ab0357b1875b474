#pragma once
// An appsrc that holds at most a given number of frames for the elements
// after it: counted in frames only (its byte and time limits stay off),
// frames timed in clock time, and a push that never blocks the thread that
// pushes. What happens to a frame that finds it full is the owner's choice:
// the oldest waiting frame makes room (a live encoder, where the newest
// frame matters most), or the frame is refused and the owner decides what
// else to leave out (a writer that must stay decodable).

#include "gstkit/GstOwners.h"

#include <gst/gst.h>

#include <cstddef>
#include <string>

class TBoundedAppSrc {
public:
    enum class TWhenFull { DropOldest, Refuse };
    struct TOptions {
        std::size_t Frames = 0; // at most this many frames wait
        TWhenFull WhenFull = TWhenFull::Refuse;
        bool Live = false; // frames are pushed as they happen
    };

    // "appsrc name=NAME", the part of a launch description the constructor
    // then sets up.
    static std::string Description(const std::string& name);

    TBoundedAppSrc() = default;
    // Sets up the appsrc named `name` in `pipeline` (not yet started) for
    // frames of `caps`; throws EGstError when the pipeline has no such appsrc.
    TBoundedAppSrc(GstElement* pipeline, const std::string& name, GstCaps* caps,
                   const TOptions& options);

    // The frames that wait now.
    std::size_t Waiting() const;
    bool Full() const { return Waiting() >= FOptions.Frames; }
    // A new bound, from the next push on.
    void SetLimit(std::size_t frames);

    // Queues `frame` and takes it. False when the source was full: the
    // frame went in and the oldest waiting one was dropped (DropOldest), or
    // the frame was released and nothing was queued (Refuse).
    bool Push(GstBuffer* frame);
    void EndOfStream();

private:
    TGstPtr<GstElement> FSource;
    TOptions FOptions;
};
