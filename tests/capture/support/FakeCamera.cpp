#include "FakeCamera.h"

#include <QColor>

#include <algorithm>
#include <utility>

TFakeDriver::TFakeDriver(TFakeCamera camera, TFakeCameraLog* log)
    : FCamera(std::move(camera)), FLog(log) {
    if (FCamera.Frames.empty()) {
        QImage frame(8, 6, QImage::Format_BGR888);
        frame.fill(QColor(255, 0, 0));
        FCamera.Frames.push_back(frame);
    }
}

bool TFakeDriver::WaitForFrameAfter(std::uint64_t after, std::chrono::milliseconds) {
    FNumber = after + 1; // a camera always has a next frame
    return true;
}

std::uint64_t TFakeDriver::WithNewestFrame(const std::function<void(const QImage&)>& use) {
    use(FCamera.Frames[FNumber % FCamera.Frames.size()]);
    return FNumber;
}

std::vector<TDriverStatus> TFakeDriver::TakeStatus() {
    return FLog ? std::exchange(FLog->PendingStatus, {}) : std::vector<TDriverStatus>{};
}

void TFakeDriver::StopRecording() {
    FRecording = false;
    if (FLog) {
        ++FLog->RecordingStops;
    }
}

TFakeCatalog::TFakeCatalog(std::vector<TFakeCamera> cameras, TFakeCameraLog* log)
    : FCameras(std::move(cameras)), FLog(log) {}

std::unique_ptr<TFakeCatalog> TFakeCatalog::Numbered(int count, const std::vector<int>& refusing,
                                                     const std::vector<int>& withoutSetup,
                                                     TFakeCameraLog* log) {
    const auto has = [](const std::vector<int>& list, int index) {
        return std::find(list.begin(), list.end(), index) != list.end();
    };
    std::vector<TFakeCamera> cameras;
    for (int index = 0; index < count; ++index) {
        cameras.push_back({"Fake camera " + std::to_string(index),
                           has(refusing, index),
                           !has(withoutSetup, index),
                           {}});
    }
    return std::make_unique<TFakeCatalog>(std::move(cameras), log);
}

std::unique_ptr<TFakeCatalog> TFakeCatalog::Single(std::string name, std::vector<QImage> frames) {
    return std::make_unique<TFakeCatalog>(
        std::vector<TFakeCamera>{{std::move(name), false, true, std::move(frames)}});
}

TDriverDescription TFakeCatalog::Describe(int index) const {
    return {FCameras.at(index).Name, "1.0"};
}

std::unique_ptr<TVideoDriver> TFakeCatalog::Open(int index) {
    if (FLog) {
        FLog->Opened.push_back(index);
    }
    if (index < 0 || index >= Count()) {
        return nullptr;
    }
    return std::make_unique<TFakeDriver>(FCameras[index], FLog);
}
