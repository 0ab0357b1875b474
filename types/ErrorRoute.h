#pragma once
// Where errors go that must not travel on: out of a destructor, or through
// the toolkit's own event handling (a window created, shown, closed or
// destroyed, a dialog closing). An error route sends them to a report for as
// long as it lives and then restores the route before it; with none they are
// written to the standard error stream. The application object holds the
// route to its standard error display, so nothing reaches the display once
// the application is gone.

#include <exception>
#include <functional>
#include <iostream>
#include <utility>

using TErrorReport = std::function<void(const std::exception& error)>;

namespace ErrorRouteDetail {
inline TErrorReport& Current() {
    static TErrorReport route;
    return route;
}
} // namespace ErrorRouteDetail

class TErrorRoute {
public:
    explicit TErrorRoute(TErrorReport report)
        : Previous(std::exchange(ErrorRouteDetail::Current(), std::move(report))) {}
    ~TErrorRoute() { ErrorRouteDetail::Current() = std::move(Previous); }
    TErrorRoute(const TErrorRoute&) = delete;
    TErrorRoute& operator=(const TErrorRoute&) = delete;

private:
    TErrorReport Previous;
};

// Shows the error through the current route.
inline void ReportError(const std::exception& error) {
    if (const TErrorReport& route = ErrorRouteDetail::Current()) {
        route(error);
    } else {
        std::cerr << error.what() << '\n';
    }
}
