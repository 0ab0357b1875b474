#pragma once
// Test media made on the spot with GStreamer's own encoders: short clips of a
// moving test pattern in the containers and codecs users' recordings come in.

#include <string>
#include <vector>

// RawBgrAvi: uncompressed 24-bit frames in AVI. MjpegStreamMkv: MJPEG in
// Matroska written as a stream, without a duration or an index.
enum class TClipKind { MjpegAvi, H264Mp4, Mpeg4Avi, RawBgrAvi, MjpegStreamMkv };

// True when the encoder and muxer the kind needs are installed.
bool EncoderAvailable(TClipKind kind);

// Encodes `frames` frames of a moving pattern at the given size and rate into a new
// file in `folder` and returns its path. Throws std::runtime_error on failure.
std::string MakeTestClip(const std::string& folder, TClipKind kind, int frames, int width,
                         int height, int fps);

// Decodes the video of a file to its end and returns the number of frames in it.
// Throws std::runtime_error when the file cannot be decoded.
int CountVideoFrames(const std::string& path);

// A still scene (smooth shading and large blocks) that a dark ball crosses
// from left to right between BallFrom and BallTo seconds: the ball shows on
// the frames from BallFrom on and is gone from BallTo on, so movement starts
// at BallFrom and ends at BallTo.
struct TBallClip {
    int Width = 320;
    int Height = 240;
    int Fps = 10;
    double Seconds = 12;
    double BallFrom = 5;
    double BallTo = 9;
};

// Encodes the clip into a new file in `folder` and returns its path. Throws
// std::runtime_error on failure.
std::string MakeBallClip(const std::string& folder, TClipKind kind, const TBallClip& clip);

// The 24-bit blue-green-red pixels of frame `index` of the clip, row by row.
std::vector<unsigned char> BallFrame(const TBallClip& clip, int index);
