#pragma once
// The catalogue of the machine's video sources. Driver index N is the N-th
// source. When the environment variable STIRWATCH_SOURCE is set, it is driver 0:
//   "test"                  a built-in moving test scene
//   a path to a video file  played in a loop at its own frame rate
//   rtsp://, http(s)://     a network stream
//   anything else           a GStreamer launch description producing video
// The cameras reported by the GStreamer device monitor (class Video/Source)
// follow, ordered by device path and name.

#include "capture/GstDriver.h"
#include "capture/VideoDriver.h"

#include <QString>

#include <vector>

// The built-in test scene ("test" source): a GStreamer launch description of a
// live scene of the given size and rate; its source element is named "src".
QString TestSceneDescription(int width, int height, int fps);

// Starts GStreamer and the camera monitor on a thread of their own (once).
void PrepareCatalogue();

// The source a STIRWATCH_SOURCE setting names.
TSource SourceFromSetting(const QString& setting);

// The machine's cameras, ordered by device path and name. Waits for the camera
// monitor when it is still starting: never on the GUI thread before it is ready.
std::vector<TSource> MachineCameras();

class TSystemCatalog final : public TDriverCatalog {
public:
    void Refresh() override;
    void EnsureRead() override;
    int Count() const override;
    bool Has(int index) const override;
    TDriverDescription Describe(int index) const override;
    std::unique_ptr<TVideoDriver> Open(int index) override;

private:
    // Appends the cameras once after each refresh (the list is read lazily).
    void ReadCameras() const;
    bool FirstCameraPending() const;

    mutable std::vector<TSource> FSources;
    mutable bool FCamerasRead = false;
    bool FRead = false;
};
