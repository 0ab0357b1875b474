#include "capture/PictureSampler.h"

#include "capture/VideoDriver.h"

#include <utility>

TPicturePlace PlacePicture(QSize frame, const TPictureLayout& layout) {
    const QRect whole(QPoint(0, 0), frame);
    if (!layout.Scale) {
        const QRect part = whole & QRect(QPoint(0, 0), layout.Window);
        return {part, part.size(), QPoint(0, 0)};
    }
    QSize size = frame;
    size.scale(layout.Window, layout.KeepAspect ? Qt::KeepAspectRatio : Qt::IgnoreAspectRatio);
    return {whole, size,
            QPoint((layout.Window.width() - size.width()) / 2,
                   (layout.Window.height() - size.height()) / 2)};
}

QRect SamplePlacedPicture(const TFrameView& frame, const TPictureLayout& layout, QImage& image,
                          TScreenSampling& work) {
    const TPicturePlace place = PlacePicture(QSize(frame.Width, frame.Height), layout);
    if (place.Size.isEmpty()) {
        return {};
    }
    SampleFrameForScreen(frame, place.Part, place.Size, image, work);
    return {place.Origin, place.Size};
}

TPictureSampler::TPictureSampler(std::function<void()> finished)
    : FFinished(std::move(finished)), FThread([this] { Run(); }) {}

TPictureSampler::~TPictureSampler() {
    {
        const std::lock_guard lock(FMutex);
        FQuit = true;
    }
    FWake.notify_all();
    FThread.join();
}

void TPictureSampler::Request(TVideoDriver* driver, const TPictureLayout& layout) {
    {
        const std::lock_guard lock(FMutex);
        FDriver = driver;
        FLayout = layout;
        FPending = true;
    }
    FWake.notify_all();
}

const TPictureSampler::TPicture* TPictureSampler::Finished(const TPictureLayout& layout) {
    {
        const std::lock_guard lock(FMutex);
        if (FHasReady) {
            FShown ^= 1;
            FHasReady = false;
        }
    }
    const TPicture& shown = FPictures[FShown];
    return shown.Valid && shown.Layout == layout ? &shown : nullptr;
}

void TPictureSampler::Forget() {
    std::unique_lock lock(FMutex);
    FIdle.wait(lock, [this] { return !FBusy; });
    FPending = false;
    FDriver = nullptr;
    FHasReady = false;
    for (TPicture& picture : FPictures) {
        picture.Valid = false;
    }
}

void TPictureSampler::Run() {
    std::unique_lock lock(FMutex);
    for (;;) {
        FWake.wait(lock, [this] { return FQuit || FPending; });
        if (FQuit) {
            return;
        }
        FPending = false;
        FBusy = true;
        // The GUI thread takes no picture while this one is written.
        FHasReady = false;
        TVideoDriver* driver = FDriver;
        const TPictureLayout layout = FLayout;
        TPicture& picture = FPictures[FShown ^ 1];
        lock.unlock();
        Sample(driver, layout, picture);
        lock.lock();
        if (picture.Valid) {
            FHasReady = true;
            lock.unlock();
            FFinished();
            lock.lock();
        }
        FBusy = false;
        FIdle.notify_all();
    }
}

// On the sampler's thread; the driver stays while FBusy holds.
void TPictureSampler::Sample(TVideoDriver* driver, const TPictureLayout& layout,
                             TPicture& picture) {
    picture.Valid = false;
    picture.Layout = layout;
    // Two pointers: the call's function object is kept without an allocation.
    driver->WithNewestView([this, &picture](const TFrameView& frame) {
        const QRect placed = SamplePlacedPicture(frame, picture.Layout, picture.Image, FWork);
        picture.Origin = placed.topLeft();
        picture.Valid = !placed.isEmpty();
    });
}
