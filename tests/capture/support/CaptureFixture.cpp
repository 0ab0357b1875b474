#include "CaptureFixture.h"

#include <QtGlobal>

namespace {

void ResetCaptureLayer() {
    DisconnectCamera();
    SetDriverCatalog(nullptr);
    qunsetenv("STIRWATCH_SOURCE");
    DriverName = "No Driver Found";
    SetVideoPanel(nullptr);
    SetStatusLabel(nullptr);
    SetStopCallback({});
    SetFrameLimit(0);
}

} // namespace

void TCaptureFixture::SetUp() {
    ResetCaptureLayer();
    Panel = std::make_unique<QWidget>();
    Panel->resize(320, 240);
    Label = std::make_unique<QLabel>();
    SetVideoPanel(Panel.get());
    SetStatusLabel(Label.get());
}

void TCaptureFixture::TearDown() {
    ResetCaptureLayer();
}

void TCaptureFixture::UseSource(const QString& source) {
    qputenv("STIRWATCH_SOURCE", source.toUtf8());
}

TCaptureWindow* TCaptureFixture::Window() {
    return TCaptureWindow::FromHandle(CaptureWindow);
}

bool TCaptureFixture::WaitForStatus(const QString& text, int milliseconds) {
    return RunEventsUntil([&] { return Label->text() == text; }, milliseconds);
}

bool TCaptureFixture::WaitForStatusStartingWith(const QString& prefix, int milliseconds) {
    return RunEventsUntil([&] { return Label->text().startsWith(prefix); }, milliseconds);
}
