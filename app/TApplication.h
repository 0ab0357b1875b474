#pragma once
// The application object and its standard error display. An error that ends
// an event handler (a command, a timer tick) is shown in a modal message box
// titled with the application title, with the error icon and the error's
// text; the program then goes on.

#include "types/ErrorRoute.h"

#include <QApplication>
#include <QString>

#include <exception>
#include <functional>

class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);

    // The caption of error boxes (and of the program on the task bar).
    static void SetTitle(const QString& title);
    static QString Title();

    // Shows the error in the message box; returns when the user closes it.
    static void ShowException(const std::exception& error);
    static void ShowException(const QString& message);
    // The text as the box shows it: a period is added when the last
    // character comes after the period in character order.
    static QString ErrorText(const QString& message);

    // Replaces the modal box, for tests that must not block; an empty
    // function restores the box. Receives the title and the text.
    using TMessageSink = std::function<void(const QString& title, const QString& text)>;
    static void SetMessageSink(TMessageSink sink);

    // Last resort for errors that leave an event handler without being shown.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    // The windows' errors reach the error display while the application exists.
    TErrorRoute FErrorRoute;
};

// Runs one event handler. An error that ends it goes to the standard error
// display, so it never unwinds through the toolkit's own event code.
template <class Handler> void HandleEvent(Handler&& handler) noexcept {
    try {
        handler();
    } catch (const std::exception& error) {
        TApplication::ShowException(error);
    } catch (...) {
        TApplication::ShowException(QStringLiteral("Unknown error"));
    }
}
