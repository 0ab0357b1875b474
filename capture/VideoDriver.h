#pragma once
// What the capture window needs from a video source, and the catalogue of the
// sources of the machine. The GStreamer drivers implement it; tests and
// benchmarks may install a catalogue of their own.

#include "engine/FrameView.h"

#include <QImage>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFormLayout;
class QWidget;
class TFrameTap;

// One frame size and rate a source can deliver.
struct TVideoFormat {
    int Width = 0;
    int Height = 0;
    int FramesPerSecond = 0;
    QString Caps; // how the source is asked for it (driver-specific)
    QString Text() const;
};

// A status event of a connected source, reported on the GUI thread.
struct TDriverStatus {
    int Id = 0;
    QString Text;
};

// Where a connected source stands.
enum class TSourceState {
    Connecting, // started, no frame yet (also while reconnecting)
    Live,       // frames arrive
    Stalled,    // frames stopped arriving, the source did not say why
    Lost,       // a network source went away; it is tried again
    Ended,      // the source ended (end of a file that does not loop)
    Failed,     // the source cannot deliver (not found, not a video, missing decoder...)
};

struct TSourceSignal {
    TSourceState State = TSourceState::Connecting;
    // Why there is no picture, in the user's words; empty while live.
    QString Reason;
};

class TVideoDriver {
public:
    virtual ~TVideoDriver() = default;

    // Starts connecting the source in the background and returns at once;
    // false when the source cannot even be set up (the reason is in TakeStatus).
    virtual bool Start() = 0;
    virtual void Stop() = 0;

    // Called from any thread whenever a frame arrived.
    virtual void SetFrameNotifier(std::function<void()> notify) = 0;
    // Hands every frame to `tap` on the streaming thread (null: to nobody). Once it
    // returns, the tap it replaced receives no further call.
    virtual void SetFrameTap(TFrameTap* /*tap*/) {}
    // Number of the newest frame that arrived, 0 when none has. Thread-safe.
    virtual std::uint64_t NewestFrameNumber() const = 0;
    // Waits until a frame newer than `after` arrived, at most two frame intervals of the
    // source and never longer than `limit`; false at once when the source is not live.
    virtual bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds limit) = 0;
    // Hands a BGR888 view of the newest frame to `use` (valid only during the call).
    // Returns the frame's number, 0 when there is no frame.
    virtual std::uint64_t WithNewestFrame(const std::function<void(const QImage&)>& use) = 0;
    // Hands a view of the newest frame, in the format the source decodes to, to `use`
    // (valid only during the call). Returns the frame's number, 0 when there is no frame.
    // By default a view of the BGR888 frame of WithNewestFrame.
    virtual std::uint64_t WithNewestView(const std::function<void(const TFrameView&)>& use);
    // Copies the newest frame into `target` as BGR888, reusing its memory when the size
    // is unchanged and nothing else shares it. Returns the frame's number, 0 when none.
    virtual std::uint64_t CopyNewestFrame(QImage& target);
    // Status events since the last call (stream errors, lost source, format changes).
    virtual std::vector<TDriverStatus> TakeStatus() = 0;
    // Called from any thread when a status event is waiting for TakeStatus.
    virtual void SetStatusNotifier(std::function<void()> /*notify*/) {}
    // Where the source stands; a driver without a signal of its own is always live.
    virtual TSourceSignal Signal() const { return {TSourceState::Live, {}}; }
    // Looks after the source (stalls, timeouts); called on the GUI thread every 100 ms.
    virtual void Watch() {}
    // The source turned out not to be there (the first camera of a machine that has
    // none): the window lets the driver go and goes on as without one.
    virtual bool Absent() const { return false; }
    // The source's name once it is known, when it was not at the start (a camera
    // found after the window connected); empty otherwise.
    virtual std::string FoundName() const { return {}; }

    // Whether the source supports a streaming capture (and so the sequence setup record).
    virtual bool SupportsSequenceSetup() const { return true; }

    virtual std::vector<TVideoFormat> Formats() const = 0;
    virtual TVideoFormat CurrentFormat() const = 0;
    virtual bool SetFormat(const TVideoFormat& format) = 0;
    // Adds the source's own controls (brightness, pattern, looping...) to a dialog.
    virtual void AddSourceControls(QWidget* dialog, QFormLayout* layout) = 0;

    // Streaming capture of the frames to an AVI file at `framesPerSecond`.
    virtual bool StartRecording(const std::string& fileName, int framesPerSecond) = 0;
    virtual void StopRecording() = 0;
    virtual bool Recording() const = 0;
    // Frames written to the file.
    virtual std::uint64_t RecordedFrames() const = 0;
    // GUI thread, once per capture interval: the newest frame goes into the file
    // if the one before is written, else it counts as dropped.
    virtual void RecordNewestFrame() {}
    virtual std::uint64_t DroppedFrames() const { return 0; }
    // Why the recording failed to start or stopped working; empty while it is fine.
    virtual std::string RecordingError() { return {}; }
};

struct TDriverDescription {
    std::string Name;
    std::string Version;
};

class TDriverCatalog {
public:
    virtual ~TDriverCatalog() = default;
    // Re-reads the sources of the machine.
    virtual void Refresh() = 0;
    // Reads the sources once if they were never read.
    virtual void EnsureRead() {}
    virtual int Count() const = 0;
    // Whether there is a source `index`; may answer without counting them all.
    virtual bool Has(int index) const { return index >= 0 && index < Count(); }
    virtual TDriverDescription Describe(int index) const = 0;
    // A driver for source `index`, or null when there is none.
    virtual std::unique_ptr<TVideoDriver> Open(int index) = 0;
};

// Replaces the catalogue of drivers; null restores the machine's own.
void SetDriverCatalog(std::unique_ptr<TDriverCatalog> catalog);
TDriverCatalog& DriverCatalog();
