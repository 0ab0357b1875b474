#pragma once
// The capture window service's platform types, message numbers and records.
// Kept apart from everything else so that no file needs to see these names
// together with X11's headers (which define Bool, Status, None and friends as
// macros); no file of the capture service includes X11.

#include <cstdint>

class QWidget;

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
constexpr int IDS_CAP_CANTOPEN = 409;          // the capture file cannot be written: "<reason>"
constexpr int IDS_CAP_WRITEERROR = 414;        // writing the capture file failed: "<reason>"
constexpr int IDS_CAP_STAT_VIDEOCURRENT = 510; // "<frames> frames (<dropped> dropped) <s> sec."
constexpr int IDS_CAP_STAT_CONNECTING = 519;   // the source connects in the background
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
