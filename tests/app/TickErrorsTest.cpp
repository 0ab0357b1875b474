#include "app/TickErrors.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

TEST(TickErrors, EachErrorIsShownOncePerRunAndItsRepeatsCounted) {
    TTickErrors errors;
    const std::string save = "Cannot create file \"/w/images/0.5.bmp\". No such file or directory";
    const std::string later =
        "Cannot create file \"/w/images/0.51.bmp\". No such file or directory";
    const std::string log = "Cannot create file \"/logs/movement_1.csv\". Permission denied";
    EXPECT_TRUE(errors.Occur(save));
    EXPECT_EQ(errors.StatusText(), "");
    EXPECT_FALSE(errors.Occur(later)) << "the same folder under another file name";
    EXPECT_EQ(errors.StatusText(), "1 more time: " + later);
    EXPECT_TRUE(errors.Occur(log));
    EXPECT_FALSE(errors.Occur(log));
    EXPECT_FALSE(errors.Occur(save));
    EXPECT_EQ(errors.StatusText(), "2 more times: " + save);

    errors.Reset();
    EXPECT_EQ(errors.StatusText(), "");
    EXPECT_TRUE(errors.Occur(save));
}

TEST(TickErrors, KeyKeepsTheFolderTheCauseAndUnquotedText) {
    EXPECT_EQ(TTickErrors::Key("Cannot create file \"/a/b/0.5.bmp\". Disk full"),
              "Cannot create file \"/a/b/\". Disk full");
    EXPECT_NE(TTickErrors::Key("Cannot create file \"/a/0.5.bmp\". Disk full"),
              TTickErrors::Key("Cannot create file \"/b/0.5.bmp\". Disk full"));
    EXPECT_NE(TTickErrors::Key("Cannot create file \"/a/0.5.bmp\". Disk full"),
              TTickErrors::Key("Cannot create file \"/a/0.5.bmp\". Permission denied"));
    EXPECT_EQ(TTickErrors::Key("Failed to set data for 'x'"), "Failed to set data for 'x'");
    EXPECT_EQ(TTickErrors::Key("odd \"quote"), "odd \"quote");
    EXPECT_EQ(TTickErrors::Key(""), "");
}

TEST(TickErrors, RunShowsTheFirstFailureAndCountsItsRepeatsOnTheStatusLine) {
    TTickErrors errors;
    std::vector<std::string> shown;
    std::vector<std::string> status;
    const auto show = [&](const std::string& text) { shown.push_back(text); };
    const auto line = [&](const std::string& text) { status.push_back(text); };
    int ticks = 0;
    errors.Run([&] { ++ticks; }, show, line);
    const auto fail = [] { throw std::runtime_error("Disk full"); };
    errors.Run(fail, show, line);
    errors.Run(fail, show, line);
    errors.Run([] { throw 42; }, show, line);
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(shown, (std::vector<std::string>{"Disk full", "Unknown error"}));
    EXPECT_EQ(status, (std::vector<std::string>{"1 more time: Disk full"}));
}
