#pragma once
// Test media made on the spot with GStreamer's own encoders: short clips of a
// moving test pattern in the containers and codecs users' recordings come in.

#include <string>

enum class TClipKind { MjpegAvi, H264Mp4, Mpeg4Avi };

// True when the encoder and muxer the kind needs are installed.
bool EncoderAvailable(TClipKind kind);

// Encodes `frames` frames of a moving pattern at the given size and rate into a new
// file in `folder` and returns its path. Throws std::runtime_error on failure.
std::string MakeTestClip(const std::string& folder, TClipKind kind, int frames, int width,
                         int height, int fps);

// Decodes the video of a file to its end and returns the number of frames in it.
// Throws std::runtime_error when the file cannot be decoded.
int CountVideoFrames(const std::string& path);
