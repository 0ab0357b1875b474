#include "settings/ConfigUnit.h"
#include "settings/TRegIniFile.h"
#include "settings/TSpinEdit.h"
#include "tests/TestGuards.h"
#include "types/ErrorRoute.h"
#include "types/Exception.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>

namespace {

class ConfigWindow : public ::testing::Test {
protected:
    QTemporaryDir ConfigHome;
    std::optional<TScopedEnv> ConfigHomeEnv;
    TConfigForm Form;

    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid());
        ConfigHomeEnv.emplace("XDG_CONFIG_HOME", ConfigHome.path().toStdString());
    }
    std::string FilePath() const { return TRegIniFile("Software\\Quellor").FileName(); }
    void StoreText(const std::string& values) {
        QDir().mkpath(ConfigHome.path() + "/Quellor");
        QFile file(QString::fromStdString(FilePath()));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(("[Software\\Quellor\\Stirwatch]\n" + values).c_str());
    }
    std::string FileText() const {
        QFile file(QString::fromStdString(FilePath()));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<none>";
    }
    std::vector<int> ThresholdValues() const {
        return {Form.BarThEdit1->Value(), Form.BarThEdit2->Value(), Form.BarThEdit3->Value(),
                Form.BarThEdit4->Value(), Form.BarThEdit5->Value(), Form.BarThEdit6->Value()};
    }
    void TypeInto(TSpinEdit* edit, const QString& keys) {
        for (const QChar c : keys) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(edit->Editor(), &press);
        }
    }
};

TEST_F(ConfigWindow, DesignedLayoutAndDefaults) {
    EXPECT_EQ(Form.objectName(), "ConfigForm");
    EXPECT_EQ(Form.windowTitle(), "Stirwatch Configuration");
    EXPECT_EQ(Form.size(), QSize(563, 384));
    EXPECT_EQ(Form.minimumSize(), Form.maximumSize());
    EXPECT_EQ(Form.PageControl->tabText(0), "Events");
    EXPECT_EQ(Form.PageControl->tabText(1), "Meter");
    EXPECT_EQ(Form.PageControl->count(), 5);
    EXPECT_EQ(Form.PageControl->currentWidget(), Form.MeterSheet);
    EXPECT_EQ(Form.GraphCheck->parentWidget(), &Form);
    EXPECT_EQ(Form.GraphCheck->pos(), QPoint(24, 272));
    EXPECT_EQ(Form.CloseBtn->size(), QSize(97, 25));
    EXPECT_EQ(Form.LogDirEdit->width(), 418);
    EXPECT_TRUE(Form.LogDirEdit->isReadOnly());
    EXPECT_EQ(Form.LogDirBtn->size(), QSize(75, 21));
    EXPECT_EQ(Form.BarThEdit3->geometry(), QRect(189, 72, 121, 22));
    EXPECT_EQ(Form.RunningWindowSizeEdit->geometry(), QRect(189, 200, 121, 22));
    EXPECT_EQ(Form.LogInAutoCheck->text(), "Log movement to a file  in Auto mode");
    for (const char* name : {"BeepOMBox", "SaveOMBox", "LogInAutoCheck", "LogDirEdit", "LogDirBtn",
                             "CloseBtn", "BarThEdit1", "BarThEdit6", "RunningWindowSizeEdit",
                             "GraphCheck", "PageControl", "DownloadDirLabel"}) {
        EXPECT_NE(Form.findChild<QWidget*>(name), nullptr) << name;
    }

    EXPECT_FALSE(Form.BeepOMBox->isChecked());
    EXPECT_FALSE(Form.SaveOMBox->isChecked());
    EXPECT_FALSE(Form.LogInAutoCheck->isChecked());
    EXPECT_TRUE(Form.GraphCheck->isChecked());
    EXPECT_EQ(ThresholdValues(), (std::vector<int>{2, 4, 8, 16, 32, 64}));
    EXPECT_EQ(Form.BarThEdit2->MinValue(), 0); // the linkage has not run yet
    EXPECT_EQ(Form.BarThEdit6->MaxValue(), 100);
    EXPECT_EQ(Form.RunningWindowSizeEdit->Value(), 250);
    EXPECT_TRUE(Form.SettingsSection.empty());
}

TEST_F(ConfigWindow, LoadedThresholdsAreClampedByTheLinkageAsTheyArrive) {
    StoreText("ThresholdBar1=10\nThresholdBar2=5\nThresholdBar3=20\nThresholdBar4=30\n"
              "ThresholdBar5=40\nThresholdBar6=50\nRunningWindowSize=-7\nBeepOnMove=2\n"
              "ShowGraph=no\n");
    Form.LoadSettings("Stirwatch");
    EXPECT_EQ(Form.SettingsSection, "Stirwatch");
    EXPECT_EQ(ThresholdValues(), (std::vector<int>{10, 11, 20, 30, 40, 50}));
    EXPECT_EQ(Form.RunningWindowSizeEdit->Value(), -7);
    EXPECT_TRUE(Form.BeepOMBox->isChecked());
    EXPECT_TRUE(Form.GraphCheck->isChecked());
}

TEST_F(ConfigWindow, TypingRunsTheLinkageForEveryKeystroke) {
    Form.BarThEdit1->SetText("");
    TypeInto(Form.BarThEdit1, "5");
    EXPECT_EQ(Form.BarThEdit2->MinValue(), 6);
    EXPECT_EQ(ThresholdValues(), (std::vector<int>{5, 6, 8, 16, 32, 64}));
    TypeInto(Form.BarThEdit1, "0");
    EXPECT_EQ(Form.BarThEdit2->MinValue(), 51);
    EXPECT_EQ(ThresholdValues(), (std::vector<int>{50, 51, 52, 53, 54, 64}));

    Form.BarThEdit1->SetText("");
    TypeInto(Form.BarThEdit1, "100"); // the raised minimum wins over the maximum
    EXPECT_EQ(ThresholdValues(), (std::vector<int>{100, 101, 102, 103, 104, 105}));

    Form.BarThEdit1->SetText("2147483647"); // the next minimum stops at the largest integer
    EXPECT_EQ(Form.BarThEdit2->MinValue(), 2147483647);
    EXPECT_EQ(Form.BarThEdit6->Value(), 2147483647);
}

TEST_F(ConfigWindow, LinkageRaisesUntilATextStaysAndNeverLowers) {
    Form.BarThEdit1->SetValue(10);
    EXPECT_EQ(ThresholdValues(), (std::vector<int>{10, 11, 12, 16, 32, 64}));
    EXPECT_EQ(Form.BarThEdit5->MinValue(), 0); // the chain stopped at an unchanged text
    Form.BarThEdit1->SetValue(3);
    EXPECT_EQ(ThresholdValues(), (std::vector<int>{3, 11, 12, 16, 32, 64}));
    EXPECT_EQ(Form.BarThEdit2->MinValue(), 4);
}

TEST_F(ConfigWindow, LogFolderFallsBackToDocumentsOnlyWhenAbsent) {
    const QString documents = ConfigHome.path() + "/Docs";
    QDir().mkpath(documents);
    QFile dirs(ConfigHome.path() + "/user-dirs.dirs");
    ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
    dirs.write(("XDG_DOCUMENTS_DIR=\"" + documents + "\"\n").toUtf8());
    dirs.close();

    Form.LoadSettings("Stirwatch");
    EXPECT_EQ(Form.LogDirEdit->text(), documents);

    StoreText("LogFolder=\n");
    Form.LoadSettings("Stirwatch");
    EXPECT_EQ(Form.LogDirEdit->text(), "");
}

// No ~/Documents and no documents entry: the home folder, not an empty field
// (which would put the log at the root of the file system).
TEST_F(ConfigWindow, WithoutADocumentsFolderTheLogFolderIsTheHomeFolder) {
    QTemporaryDir home;
    const TScopedEnv homeEnv("HOME", home.path().toStdString());
    Form.LoadSettings("Stirwatch");
    EXPECT_EQ(Form.LogDirEdit->text(), home.path());
}

TEST_F(ConfigWindow, ValueOfTheWrongTypeStopsTheLoadThere) {
    StoreText("BeepOnMove=1\nSaveOnMove=1\nLogInAuto=@Variant(\\0\\0\\0\\x1)\nThresholdBar1=50\n");
    EXPECT_THROW(Form.LoadSettings("Stirwatch"), ERegistryException);
    EXPECT_TRUE(Form.BeepOMBox->isChecked());
    EXPECT_TRUE(Form.SaveOMBox->isChecked());
    EXPECT_EQ(Form.BarThEdit1->Value(), 2);
}

TEST_F(ConfigWindow, EveryCloseSavesInOrderButOnlyAfterALoad) {
    Form.show();
    Form.close();
    EXPECT_EQ(FileText(), "<none>");

    Form.LoadSettings("Stirwatch");
    Form.LogDirEdit->setText("/var/log/cam");
    Form.EventsDirEdit->setText("/srv/events");
    Form.BarThEdit6->SetText("");
    Form.show();
    Form.CloseBtn->click();
    EXPECT_FALSE(Form.isVisible());
    EXPECT_EQ(FileText(), "[Software\\Quellor\\Stirwatch]\n"
                          "BeepOnMove=0\n"
                          "SaveOnMove=0\n"
                          "LogInAuto=0\n"
                          "LogFolder=/var/log/cam\n"
                          "RunningWindowSize=250\n"
                          "ThresholdBar1=2\n"
                          "ThresholdBar2=4\n"
                          "ThresholdBar3=8\n"
                          "ThresholdBar4=16\n"
                          "ThresholdBar5=32\n"
                          "ThresholdBar6=0\n"
                          "ShowGraph=1\n"
                          "RecordOnMove=0\n"
                          "PreRoll=3\n"
                          "PostRoll=5\n"
                          "EventsFolder=/srv/events\n"
                          "EventsLimitMB=2048\n"
                          "CameraName=\n"
                          "TrayNotify=0\n"
                          "CommandOnEventStart=\n"
                          "CommandOnEventEnd=\n"
                          "CommandOnCameraLostBack=\n"
                          "CommandTimeLimit=60\n"
                          "MqttPublish=0\n"
                          "MqttHost=localhost\n"
                          "MqttPort=1883\n"
                          "MqttTls=0\n"
                          "MqttUser=\n"
                          "MqttPassword=\n");

    Form.BeepOMBox->setChecked(true);
    Form.show();
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(&Form, &escape);
    EXPECT_FALSE(Form.isVisible());
    EXPECT_NE(FileText().find("BeepOnMove=1\n"), std::string::npos);
}

TEST_F(ConfigWindow, SavedOptionsComeBackInANewWindow) {
    Form.LoadSettings("Stirwatch");
    Form.BeepOMBox->setChecked(true);
    Form.LogInAutoCheck->setChecked(true);
    Form.LogDirEdit->setText("/srv/cam logs");
    Form.RunningWindowSizeEdit->SetValue(1000);
    Form.BarThEdit1->SetValue(5);
    Form.BarThEdit6->SetValue(90);
    Form.GraphCheck->setChecked(false);
    Form.show();
    Form.close();

    TConfigForm again;
    again.LoadSettings("Stirwatch");
    EXPECT_TRUE(again.BeepOMBox->isChecked());
    EXPECT_FALSE(again.SaveOMBox->isChecked());
    EXPECT_TRUE(again.LogInAutoCheck->isChecked());
    EXPECT_EQ(again.LogDirEdit->text(), "/srv/cam logs");
    EXPECT_EQ(again.RunningWindowSizeEdit->Value(), 1000);
    EXPECT_EQ(again.BarThEdit1->Value(), 5);
    EXPECT_EQ(again.BarThEdit2->Value(), 6);
    EXPECT_EQ(again.BarThEdit6->Value(), 90);
    EXPECT_FALSE(again.GraphCheck->isChecked());
}

// The close runs inside the toolkit's event handling: the error is reported,
// never thrown through it, and the dialog closes all the same.
TEST_F(ConfigWindow, FailedSaveStillClosesAndReportsTheError) {
    std::vector<std::string> reported;
    const TErrorRoute route([&](const std::exception& error) { reported.push_back(error.what()); });
    Form.LoadSettings("Stirwatch");
    QDir().mkpath(QString::fromStdString(FilePath())); // a folder where the file belongs
    Form.show();
    EXPECT_NO_THROW(Form.CloseBtn->click());
    EXPECT_FALSE(Form.isVisible());
    Form.show();
    EXPECT_NO_THROW(Form.reject());
    EXPECT_FALSE(Form.isVisible());
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported[0], "Failed to set data for 'BeepOnMove'");
}

TEST_F(ConfigWindow, GraphCheckShowsTheChartOnlyWhileTheMainWindowIsVisible) {
    QWidget mainWindow;
    auto* chart = new QWidget(&mainWindow);
    Form.SetMainWindow(&mainWindow, chart);
    Form.GraphCheck->setChecked(false);
    EXPECT_FALSE(chart->isHidden()); // main window not shown: nothing happens
    mainWindow.show();
    Form.GraphCheck->setChecked(true);
    Form.GraphCheck->click();
    EXPECT_FALSE(chart->isVisible());
    Form.GraphCheck->click();
    EXPECT_TRUE(chart->isVisible());
}

TEST_F(ConfigWindow, BrowseKeepsAnExistingFolderOnCancelAndEmptiesAMissingOne) {
    QString seenTitle;
    QString seenStart;
    QString answer;
    Form.SetFolderChooser([&](QWidget* parent, const QString& title, const QString& start) {
        EXPECT_EQ(parent, &Form);
        seenTitle = title;
        seenStart = start;
        return answer;
    });
    Form.LogDirEdit->setText(ConfigHome.path());
    Form.LogDirBtn->click();
    EXPECT_EQ(seenTitle, "Select folder to store Log files");
    EXPECT_EQ(seenStart, ConfigHome.path());
    EXPECT_EQ(Form.LogDirEdit->text(), ConfigHome.path());

    Form.LogDirEdit->setText(ConfigHome.path() + "/gone");
    Form.LogDirBtn->click();
    EXPECT_EQ(seenStart, "");
    EXPECT_EQ(Form.LogDirEdit->text(), "");

    answer = "/tmp";
    Form.LogDirBtn->click();
    EXPECT_EQ(Form.LogDirEdit->text(), "/tmp");
}

TEST_F(ConfigWindow, OpensOnTheTabShownLast) {
    Form.show();
    Form.PageControl->setCurrentWidget(Form.EventsSheet);
    Form.hide();
    Form.show();
    EXPECT_EQ(Form.PageControl->currentWidget(), Form.EventsSheet);
    Form.hide();
}

TEST_F(ConfigWindow, EnterInAFieldNeitherBrowsesNorCloses) {
    int browsed = 0;
    Form.SetFolderChooser([&](QWidget*, const QString&, const QString&) {
        ++browsed;
        return QString();
    });
    Form.show();
    Form.PageControl->setCurrentWidget(Form.EventsSheet);
    for (QWidget* field : {static_cast<QWidget*>(Form.BarThEdit1->Editor()),
                           static_cast<QWidget*>(Form.LogDirEdit)}) {
        field->setFocus();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(field, &enter);
    }
    EXPECT_EQ(browsed, 0);
    EXPECT_TRUE(Form.isVisible());
    EXPECT_EQ(FileText(), "<none>");
    Form.hide();
}

TEST(ConfigFormInstance, CreatedHiddenWithoutOwnerAndDestroyedWithoutSaving) {
    QTemporaryDir configHome;
    const TScopedEnv configHomeEnv("XDG_CONFIG_HOME", configHome.path().toStdString());
    CreateConfigForm();
    ASSERT_NE(ConfigForm, nullptr);
    EXPECT_EQ(ConfigForm->parentWidget(), nullptr);
    EXPECT_FALSE(ConfigForm->isVisible());
    ConfigForm->LoadSettings("Stirwatch");
    DestroyConfigForm();
    EXPECT_EQ(ConfigForm, nullptr);
    EXPECT_FALSE(QFileInfo::exists(configHome.path() + "/Quellor/Stirwatch.conf"));
}

TEST_F(ConfigWindow, DetectionTabIsOffByDefaultKeepsTheLastReadableMaskAndStoresIt) {
    EXPECT_EQ(Form.PageControl->tabText(4), "Detection");
    EXPECT_EQ(Form.DetectionSettings(), TDetectionSettings{});
    for (QGroupBox* group : {Form.FalseAlarmGroup, Form.MaskGroup}) {
        const QRect onDialog(group->mapTo(&Form, QPoint(0, 0)), group->size());
        EXPECT_LT(onDialog.bottom(), Form.GraphCheck->y()) << group->objectName().toStdString();
    }
    int changes = 0;
    QObject::connect(&Form, &TConfigForm::DetectionChanged, &Form, [&changes] { ++changes; });
    Form.SpeckleEdit->SetValue(3);
    Form.LightGuardCheck->setChecked(true);
    Form.MaskEdit->setPlainText("watch\n0,0 0.5,0 0.5,1\n");
    EXPECT_GE(changes, 3);
    Form.MaskEdit->setPlainText("watch\n0,0 0.5,0\n"); // a polygon still being typed
    EXPECT_TRUE(Form.MaskStatusLabel->text().contains("line 2"));
    EXPECT_EQ(Form.DetectionSettings().Mask, "watch\n0,0 0.5,0 0.5,1\n");

    Form.LoadSettings("Stirwatch"); // nothing stored: the defaults
    Form.SetDetectionSettings({3, true, 45, "ignore\n0.1,0.1 0.9,0.1 0.9,0.9\n"});
    Form.show();
    Form.close();
    EXPECT_NE(FileText().find("Mask=ignore;0.1,0.1 0.9,0.1 0.9,0.9;"), std::string::npos)
        << FileText();
    TConfigForm again;
    again.LoadSettings("Stirwatch");
    const TDetectionSettings stored = again.DetectionSettings();
    EXPECT_EQ(stored.SpeckleNeighbours, 3);
    EXPECT_TRUE(stored.LightGuard);
    EXPECT_EQ(stored.LightGuardPercent, 45);
    EXPECT_EQ(stored.Mask, "ignore\n0.1,0.1 0.9,0.1 0.9,0.9\n");
}

} // namespace

// The third tab: recording of motion events, off until the user turns it on.
TEST_F(ConfigWindow, RecordingTabDefaultsRangesAndStoredValues) {
    EXPECT_EQ(Form.PageControl->tabText(2), "Recording");
    EXPECT_EQ(Form.PageControl->widget(2), Form.RecordingSheet);
    EXPECT_FALSE(Form.RecordOnMoveCheck->isChecked());
    EXPECT_EQ(Form.PreRollEdit->Value(), 3);
    EXPECT_EQ(Form.PostRollEdit->Value(), 5);
    EXPECT_EQ(Form.EventsLimitEdit->Value(), 2048);
    EXPECT_TRUE(Form.EventsDirEdit->text().endsWith("/Stirwatch"));
    EXPECT_EQ(Form.EventsDirEdit->text(), DefaultEventsFolder());
    EXPECT_TRUE(Form.EventsDirEdit->isReadOnly());
    // Everything on the tab stays above the graph check box, which stands in
    // front of every tab.
    for (QGroupBox* group : {Form.RecordingGroup, Form.EventsFolderGroup}) {
        const QRect onDialog(group->mapTo(&Form, QPoint(0, 0)), group->size());
        EXPECT_LT(onDialog.bottom(), Form.GraphCheck->y()) << group->objectName().toStdString();
    }

    StoreText("RecordOnMove=1\nPreRoll=45\nPostRoll=-2\nEventsFolder=/data/cam\n"
              "EventsLimitMB=100\n");
    Form.LoadSettings("Stirwatch");
    EXPECT_TRUE(Form.RecordOnMoveCheck->isChecked());
    EXPECT_EQ(Form.PreRollEdit->Value(), 30); // loaded with the boxes' rules
    EXPECT_EQ(Form.PostRollEdit->Value(), 0);
    EXPECT_EQ(Form.EventsDirEdit->text(), "/data/cam");
    EXPECT_EQ(Form.EventsLimitEdit->Value(), 100);

    Form.PostRollEdit->SetValue(60);
    Form.show();
    Form.close();
    TConfigForm again;
    again.LoadSettings("Stirwatch");
    EXPECT_TRUE(again.RecordOnMoveCheck->isChecked());
    EXPECT_EQ(again.PostRollEdit->Value(), 60);
    EXPECT_EQ(again.EventsDirEdit->text(), "/data/cam");
}

TEST_F(ConfigWindow, EventsFolderBrowseStartsAtTheNearestExistingFolder) {
    QTemporaryDir videos;
    QString startedAt;
    Form.SetFolderChooser([&](QWidget*, const QString&, const QString& start) {
        startedAt = start;
        return QString();
    });
    Form.EventsDirEdit->setText(videos.path() + "/Stirwatch"); // not made yet
    Form.EventsDirBtn->click();
    EXPECT_EQ(startedAt, videos.path());
    EXPECT_EQ(Form.EventsDirEdit->text(), videos.path() + "/Stirwatch"); // cancel keeps it

    Form.SetFolderChooser([&](QWidget*, const QString&, const QString&) { return videos.path(); });
    Form.EventsDirBtn->click();
    EXPECT_EQ(Form.EventsDirEdit->text(), videos.path());
}

// The fourth tab: telling other programs about events, all off by default; a
// stored password keeps the settings file from everyone but its owner.
TEST_F(ConfigWindow, IntegrationTabIsOffByDefaultAndKeepsAPasswordPrivate) {
    EXPECT_EQ(Form.PageControl->tabText(3), "Integration");
    EXPECT_EQ(Form.PageControl->widget(3), Form.IntegrationSheet);
    EXPECT_FALSE(Form.TrayCheck->isChecked());
    EXPECT_FALSE(Form.MqttCheck->isChecked());
    EXPECT_FALSE(Form.MqttTlsCheck->isChecked());
    for (QLineEdit* edit : {Form.CameraNameEdit, Form.StartCmdEdit, Form.EndCmdEdit,
                            Form.CameraCmdEdit, Form.MqttUserEdit, Form.MqttPasswordEdit}) {
        EXPECT_TRUE(edit->text().isEmpty()) << edit->objectName().toStdString();
    }
    EXPECT_EQ(Form.MqttHostEdit->text(), "localhost");
    EXPECT_EQ(Form.MqttPortEdit->Value(), 1883);
    EXPECT_EQ(Form.CmdLimitEdit->Value(), 60);
    EXPECT_EQ(Form.MqttPasswordEdit->echoMode(), QLineEdit::Password);
    for (QGroupBox* group : {Form.CameraGroup, Form.CommandsGroup, Form.MqttGroup}) {
        const QRect onDialog(group->mapTo(&Form, QPoint(0, 0)), group->size());
        EXPECT_LT(onDialog.bottom(), Form.GraphCheck->y()) << group->objectName().toStdString();
    }

    Form.LoadSettings("Stirwatch");
    Form.CameraNameEdit->setText("Front door");
    Form.EndCmdEdit->setText("notify 'the clip' {clip}");
    Form.MqttCheck->setChecked(true);
    Form.MqttPortEdit->SetValue(8883);
    Form.show();
    Form.close();
    struct stat status {};
    ASSERT_EQ(stat(FilePath().c_str(), &status), 0);
    EXPECT_NE(status.st_mode & 077, 0u) << "no password, no need to hide the file";

    Form.MqttUserEdit->setText("me");
    Form.MqttPasswordEdit->setText("p=ss;word");
    Form.show();
    Form.close();
    ASSERT_EQ(stat(FilePath().c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    TConfigForm again;
    again.LoadSettings("Stirwatch");
    EXPECT_EQ(again.CameraNameEdit->text(), "Front door");
    EXPECT_EQ(again.EndCmdEdit->text(), "notify 'the clip' {clip}");
    EXPECT_TRUE(again.MqttCheck->isChecked());
    EXPECT_EQ(again.MqttPortEdit->Value(), 8883);
    EXPECT_EQ(again.MqttPasswordEdit->text(), "p=ss;word");
    EXPECT_FALSE(again.TrayCheck->isChecked());
}
