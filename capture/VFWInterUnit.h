#pragma once
// The capture window service: a child window of a panel that shows the live
// picture of a video source and answers capture messages sent to it. The
// message numbers are the service's protocol; every request is synchronous
// and runs on the GUI thread. Frames come from one GStreamer pipeline per
// connected driver.
//
// Drivers: index N is the N-th video source of this machine. When the
// environment variable STIRWATCH_SOURCE is set, it is driver 0:
//   "test"                  a built-in moving test scene
//   a path to a video file  played in a loop at its own frame rate
//   rtsp://, http(s)://     a network stream
//   anything else           a GStreamer launch description producing video
// The cameras reported by the GStreamer device monitor (class Video/Source)
// follow, ordered by device path and name.

#include <QImage>
#include <QString>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QFormLayout;
class QTimer;

using HWND = QWidget*;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using BOOL = int;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

constexpr UINT WM_USER = 0x400;
constexpr UINT WM_CAP_START = WM_USER;
constexpr UINT WM_CAP_SET_CALLBACK_STATUSA = WM_CAP_START + 3;
constexpr UINT WM_CAP_DRIVER_CONNECT = WM_CAP_START + 10;
constexpr UINT WM_CAP_DRIVER_DISCONNECT = WM_CAP_START + 11;
constexpr UINT WM_CAP_FILE_SET_CAPTURE_FILEA = WM_CAP_START + 20;
constexpr UINT WM_CAP_EDIT_COPY = WM_CAP_START + 30;
constexpr UINT WM_CAP_DLG_VIDEOFORMAT = WM_CAP_START + 41;
constexpr UINT WM_CAP_DLG_VIDEOSOURCE = WM_CAP_START + 42;
constexpr UINT WM_CAP_DLG_VIDEODISPLAY = WM_CAP_START + 43;
constexpr UINT WM_CAP_SET_PREVIEW = WM_CAP_START + 50;
constexpr UINT WM_CAP_SET_OVERLAY = WM_CAP_START + 51;
constexpr UINT WM_CAP_SET_PREVIEWRATE = WM_CAP_START + 52;
constexpr UINT WM_CAP_SET_SCALE = WM_CAP_START + 53;
constexpr UINT WM_CAP_GRAB_FRAME = WM_CAP_START + 60;
constexpr UINT WM_CAP_SEQUENCE = WM_CAP_START + 62;
constexpr UINT WM_CAP_SET_SEQUENCE_SETUP = WM_CAP_START + 64;
constexpr UINT WM_CAP_GET_SEQUENCE_SETUP = WM_CAP_START + 65;
constexpr UINT WM_CAP_STOP = WM_CAP_START + 68;
constexpr UINT WM_CAP_ABORT = WM_CAP_START + 69;

// Driver indices run from 0 to MAXVIDEODRIVERS - 1.
constexpr int MAXVIDEODRIVERS = 10;

constexpr UINT WS_CHILD = 0x40000000;
constexpr UINT WS_VISIBLE = 0x10000000;
constexpr UINT VK_ESCAPE = 27;

// Status identifiers handed to the status callback. 0 clears the status text.
constexpr int IDS_CAP_STAT_CAP_INIT = 502;     // streaming capture starts
constexpr int IDS_CAP_STAT_CAP_FINI = 503;     // streaming capture ended
constexpr int IDS_CAP_STAT_VIDEOCURRENT = 510; // "<frames> frames (<dropped> dropped) <s> sec."
constexpr int IDS_CAP_STAT_DRIVER_CONNECTED = 520;
constexpr int IDS_CAP_STAT_FORMAT_CHANGED = 521;
constexpr int IDS_CAP_STAT_SOURCE_LOST = 522;
constexpr int IDS_CAP_STAT_STREAM_ERROR = 523;

// The sequence (streaming capture) setup record, field for field the published layout.
struct CAPTUREPARMS {
    DWORD dwRequestMicroSecPerFrame;
    BOOL fMakeUserHitOKToCapture;
    UINT wPercentDropForError;
    BOOL fYield;
    DWORD dwIndexSize;
    UINT wChunkGranularity;
    BOOL fUsingDOSMemory;
    UINT wNumVideoRequested;
    BOOL fCaptureAudio;
    UINT wNumAudioRequested;
    UINT vKeyAbort;
    BOOL fAbortLeftMouse;
    BOOL fAbortRightMouse;
    BOOL fLimitEnabled;
    UINT wTimeLimit;
    BOOL fMCIControl;
    BOOL fStepMCIDevice;
    DWORD dwMCIStartTime;
    DWORD dwMCIStopTime;
    BOOL fStepCaptureAt2x;
    UINT wStepCaptureAverageFrames;
    DWORD dwAudioBufferSize;
    BOOL fDisableWriteCache;
    UINT AVStreamMaster;
};

using CAPSTATUSCALLBACK = LRESULT (*)(HWND window, int status, const char* text);

// ---------------------------------------------------------------------------
// Driver interface: what the capture window needs from a video source. The
// GStreamer drivers implement it; tests may install a catalogue of their own.

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

class TVideoDriver {
public:
    virtual ~TVideoDriver() = default;

    // Starts delivering frames; false when the source refuses.
    virtual bool Start() = 0;
    virtual void Stop() = 0;

    // Called from any thread whenever a frame arrived.
    virtual void SetFrameNotifier(std::function<void()> notify) = 0;
    // Number of the newest frame that arrived, 0 when none has. Thread-safe.
    virtual std::uint64_t NewestFrameNumber() const = 0;
    // Waits until a frame newer than `after` arrived; false on timeout or a failed stream.
    virtual bool WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds timeout) = 0;
    // Hands a BGR888 view of the newest frame to `use` (valid only during the call).
    // Returns the frame's number, 0 when there is no frame.
    virtual std::uint64_t WithNewestFrame(const std::function<void(const QImage&)>& use) = 0;
    // Status events since the last call (stream errors, lost source, format changes).
    virtual std::vector<TDriverStatus> TakeStatus() = 0;

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
    virtual std::uint64_t RecordedFrames() const = 0;
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
    virtual int Count() const = 0;
    virtual TDriverDescription Describe(int index) const = 0;
    // A driver for source `index`, or null when there is none.
    virtual std::unique_ptr<TVideoDriver> Open(int index) = 0;
};

// Replaces the catalogue of drivers; null restores the machine's own.
void SetDriverCatalog(std::unique_ptr<TDriverCatalog> catalog);
TDriverCatalog& DriverCatalog();

// ---------------------------------------------------------------------------
// The capture window.

class TCaptureWindow : public QWidget {
    Q_OBJECT
public:
    TCaptureWindow(const QString& name, QWidget* parent);
    ~TCaptureWindow() override;

    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

    // Read access for tests and tools.
    bool DriverConnected() const { return FDriver != nullptr; }
    bool Previewing() const { return FPreview; }
    bool Overlaying() const { return FOverlay; }
    // True while the window is inside one of its own requests.
    bool Busy() const { return FBusy > 0; }
    bool Scaling() const { return FScale; }
    int PreviewRate() const { return FPreviewRate; }
    bool DisplayFrozen() const { return FFrozen; }
    std::uint64_t DisplayedFrames() const { return FDisplayedFrames; }
    TVideoDriver* Driver() const { return FDriver.get(); }
    const QImage& GrabbedFrame() const { return FGrabbed; }
    const std::string& CaptureFileName() const { return FCaptureFile; }

    // The longest time a grab waits for a new frame.
    static constexpr std::chrono::milliseconds GrabTimeout{1000};

protected:
    void paintEvent(QPaintEvent* event) override;
    // Watches the abort key and mouse buttons while a streaming capture runs.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool ConnectDriver(int index);
    void DisconnectDriver();
    bool GrabFrame();
    bool EditCopy();
    bool FormatDialog();
    bool SourceDialog();
    bool DisplayDialog();
    void SetDisplay(bool preview, bool overlay);
    void ShowNewestFrame();
    void FrameArrived();
    void PollStatus();
    void Report(int id, const QString& text);
    bool StartSequence();
    void StopSequence(bool aborted);

    std::unique_ptr<TVideoDriver> FDriver;
    int FDriverIndex = -1;
    CAPSTATUSCALLBACK FStatusCallback = nullptr;
    CAPTUREPARMS FSetup{};
    std::string FCaptureFile;
    bool FPreview = false;
    std::atomic<bool> FOverlay{false};
    bool FScale = false;
    bool FKeepAspect = true;
    int FPreviewRate = 40;
    bool FFrozen = false;
    bool FHasDisplayFrame = false;
    std::uint64_t FLastGrabbed = 0;
    std::uint64_t FLastShown = 0;
    std::uint64_t FDisplayedFrames = 0;
    QImage FGrabbed;
    QTimer* FPreviewTimer;
    QTimer* FStatusTimer;
    std::shared_ptr<bool> FAlive;
    std::atomic<bool> FOverlayPending{false};
    int FBusy = 0;
    std::chrono::steady_clock::time_point FSequenceStart;
};

// ---------------------------------------------------------------------------
// The service's entry points.

HWND capCreateCaptureWindowA(const char* windowName, DWORD style, int x, int y, int width,
                             int height, HWND parent, int id);
LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL DestroyWindow(HWND window);
// True while `window` is a capture window that was created and not destroyed.
bool IsCaptureWindow(HWND window);
BOOL capGetDriverDescriptionA(UINT index, char* name, int nameSize, char* version, int versionSize);

// The message primitives: one message each, nonzero meaning success.
BOOL capSetCallbackOnStatus(HWND window, CAPSTATUSCALLBACK callback);
BOOL capDriverConnect(HWND window, int index);
BOOL capDriverDisconnect(HWND window);
BOOL capFileSetCaptureFile(HWND window, const char* fileName);
BOOL capEditCopy(HWND window);
BOOL capDlgVideoFormat(HWND window);
BOOL capDlgVideoSource(HWND window);
BOOL capDlgVideoDisplay(HWND window);
BOOL capPreview(HWND window, bool on);
BOOL capOverlay(HWND window, bool on);
BOOL capPreviewRate(HWND window, unsigned milliseconds);
BOOL capPreviewScale(HWND window, bool on);
BOOL capGrabFrame(HWND window);
BOOL capCaptureSequence(HWND window);
BOOL capCaptureStop(HWND window);
BOOL capCaptureAbort(HWND window);
BOOL capCaptureGetSetup(HWND window, CAPTUREPARMS* setup, unsigned size);
BOOL capCaptureSetSetup(HWND window, const CAPTUREPARMS* setup, unsigned size);
