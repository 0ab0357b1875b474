// The scan of a recording and the main window's automatic mode measure the
// same frames the same way: the scan's log carries, step for step, the
// counts and percentages the window logs when it is given the frames the
// scan took.

#include "app/WVideo.h"
#include "log/LoggingUnit.h"
#include "scan/FileScan.h"
#include "scan/ScanOutputs.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"
#include "tests/TestGuards.h"
#include "tests/support/TestMedia.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <cmath>

namespace {

// ", pixels, percent" of each record: the time stamps differ by design.
QStringList Counts(const QString& log) {
    QStringList counts;
    for (const QString& line : log.split("\r\n", Qt::SkipEmptyParts)) {
        counts += line.mid(line.indexOf(','));
    }
    return counts;
}

QString WindowLog(const QString& folder) {
    const QStringList names = QDir(folder).entryList({"movement_*.csv"}, QDir::Files);
    QFile file(QDir(folder).filePath(names.value(0)));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()) : QString();
}

} // namespace

TEST(ScanMatchesWindow, SameFramesGiveTheSameLogCounts) {
    if (!EncoderAvailable(TClipKind::RawBgrAvi)) {
        GTEST_SKIP() << "no AVI muxer";
    }
    QTemporaryDir folder;
    QTemporaryDir config;
    ASSERT_TRUE(folder.isValid() && config.isValid());
    const TScopedEnv configHome("XDG_CONFIG_HOME", config.path().toStdString());
    const TScopedCurrentFolder current(folder.path().toStdString());

    // Uncompressed frames: the scan reads exactly the pixels the test made.
    const TBallClip clip{160, 120, 10, 4, 1, 3};
    const std::string path = MakeBallClip(folder.path().toStdString(), TClipKind::RawBgrAvi, clip);
    TScanProgress progress;
    const TFileScan scan = ScanFile(path, {20, 100, 250000000}, progress);
    ASSERT_TRUE(scan.Failure.empty()) << scan.Failure;
    ASSERT_EQ(scan.Steps.size(), 15u);

    QGuiApplication::clipboard()->clear();
    CreateConfigForm();
    {
        std::unique_ptr<TVideo> window = BaseForm::MakeForm<TVideo>();
        window->show();
        window->VariatLimitSpinBox->SetValue(20);
        window->MinMoveSpinBox->SetValue(100);
        window->CapSpeedSpinBox->SetValue(1000000); // no tick during the test
        ConfigForm->LogInAutoCheck->setChecked(true);
        ConfigForm->LogDirEdit->setText(folder.path());
        QTest::mouseClick(window->AutoBut, Qt::LeftButton);

        // The frame at 0 s is both sides' reference; the window's first step
        // compares it with nothing and is left out.
        std::vector<std::int64_t> times = {0};
        for (const TStepRecord& step : scan.Steps) {
            times.push_back(step.TimeNs);
        }
        for (const std::int64_t time : times) {
            const int index = int(std::lround(double(time) * clip.Fps / 1e9));
            std::vector<unsigned char> pixels = BallFrame(clip, index);
            const QImage frame(pixels.data(), clip.Width, clip.Height, clip.Width * 3,
                               QImage::Format_BGR888);
            QGuiApplication::clipboard()->setImage(frame.copy());
            QTest::mouseClick(window->SpeedButton12, Qt::LeftButton);
        }
        QTest::mouseClick(window->AutoBut, Qt::LeftButton);
        window->close();
    }
    DestroyConfigForm();

    QStringList windowCounts = Counts(WindowLog(folder.path()));
    ASSERT_EQ(windowCounts.size(), int(scan.Steps.size()) + 1);
    windowCounts.removeFirst();
    const QStringList scanCounts =
        Counts(QString::fromStdString(MovementLogText(scan.Steps, scan.Creation)));
    EXPECT_EQ(windowCounts, scanCounts);
    // The ball moved in the steps from 1 s to 3 s, and in no other.
    EXPECT_TRUE(std::any_of(scan.Steps.begin(), scan.Steps.end(),
                            [](const TStepRecord& step) { return step.Movement; }));
    for (const TStepRecord& step : scan.Steps) {
        EXPECT_EQ(step.Movement, step.TimeNs >= 1000000000 && step.TimeNs <= 3000000000)
            << step.TimeNs;
    }
}
