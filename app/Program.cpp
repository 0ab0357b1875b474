#include "app/Program.h"

#include "app/QuitSignals.h"
#include "app/TApplication.h"
#include "app/WVideo.h"
#include "capture/VideoCap.h"
#include "settings/ConfigUnit.h"

#include <QTimer>

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

} // namespace

int RunProgram(int& argc, char** argv, std::function<void(TVideo& mainWindow)> started) {
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
