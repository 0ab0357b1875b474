// Cost of the settings store at program start and close with a large
// settings file: the main window's creation (every load of every window) and
// its close and destruction plus one close of the configuration window (every
// save). The file holds the program's own sections after the given size of
// other sections. Usage: stirwatch_settings_bench [KB ...] (default 100 1000;
// a file over 1 MB is refused at start: then the row shows the refusal's cost).

#include "app/TApplication.h"
#include "app/WVideo.h"
#include "settings/ConfigUnit.h"
#include "settings/TRegIniFile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

void WriteLargeStore(const std::string& path, long kilobytes) {
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    const QByteArray value(60, 'v');
    const qint64 target = kilobytes << 10;
    const qint64 tail = 140; // the program's own section below
    for (int section = 0; file.size() + tail < target; ++section) {
        QByteArray block =
            "[Software\\Quellor\\Other\\Section" + QByteArray::number(section) + "]\n";
        for (int entry = 0; entry < 100 && file.size() + block.size() + tail < target; ++entry) {
            block += "Value" + QByteArray::number(entry) + "=" + value + "\n";
        }
        file.write(block);
    }
    file.write("[Software\\Quellor\\Stirwatch\\Video]\nTop=105\nLeft=1\nWidth=640\nHeight=300\n"
               "Maximized=0\nPixelTolerance=20\nMinimalMovement=400\nCaptureFrequency=250\n");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    TApplication app(argc, argv);
    TApplication::SetTitle("Stirwatch");
    TApplication::SetMessageSink([](const QString&, const QString& text) {
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
    });
    std::vector<long> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::atol(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {100, 1000};
    }
    std::printf("%10s %12s %12s\n", "file (KB)", "start (ms)", "close (ms)");
    for (const long kilobytes : sizes) {
        QTemporaryDir configHome;
        qputenv("XDG_CONFIG_HOME", configHome.path().toUtf8());
        WriteLargeStore(TRegIniFile("Software\\Quellor").FileName(), kilobytes);

        // The first run stores every window's values; at the second close
        // they are unchanged.
        for (const char* run : {"", " again"}) {
            QElapsedTimer clock;
            clock.start();
            CreateConfigForm();
            std::unique_ptr<TVideo> window = BaseForm::MakeForm<TVideo>();
            window->show();
            QCoreApplication::processEvents();
            const qint64 start = clock.restart();
            ConfigForm->done(0);
            window->close();
            window.reset();
            DestroyConfigForm();
            const qint64 close = clock.elapsed();
            // The second start reads nothing: this process has the file already.
            std::printf("%10s %12s %12lld\n", (std::to_string(kilobytes) + run).c_str(),
                        *run ? "-" : std::to_string(start).c_str(), static_cast<long long>(close));
        }
    }
    return 0;
}
