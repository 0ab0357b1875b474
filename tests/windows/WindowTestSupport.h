#pragma once
// Every window test runs on its own empty settings folder and on a known set
// of monitors, and collects what the windows report as errors.

#include "types/ErrorRoute.h"
#include "windows/BaseFormUnit.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ConfigHome.isValid());
        PreviousConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", ConfigHome.path().toUtf8());
        UseMonitors({QRect(0, 0, 1920, 1080)});
        Route.emplace([this](const std::exception& error) { Reported.push_back(error.what()); });
    }
    void TearDown() override {
        Route.reset();
        BaseForm::SetMonitorList(nullptr);
        qputenv("XDG_CONFIG_HOME", PreviousConfigHome);
    }
    static void UseMonitors(std::vector<QRect> monitors) {
        BaseForm::SetMonitorList([monitors] { return monitors; });
    }

    QTemporaryDir ConfigHome;
    QByteArray PreviousConfigHome;
    std::vector<std::string> Reported;
    std::optional<TErrorRoute> Route;
};
