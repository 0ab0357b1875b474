#include "windows/VideoFormUnit.h"

#include <QApplication>

TVideoForm* VideoForm = nullptr;

namespace {

QWidget* MakeVideoArea(QWidget* owner) {
    auto* area = new QWidget(owner);
    area->setObjectName("VideoArea");
    area->setAccessibleName("VideoArea");
    QPalette colors = area->palette();
    colors.setColor(QPalette::Window, Qt::black);
    area->setPalette(colors);
    area->setAutoFillBackground(true);
    return area;
}

} // namespace

TVideoForm::TVideoForm(QWidget* owner) : BaseForm(owner), VideoArea(MakeVideoArea(this)) {
    setObjectName("VideoForm");
    setWindowTitle("Live Video");
    SetBackgroundColor(QApplication::palette().color(QPalette::Button));
    setCentralWidget(VideoArea);
    resize(320, 240);
    SetFixedDialogFrame();
    move(5, 200);
}

TVideoForm::~TVideoForm() {
    if (VideoForm == this) {
        VideoForm = nullptr;
    }
}
