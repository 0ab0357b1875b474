#pragma once
// The main window on the capture layer's test scene, set up for motion
// events: settings, working folder and events folder of its own, every step
// counting as movement, steps every 100 ms, a second of pre-roll and of
// post-roll, and what the error display shows collected instead of shown.

#include "app/TApplication.h"
#include "app/WVideo.h"
#include "settings/ConfigUnit.h"
#include "settings/TSpinEdit.h"

#include <QDir>
#include <QLineEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

class TEventWindowFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid() && WorkFolder.isValid() && Events.isValid());
        qputenv("XDG_CONFIG_HOME", ConfigHome.path().toUtf8());
        qputenv("STIRWATCH_SOURCE", "test");
        PreviousFolder = QDir::currentPath();
        QDir::setCurrent(WorkFolder.path());
        TApplication::SetMessageSink(
            [this](const QString&, const QString& text) { Errors.push_back(text); });
        CreateConfigForm();
        Window = BaseForm::MakeForm<TVideo>();
        Window->show();
        ConfigForm->EventsDirEdit->setText(EventsFolder());
        ConfigForm->PreRollEdit->SetValue(1);
        ConfigForm->PostRollEdit->SetValue(1);
        Window->MinMoveSpinBox->SetValue(-1); // every step counts as movement
        Window->CapSpeedSpinBox->SetValue(100);
    }
    void TearDown() override {
        Window->close();
        Window.reset();
        DestroyConfigForm();
        TApplication::SetMessageSink(nullptr);
        QDir::setCurrent(PreviousFolder);
        qunsetenv("STIRWATCH_SOURCE");
    }
    // Where the events go.
    virtual QString EventsFolder() const { return Events.path() + "/Stirwatch"; }

    QTemporaryDir ConfigHome;
    QTemporaryDir WorkFolder;
    QTemporaryDir Events;
    QString PreviousFolder;
    std::unique_ptr<TVideo> Window;
    QStringList Errors;
};
