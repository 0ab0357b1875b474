#include "app/TApplication.h"

#include <QMessageBox>
#include <QScopedValueRollback>

#include <iostream>

namespace {

TApplication::TMessageSink& MessageSink() {
    static TApplication::TMessageSink sink;
    return sink;
}

} // namespace

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv),
      FErrorRoute([](const std::exception& error) { ShowException(error); }) {}

// The application name, not a display name: Qt would append a display name
// to the caption of every window on X11 and Wayland.
void TApplication::SetTitle(const QString& title) {
    QCoreApplication::setApplicationName(title);
}

QString TApplication::Title() {
    return QGuiApplication::applicationDisplayName();
}

void TApplication::SetMessageSink(TMessageSink sink) {
    MessageSink() = std::move(sink);
}

QString TApplication::ErrorText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.')) {
        return message + QLatin1Char('.');
    }
    return message;
}

void TApplication::ShowException(const std::exception& error) {
    ShowException(QString::fromUtf8(error.what()));
}

void TApplication::ShowException(const QString& message) {
    const QString text = ErrorText(message);
    if (MessageSink()) {
        MessageSink()(Title(), text);
        return;
    }
    // One box at a time: automatic mode goes on inside an open box, and a
    // step failing there on every tick would stack boxes without end.
    static bool boxOpen = false;
    if (boxOpen) {
        std::cerr << text.toStdString() << '\n';
        return;
    }
    const QScopedValueRollback<bool> open(boxOpen, true);
    QMessageBox box(QMessageBox::Critical, Title(), text, QMessageBox::Ok,
                    QApplication::activeWindow());
    // Messages carry file and folder names: "<b>cams</b>" is a name, not markup.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    HandleEvent([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}
