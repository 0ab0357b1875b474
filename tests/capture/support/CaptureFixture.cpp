#include "CaptureFixture.h"

#include "capture/Clipboard.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QTimer>
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

void OnNextDialog(std::function<void(QDialog*)> act) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(dialog);
        }
    });
    poll->start(20);
}

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

bool TCaptureFixture::ConnectAndWaitForAFrame(int milliseconds) {
    return ConnectCamera() && Window() && Window()->Driver() &&
           RunEventsUntil(
               [this] {
                   return Window()->Driver()->NewestFrameNumber() > 0 &&
                          Label->text().startsWith(QLatin1String("Connected to"));
               },
               milliseconds);
}

void TCaptureFixture::ChooseFormat(const QString& text) {
    OnNextDialog([text](QDialog* dialog) {
        auto* box = dialog->findChild<QComboBox*>("FormatBox");
        const int index = box ? box->findText(text) : -1;
        EXPECT_GE(index, 0) << text.toStdString();
        if (index >= 0) {
            box->setCurrentIndex(index);
            dialog->accept();
        } else {
            dialog->reject();
        }
    });
    ShowFormatDialog();
}

TBitmap TCaptureFixture::Grab() {
    GrabFrameToClipboard();
    TBitmap frame;
    if (ClipboardOffersBitmap()) {
        TakeClipboardBitmap(frame);
    }
    return frame;
}

long TCaptureFixture::StatusKb(const char* field) {
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(int(qstrlen(field))).trimmed().split(' ').value(0).toLong();
        }
    }
    return 0;
}

void TCaptureFixture::ResetPeakMemory() {
    QFile clear("/proc/self/clear_refs");
    ASSERT_TRUE(clear.open(QIODevice::WriteOnly));
    clear.write("5");
}
