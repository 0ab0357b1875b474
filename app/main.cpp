// The program: module initialisation, the main window, the message loop, and
// the shut-down in reverse order.

#include "app/TApplication.h"
#include "app/WVideo.h"
#include "settings/ConfigUnit.h"

#include <memory>

namespace {

// The parts of the program that hold module-wide state, set up before any
// window exists and torn down after the last one is gone. The configuration
// window comes last and goes first.
struct ModuleLifetime {
    ModuleLifetime() { CreateConfigForm(); }
    ~ModuleLifetime() { DestroyConfigForm(); }
    ModuleLifetime(const ModuleLifetime&) = delete;
    ModuleLifetime& operator=(const ModuleLifetime&) = delete;
};

} // namespace

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    BaseForm::ReportError = [](const std::exception& error) { TApplication::ShowException(error); };
    ModuleLifetime modules;
    TApplication::SetTitle("Stirwatch");
    std::unique_ptr<TVideo> mainWindow = BaseForm::MakeForm<TVideo>();
    mainWindow->show();
    const int exitCode = TApplication::exec();
    mainWindow.reset();
    return exitCode;
}
