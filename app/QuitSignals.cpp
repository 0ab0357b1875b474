#include "app/QuitSignals.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <stdexcept>

namespace {

constexpr std::array<int, 3> QuitSignalNumbers = {SIGTERM, SIGINT, SIGHUP};
// The write end for the handler; -1 while no instance exists.
volatile std::sig_atomic_t WriteEnd = -1;
int Pair[2] = {-1, -1};
struct sigaction Previous[QuitSignalNumbers.size()];

// Async-signal-safe: one write, errno kept.
void OnSignal(int signal) {
    const int savedErrno = errno;
    const unsigned char number = static_cast<unsigned char>(signal);
    if (WriteEnd >= 0) {
        [[maybe_unused]] const ssize_t written = write(WriteEnd, &number, 1);
    }
    errno = savedErrno;
}

} // namespace

TQuitSignals::TQuitSignals(std::function<void(int signal)> quit, QObject* parent)
    : QObject(parent), FQuit(std::move(quit)) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, Pair) != 0) {
        throw std::runtime_error("Cannot watch for quit signals");
    }
    WriteEnd = Pair[1];
    FNotifier = std::make_unique<QSocketNotifier>(Pair[0], QSocketNotifier::Read);
    connect(FNotifier.get(), &QSocketNotifier::activated, this, &TQuitSignals::ReadSignal);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    // The handler is reset after one signal: a second Ctrl+C while the
    // program closes ends it at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < QuitSignalNumbers.size(); ++i) {
        sigaction(QuitSignalNumbers[i], &action, &Previous[i]);
    }
}

TQuitSignals::~TQuitSignals() {
    for (std::size_t i = 0; i < QuitSignalNumbers.size(); ++i) {
        sigaction(QuitSignalNumbers[i], &Previous[i], nullptr);
    }
    WriteEnd = -1;
    FNotifier.reset(); // before its socket closes
    close(Pair[0]);
    close(Pair[1]);
    Pair[0] = Pair[1] = -1;
}

void TQuitSignals::ReadSignal() {
    unsigned char number = 0;
    while (read(Pair[0], &number, 1) == 1) {
        if (FQuit) {
            FQuit(number);
        }
    }
}
