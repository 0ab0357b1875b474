#pragma once
// The base of the persistent top-level windows: each keeps its position, outer
// size and maximized state in its own section of the settings store, comes back
// onto the desktop when the monitors it was left on are gone, has a taskbar
// entry of its own, and routes its create, destroy, show and close
// notifications to overridable operations.
//
// Geometry is the outer frame: Left/Top are the position of the frame and
// Width/Height its outer size, frame included. The frame's size is known only
// once the window manager has framed a shown window (xcb reports it a little
// after mapping, the offscreen platform as soon as the window is shown); an
// outer size applied before that is kept and corrected as soon as the frame is
// known, while a window that keeps its designed size keeps its client area. A
// window that opens maximized is restored by the window manager to the place
// it was given and to that size taken as its client size: it may come back
// larger than stored by its frame.

#include <QMainWindow>
#include <QRect>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

class QCloseEvent;
class QShowEvent;

// The four bounds of the area the monitors span, each from the whole monitor
// rectangle (not its work area). Right and bottom are left + width and top +
// height. An empty list gives 0.
int LeftmostMonitorEdge(const std::vector<QRect>& monitors);
int RightmostMonitorEdge(const std::vector<QRect>& monitors);
int TopmostMonitorEdge(const std::vector<QRect>& monitors);
int BottommostMonitorEdge(const std::vector<QRect>& monitors);

template <class T> class TFormOf;

// A window of this kind exists only as made by CreateForm or MakeForm: they
// build it as the leaf TFormOf<T>, whose destructor runs the most-derived
// FormDestroy (and so SaveSettings) while the whole window still exists, on
// every road to its end (owner, unique_ptr, DestroyForm). A subclass needs no
// destructor code for it, and constructing one directly does not compile.
//
// Errors raised while a window is created, shown, closed or destroyed must
// neither leave a destructor nor unwind through the toolkit's event code: they
// go to ReportError (types/ErrorRoute.h) and the window goes on (a close whose
// notification failed does not happen).
class BaseForm : public QMainWindow {
    Q_OBJECT

public:
    using TNotifyEvent = std::function<void(BaseForm* sender)>;
    using TCustomEvent = std::function<void(BaseForm* sender, int a, int b, int c)>;
    using TMonitorList = std::function<std::vector<QRect>()>;

    // The key below which every window keeps its section.
    static constexpr const char* SettingsBaseKey = "Software\\Quellor";

    // A window with an owner stays a top-level window of its own; the owner
    // only ends its lifetime.
    explicit BaseForm(QWidget* owner = nullptr);
    ~BaseForm() override;

    TNotifyEvent OnClosed;
    TNotifyEvent OnShown;
    TCustomEvent OnCustom;
    // Empty until LoadSettings has run; SaveSettings writes nothing while empty.
    std::string SettingsSection;

    virtual void FormCreate();
    virtual void FormDestroy();
    virtual void FormClose();
    virtual void FormShow();
    virtual void LoadSettings(const std::string& applicationKey);
    virtual void SaveSettings();
    virtual void NotifyClosed();
    virtual void NotifyShown();
    virtual void NotifyCustom(int a, int b, int c);

    // The component name is the object name ("Video", "VideoForm", ...).
    std::string ComponentName() const;

    // Position and outer size of the frame in the normal (not maximized) state.
    QRect OuterPlacement() const;

    // Constructs a window and then runs its most-derived FormCreate. The owner
    // (the first constructor argument) deletes it; without an owner use MakeForm.
    template <class T, class... A> static T* CreateForm(A&&... args) {
        static_assert(std::is_base_of_v<BaseForm, T>);
        T* form = new TFormOf<T>(std::forward<A>(args)...);
        form->RunFormCreate();
        return form;
    }
    template <class T, class... A> static std::unique_ptr<T> MakeForm(A&&... args) {
        static_assert(std::is_base_of_v<BaseForm, T>);
        std::unique_ptr<T> form = std::make_unique<TFormOf<T>>(std::forward<A>(args)...);
        form->RunFormCreate();
        return form;
    }
    // Deletes the window (running its FormDestroy, and so SaveSettings) and
    // clears the pointer. Errors go to the error route; destruction goes on.
    template <class T> static void DestroyForm(T*& form) {
        static_assert(std::is_base_of_v<BaseForm, T>);
        std::unique_ptr<T> doomed(std::exchange(form, nullptr));
    }

    // The monitor rectangles the placement is clamped against; the default is
    // the geometry of every screen. Tests inject their own list; an empty
    // function restores the default.
    static void SetMonitorList(TMonitorList monitors);
    static std::vector<QRect> Monitors();

protected:
    // Only TFormOf implements this: a class derived from BaseForm stays
    // abstract, so it cannot be made except through CreateForm and MakeForm.
    virtual void MadeByFormFactory() = 0;

    // Sets the client size, keeping a fixed-size window fixed.
    void SetClientSize(int width, int height);
    // Makes the frame a fixed dialog frame: no resizing, no maximize button.
    void SetFixedDialogFrame();
    void SetBackgroundColor(const QColor& color);

    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;

private:
    template <class T> friend class TFormOf;

    // The first call runs FormDestroy; later calls do nothing.
    void RunFormDestroy();
    void RunFormCreate();

    QMargins FrameMargins() const;
    void MoveOuter(int left, int top);
    bool FrameKnown() const;
    void SetOuterWidth(int width);
    void SetOuterHeight(int height);
    void ApplyPendingOuterSize();
    void DetachFromOwnerWindow();

    bool Destroyed = false;
    // Outer sizes applied before the frame was known.
    std::optional<int> PendingOuterWidth;
    std::optional<int> PendingOuterHeight;
};

// The most-derived class of every window: its destructor runs first, while
// the window is whole, and runs the window's own FormDestroy.
template <class T> class TFormOf final : public T {
public:
    using T::T;
    ~TFormOf() override { this->RunFormDestroy(); }

protected:
    void MadeByFormFactory() override {}
};
