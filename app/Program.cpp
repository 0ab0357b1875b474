#include "app/Program.h"

#include "app/QuitSignals.h"
#include "app/TApplication.h"
#include "app/WVideo.h"
#include "capture/VideoCap.h"
#include "settings/ConfigUnit.h"

#include <QTimer>

#include <malloc.h>

#include <memory>

namespace {

// The modules that hold program-wide state, set up before any window exists
// and torn down after the last one is gone. The configuration window is
// created last and destroyed first; it saves only when it is closed.
struct ModuleLifetime {
    ModuleLifetime() {
        // GStreamer and the camera search start in the background now, so that the
        // first "Start Video" does not wait for them.
        PrepareCapture();
        CreateConfigForm();
    }
    ~ModuleLifetime() { DestroyConfigForm(); }
    ModuleLifetime(const ModuleLifetime&) = delete;
    ModuleLifetime& operator=(const ModuleLifetime&) = delete;
};

// Before the first thread starts. The C library gives threads up to 8 memory
// pools per core, and each pool keeps at its top, and in blocks as large as
// the largest frame it has seen, memory that was freed: every motion event
// and reconnection runs on new streaming threads, and a program left running
// kept several megabytes more, pool after pool, in steps that looked like a
// leak. Two pools, given back above 1 MB free (which also keeps blocks over
// 128 KB, frames among them, mapped on their own and returned when freed), hold
// a 20-minute run with an event every 3 s flat and about 4 MB lower.
void BoundFreedMemory() {
    mallopt(M_ARENA_MAX, 2);
    mallopt(M_TRIM_THRESHOLD, 1 << 20);
}

} // namespace

int RunProgram(int& argc, char** argv, std::function<void(TVideo& mainWindow)> started) {
    BoundFreedMemory();
    TApplication app(argc, argv);
    ModuleLifetime modules;
    TApplication::SetTitle("Stirwatch");
    std::unique_ptr<TVideo> mainWindow = BaseForm::MakeForm<TVideo>();
    mainWindow->show();
    // A signal to quit closes the window as the user would (open event clips
    // are finished), then leaves every event loop, dialogs' included.
    TQuitSignals quitSignals([&mainWindow](int signal) {
        mainWindow->close();
        TApplication::exit(128 + signal);
    });
    if (started) {
        QTimer::singleShot(0, mainWindow.get(), [&] { started(*mainWindow); });
    }
    const int exitCode = TApplication::exec();
    // Destroying the main window saves its placement and detection values.
    mainWindow.reset();
    return exitCode;
}
