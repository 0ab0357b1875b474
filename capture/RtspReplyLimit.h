#pragma once
// A bound on the size of what an RTSP server says in reply (the session
// description and any other reply body). GStreamer's RTSP source reads a reply
// body of whatever length the server announces (up to 4 GB, allocated at
// once), so a hostile or broken server could take all the memory before a
// picture was due. The bound is set on every RTSP connection the process opens.

#include <cstdint>

// No camera's session description comes near it: they are a few kilobytes.
constexpr std::uint32_t LargestRtspReply = 1u << 20;

// Whether the bound is set on the RTSP connections of this process: false
// when the program was linked without the export that lets GStreamer's RTSP
// source find it.
bool RtspReplyLimitInForce();

// Whether the details of a source's error say that a reply passed the bound:
// GStreamer's RTSP source reports it as a message it could not receive for
// want of memory.
bool IsRtspReplyRefusal(const char* details);
