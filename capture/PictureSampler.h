#pragma once
// The live display's picture, sampled on a thread of its own: the GUI thread
// asks for the newest frame at the display's rate, the sampler reads and
// converts only the pixels shown into a picture of the window's format, and
// the GUI thread paints the finished picture as it is. Two pictures in turn
// (one painted, the other written and then ready until the GUI thread takes
// it), so that neither thread waits for the other and a picture of an
// unchanged size allocates nothing; a ready picture not yet taken when the
// next request comes gives way to the newer one.

#include "capture/FrameConversion.h"

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

class TVideoDriver;

// How a frame is placed in the window: scaled to it (keeping its aspect or
// not, centred) or shown at its own size from the top left corner.
struct TPictureLayout {
    QSize Window;
    bool Scale = false;
    bool KeepAspect = true;
    bool operator==(const TPictureLayout&) const = default;
};

// Where a frame of `frame` size goes: the part of it shown, the size it is
// shown at and the window point of its top left corner; an empty size when
// nothing of it shows.
struct TPicturePlace {
    QRect Part;
    QSize Size;
    QPoint Origin;
};
TPicturePlace PlacePicture(QSize frame, const TPictureLayout& layout);

// Places `frame` for `layout` and samples the pixels shown into `image`
// (RGB32, its storage kept from call to call); gives the window rectangle
// the picture covers, an empty one when nothing of the frame shows.
QRect SamplePlacedPicture(const TFrameView& frame, const TPictureLayout& layout, QImage& image,
                          TScreenSampling& work);

class TPictureSampler {
public:
    // `finished` is called on the sampler's thread each time a picture is ready.
    explicit TPictureSampler(std::function<void()> finished);
    ~TPictureSampler();
    TPictureSampler(const TPictureSampler&) = delete;
    TPictureSampler& operator=(const TPictureSampler&) = delete;

    struct TPicture {
        QImage Image; // RGB32
        QPoint Origin;
        TPictureLayout Layout;
        bool Valid = false;
    };

    // GUI thread: samples the newest frame of `driver` for `layout` as soon as the
    // thread is free; a request not yet taken up is replaced.
    void Request(TVideoDriver* driver, const TPictureLayout& layout);
    // GUI thread: the newest finished picture, null when there is none for `layout`.
    // Valid until the next call.
    const TPicture* Finished(const TPictureLayout& layout);
    // GUI thread: waits for the picture being sampled, and forgets the request and
    // every picture: the driver may go after this.
    void Forget();

private:
    void Run();
    void Sample(TVideoDriver* driver, const TPictureLayout& layout, TPicture& picture);

    std::function<void()> FFinished;
    std::mutex FMutex;
    std::condition_variable FWake;
    std::condition_variable FIdle;
    TVideoDriver* FDriver = nullptr;
    TPictureLayout FLayout;
    bool FPending = false;
    bool FBusy = false;
    bool FQuit = false;
    TPicture FPictures[2];
    int FShown = 0;         // painted by the GUI thread; the other is the sampler's
    bool FHasReady = false; // the sampler's picture is finished and not yet taken
    TScreenSampling FWork;
    std::thread FThread;
};
