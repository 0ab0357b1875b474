#include "windows/BaseFormUnit.h"

#include "settings/TRegIniFile.h"
#include "types/Exception.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QShowEvent>
#include <QWindow>

#include <algorithm>
#include <cstdint>
#include <iostream>

namespace {

// The largest outer size a window takes when no monitor tells a better one.
constexpr int LargestWindowExtent = 32767;
// The farthest a window is placed from the origin.
constexpr int LargestCoordinate = 1 << 24;

BaseForm::TMonitorList& InjectedMonitors() {
    static BaseForm::TMonitorList monitors;
    return monitors;
}

std::vector<QRect> ScreenGeometries() {
    std::vector<QRect> result;
    for (const QScreen* screen : QGuiApplication::screens()) {
        result.push_back(screen->geometry());
    }
    return result;
}

void Report(const std::exception& error) {
    if (BaseForm::ReportError) {
        BaseForm::ReportError(error);
    } else {
        std::cerr << error.what() << '\n';
    }
}

// A stored size is applied as it stands, but never beyond what the desktop
// (or the window as it already is) spans: a damaged value must not ask the
// window system for a window it cannot make.
int BoundedExtent(int stored, int current, int desktopExtent) {
    const int limit = desktopExtent > 0 ? std::max(desktopExtent, current) : LargestWindowExtent;
    return std::clamp(stored, 1, std::max(limit, 1));
}

} // namespace

int LeftmostMonitorEdge(const std::vector<QRect>& monitors) {
    if (monitors.empty()) {
        return 0;
    }
    int edge = monitors.front().x();
    for (const QRect& monitor : monitors) {
        edge = std::min(edge, monitor.x());
    }
    return edge;
}

int RightmostMonitorEdge(const std::vector<QRect>& monitors) {
    if (monitors.empty()) {
        return 0;
    }
    int edge = monitors.front().x() + monitors.front().width();
    for (const QRect& monitor : monitors) {
        edge = std::max(edge, monitor.x() + monitor.width());
    }
    return edge;
}

int TopmostMonitorEdge(const std::vector<QRect>& monitors) {
    if (monitors.empty()) {
        return 0;
    }
    int edge = monitors.front().y();
    for (const QRect& monitor : monitors) {
        edge = std::min(edge, monitor.y());
    }
    return edge;
}

int BottommostMonitorEdge(const std::vector<QRect>& monitors) {
    if (monitors.empty()) {
        return 0;
    }
    int edge = monitors.front().y() + monitors.front().height();
    for (const QRect& monitor : monitors) {
        edge = std::max(edge, monitor.y() + monitor.height());
    }
    return edge;
}

BaseForm::TErrorReport BaseForm::ReportError;

BaseForm::BaseForm(QWidget* owner) : QMainWindow(owner, Qt::Window) {}

BaseForm::~BaseForm() {
    RunFormDestroy();
}

void BaseForm::SetMonitorList(TMonitorList monitors) {
    InjectedMonitors() = std::move(monitors);
}

std::vector<QRect> BaseForm::Monitors() {
    const TMonitorList& injected = InjectedMonitors();
    return injected ? injected() : ScreenGeometries();
}

void BaseForm::RunFormCreate() {
    try {
        FormCreate();
    } catch (const std::exception& error) {
        Report(error);
    }
}

void BaseForm::RunFormDestroy() {
    if (Destroyed) {
        return;
    }
    Destroyed = true;
    try {
        FormDestroy();
    } catch (const std::exception& error) {
        Report(error);
    } catch (...) {
        Report(Exception("Unknown error while closing window " + ComponentName()));
    }
}

// The notifications reach the overrides through the virtual event handlers
// below, so binding them needs nothing beyond the start values.
void BaseForm::FormCreate() {
    SettingsSection.clear();
}

void BaseForm::FormDestroy() {
    SaveSettings();
}

void BaseForm::FormClose() {
    NotifyClosed();
}

void BaseForm::FormShow() {
    NotifyShown();
}

void BaseForm::NotifyClosed() {
    if (OnClosed) {
        OnClosed(this);
    }
}

void BaseForm::NotifyShown() {
    if (OnShown) {
        OnShown(this);
    }
}

void BaseForm::NotifyCustom(int a, int b, int c) {
    if (OnCustom) {
        OnCustom(this, a, b, c);
    }
}

std::string BaseForm::ComponentName() const {
    return objectName().toStdString();
}

void BaseForm::LoadSettings(const std::string& applicationKey) {
    SettingsSection = applicationKey + "\\" + ComponentName();
    TRegIniFile settings(SettingsBaseKey);
    const QRect current = OuterPlacement();
    const std::vector<QRect> monitors = Monitors();
    const int desktopWidth = RightmostMonitorEdge(monitors) - LeftmostMonitorEdge(monitors);
    const int desktopHeight = BottommostMonitorEdge(monitors) - TopmostMonitorEdge(monitors);

    int top = settings.ReadInteger(SettingsSection, "Top", current.top());
    MoveOuter(x(), top);
    int left = settings.ReadInteger(SettingsSection, "Left", current.left());
    MoveOuter(left, top);
    const int width = BoundedExtent(settings.ReadInteger(SettingsSection, "Width", current.width()),
                                    current.width(), desktopWidth);
    if (width != current.width()) {
        SetOuterWidth(width);
    }
    const int height =
        BoundedExtent(settings.ReadInteger(SettingsSection, "Height", current.height()),
                      current.height(), desktopHeight);
    if (height != current.height()) {
        SetOuterHeight(height);
    }

    // Wider arithmetic: a damaged stored position must not overflow the sums.
    if (!monitors.empty()) {
        if (std::int64_t{left} + width <= LeftmostMonitorEdge(monitors)) {
            left = 0;
        }
        if (left >= RightmostMonitorEdge(monitors)) {
            left = 0;
        }
        if (std::int64_t{top} + height <= TopmostMonitorEdge(monitors)) {
            top = 0;
        }
        if (top >= BottommostMonitorEdge(monitors)) {
            top = 0;
        }
        MoveOuter(left, top);
    }

    if (settings.ReadBool(SettingsSection, "Maximized", false)) {
        setWindowState(windowState() | Qt::WindowMaximized);
    }
}

void BaseForm::SaveSettings() {
    if (SettingsSection.empty()) {
        return;
    }
    TRegIniFile settings(SettingsBaseKey);
    // While maximized the stored normal placement stays as it is, so that the
    // next run restores to it.
    const bool maximized = isMaximized();
    if (!maximized) {
        const QRect placement = OuterPlacement();
        settings.WriteInteger(SettingsSection, "Top", placement.top());
        settings.WriteInteger(SettingsSection, "Left", placement.left());
        settings.WriteInteger(SettingsSection, "Width", placement.width());
        settings.WriteInteger(SettingsSection, "Height", placement.height());
    }
    settings.WriteBool(SettingsSection, "Maximized", maximized);
    settings.UpdateFile();
}

QRect BaseForm::OuterPlacement() const {
    // normalGeometry() is the client rectangle of the normal state; a
    // minimized window keeps it as its geometry.
    const QRect client = isMaximized() || isFullScreen() ? normalGeometry() : geometry();
    if (!client.isValid()) {
        return frameGeometry();
    }
    return client.marginsAdded(FrameMargins());
}

QMargins BaseForm::FrameMargins() const {
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    return {client.left() - frame.left(), client.top() - frame.top(),
            frame.right() - client.right(), frame.bottom() - client.bottom()};
}

// move() of a top-level window places its frame. A damaged stored position
// is held to a range in which the toolkit's rectangle arithmetic cannot
// overflow; anything that far out is off every desktop anyway.
void BaseForm::MoveOuter(int left, int top) {
    move(std::clamp(left, -LargestCoordinate, LargestCoordinate),
         std::clamp(top, -LargestCoordinate, LargestCoordinate));
}

// Before the frame is known the outer size equals the client size; a value
// equal to it is the window's own (designed) size and is left alone, so that
// the frame is not taken out of the designed client area. Another value is
// applied now and corrected once the frame is known.
bool BaseForm::FrameKnown() const {
    return isVisible() || !FrameMargins().isNull();
}

void BaseForm::SetOuterWidth(int width) {
    const QMargins frame = FrameMargins();
    SetClientSize(std::max(1, width - frame.left() - frame.right()), height());
    PendingOuterWidth = FrameKnown() ? std::nullopt : std::optional<int>(width);
}

void BaseForm::SetOuterHeight(int height) {
    const QMargins frame = FrameMargins();
    SetClientSize(width(), std::max(1, height - frame.top() - frame.bottom()));
    PendingOuterHeight = FrameKnown() ? std::nullopt : std::optional<int>(height);
}

void BaseForm::ApplyPendingOuterSize() {
    if (!PendingOuterWidth && !PendingOuterHeight) {
        return;
    }
    if (!isVisible()) {
        return;
    }
    // A window shown maximized leaves its normal size to the window manager,
    // which restores it with the size it had when maximized; resizing it
    // while it restores would move it to where it was maximized.
    if (windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) {
        PendingOuterWidth.reset();
        PendingOuterHeight.reset();
        return;
    }
    if (windowState() & Qt::WindowMinimized || FrameMargins().isNull()) {
        return;
    }
    if (const std::optional<int> width = std::exchange(PendingOuterWidth, std::nullopt)) {
        SetOuterWidth(*width);
    }
    if (const std::optional<int> height = std::exchange(PendingOuterHeight, std::nullopt)) {
        SetOuterHeight(*height);
    }
}

void BaseForm::SetClientSize(int width, int height) {
    if (minimumSize() == maximumSize()) {
        setFixedSize(width, height);
    } else {
        resize(width, height);
    }
}

void BaseForm::SetFixedDialogFrame() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(size());
}

void BaseForm::SetBackgroundColor(const QColor& color) {
    QPalette colors = palette();
    colors.setColor(QPalette::Window, color);
    setPalette(colors);
    setAutoFillBackground(true);
}

// A window with an owner would be made transient for it, which takes its
// taskbar entry away on most window managers; each window keeps its own.
void BaseForm::DetachFromOwnerWindow() {
    if (QWindow* window = windowHandle()) {
        window->setTransientParent(nullptr);
    }
}

// Errors of the show and close notifications go to the error display here:
// they must not unwind through the toolkit's event code. A close whose
// notification failed does not happen.
void BaseForm::showEvent(QShowEvent* event) {
    DetachFromOwnerWindow();
    QMainWindow::showEvent(event);
    // Spontaneous show events come from the window system (a window brought
    // back from the taskbar); only becoming visible counts as being shown.
    if (event->spontaneous()) {
        return;
    }
    try {
        FormShow();
    } catch (const std::exception& error) {
        Report(error);
    }
}

void BaseForm::closeEvent(QCloseEvent* event) {
    try {
        FormClose();
    } catch (const std::exception& error) {
        event->ignore();
        Report(error);
        return;
    }
    QMainWindow::closeEvent(event);
}

bool BaseForm::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    switch (event->type()) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::WindowStateChange:
        ApplyPendingOuterSize();
        break;
    default:
        break;
    }
    return handled;
}
