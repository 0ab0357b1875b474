#pragma once
// The main window driven as a user drives it, for the tests of its controls
// and commands and of its frame step: a fresh window in a folder of its own,
// frames that the tests put on the real clipboard, and what the error
// display shows collected instead of shown.

#include "app/SaveSpace.h"
#include "app/TApplication.h"
#include "app/TTimer.h"
#include "app/WVideo.h"

#include "chart/TAreaSeries.h"
#include "chart/TChart.h"
#include "graph/RunningGraph.h"
#include "log/LoggingUnit.h"
#include "meter/Meter.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"
#include "tests/PaintCounter.h"
#include "tests/SmallVolume.h"
#include "tests/TestGuards.h"
#include "types/Exception.h"
#include "windows/DirectionUnit.h"
#include "windows/ImageFormUnit.h"
#include "windows/MaskEditor.h"
#include "windows/VideoFormUnit.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

// A frame of the given size in one gray level, with optional brighter pixels.
inline QImage Frame(int width, int height, int level = 0) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(level, level, level));
    return image;
}

inline QImage WithBrightPixels(QImage image, int count) {
    for (int i = 0; i < count; ++i) {
        image.setPixelColor(i % image.width(), i / image.width(), Qt::white);
    }
    return image;
}

inline void PutOnClipboard(const QImage& frame) {
    QGuiApplication::clipboard()->setImage(frame);
}

inline int CountFiles(const QString& folder, const QString& pattern) {
    return static_cast<int>(QDir(folder).entryList({pattern}, QDir::Files).size());
}

inline QStringList LogLines(const QString& folder) {
    QStringList lines;
    for (const QString& name : QDir(folder).entryList({"movement_*.csv"}, QDir::Files)) {
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::ReadOnly)) {
            const QString text = QString::fromLatin1(file.readAll());
            lines += text.split("\r\n", Qt::SkipEmptyParts);
        }
    }
    return lines;
}

// Saves a picture of the window for the documentation when
// STIRWATCH_SCREENSHOT_DIR names a folder.
inline void SaveShot(QWidget* window, const char* name) {
    if (const QByteArray folder = qgetenv("STIRWATCH_SCREENSHOT_DIR"); !folder.isEmpty()) {
        window->grab().save(QString::fromUtf8(folder) + "/" + name);
    }
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid() && WorkFolder.isValid() && LogFolder.isValid());
        ConfigHomeEnv.emplace("XDG_CONFIG_HOME", ConfigHome.path().toStdString());
        CurrentFolder.emplace(WorkFolder.path().toStdString());
        TApplication::SetMessageSink(
            [this](const QString&, const QString& text) { Errors.push_back(text); });
        QGuiApplication::clipboard()->clear();
        CreateConfigForm();
        Open();
    }

    void TearDown() override {
        Close();
        DestroyConfigForm();
        TApplication::SetMessageSink(nullptr);
        QGuiApplication::clipboard()->clear();
    }

    void Open() {
        Window = BaseForm::MakeForm<TVideo>();
        Window->show();
        Window->activateWindow();
        QCoreApplication::processEvents();
    }

    // Closes the window as the user does and destroys it as the program's
    // end does.
    void Close() {
        if (Window) {
            Window->close();
            Window.reset();
        }
    }

    void Click(QToolButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    // One "Evolve One" press on the given frame.
    void StepOn(const QImage& frame) {
        PutOnClipboard(frame);
        Click(Window->SpeedButton12);
    }

    QTemporaryDir ConfigHome;
    QTemporaryDir WorkFolder;
    QTemporaryDir LogFolder;
    std::optional<TScopedEnv> ConfigHomeEnv;
    std::optional<TScopedCurrentFolder> CurrentFolder;
    std::unique_ptr<TVideo> Window;
    std::vector<QString> Errors;
};
