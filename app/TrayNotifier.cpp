#include "app/TrayNotifier.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace {

// A round lamp: gray idle, green watching, red recording.
QIcon Lamp(TTrayNotifier::TState state) {
    QColor color(128, 128, 128);
    if (state == TTrayNotifier::TState::Watching) {
        color = QColor(0, 160, 0);
    } else if (state == TTrayNotifier::TState::Recording) {
        color = QColor(220, 0, 0);
    }
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 2));
    painter.setBrush(color);
    painter.drawEllipse(3, 3, 26, 26);
    return QIcon(pixmap);
}

} // namespace

TTrayNotifier::TTrayNotifier(QObject* parent) : QObject(parent), FIcon(new QSystemTrayIcon(this)) {
    FIcon->setIcon(Lamp(FState));
    FIcon->setToolTip(ToolTip());
    connect(FIcon, &QSystemTrayIcon::messageClicked, this, &TTrayNotifier::Clicked);
    FIcon->show();
}

TTrayNotifier::~TTrayNotifier() {
    FIcon->hide();
}

QString TTrayNotifier::ToolTip() const {
    switch (FState) {
    case TState::Idle:
        return QStringLiteral("Stirwatch: idle");
    case TState::Watching:
        return QStringLiteral("Stirwatch: watching");
    case TState::Recording:
        return QStringLiteral("Stirwatch: recording");
    }
    return {};
}

void TTrayNotifier::SetState(TState state) {
    if (state == FState) {
        return;
    }
    FState = state;
    FIcon->setIcon(Lamp(state));
    FIcon->setToolTip(ToolTip());
}

bool TTrayNotifier::Notify(const QString& title, const QString& text,
                           std::chrono::steady_clock::time_point now) {
    if (FLastNotice && now - *FLastNotice < MinimumGap) {
        return false;
    }
    FLastNotice = now;
    FIcon->showMessage(title, text, QSystemTrayIcon::Information);
    return true;
}
