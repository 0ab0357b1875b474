// Event commands: taking a command line apart, filling in the placeholders,
// and running real programs in the background with a time limit.

#include "integration/CommandRunner.h"
#include "integration/Payloads.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using Words = std::vector<std::string>;

TEST(CommandLine, QuotesGroupWordsAndNothingIsExpanded) {
    EXPECT_EQ(SplitCommandLine("  notify-send  -u low\tMotion "),
              (Words{"notify-send", "-u", "low", "Motion"}));
    EXPECT_EQ(SplitCommandLine(R"(say 'it''s' "a \"b\" c" d\ e $(rm) `x`;y)"),
              (Words{"say", "its", "a \"b\" c", "d e", "$(rm)", "`x`;y"}));
    EXPECT_EQ(SplitCommandLine("a '' b"), (Words{"a", "", "b"}));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
    EXPECT_THROW(SplitCommandLine("say 'open"), ECommandLine);
    EXPECT_THROW(SplitCommandLine("say \"open"), ECommandLine);
    EXPECT_THROW(SplitCommandLine("say \\"), ECommandLine);
}

TEST(CommandLine, PlaceholdersAreFilledOnceWordByWord) {
    const TPlaceholders values{{"clip", "/v/a b {camera}.mkv"}, {"camera", "door"}};
    EXPECT_EQ(FillPlaceholders({"run", "{clip}", "--cam={camera}", "{nope}", "{", "a}{"}, values),
              (Words{"run", "/v/a b {camera}.mkv", "--cam=door", "{nope}", "{", "a}{"}));
}

class CommandRunnerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "commands";
        static char* argv[] = {name, nullptr};
        App = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete App;
        App = nullptr;
    }

    // A program that writes its arguments, one per NUL, to the given file.
    QString Recorder() {
        const QString path = Dir.filePath("record-arguments");
        QFile script(path);
        EXPECT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nout=$1; shift\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done "
                     "> \"$out.part\" && mv \"$out.part\" \"$out\"\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path;
    }

    static bool WaitFor(const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        return true;
    }

    static inline QCoreApplication* App = nullptr;
    QTemporaryDir Dir;
};

TEST_F(CommandRunnerTest, HostileNamesReachTheProgramAsPlainArguments) {
    const QString out = Dir.filePath("args");
    TCommandRunner runner("on event end");
    runner.SetCommandLine("'" + Recorder().toStdString() + "' '" + out.toStdString() +
                          "' {clip} --camera={camera} {peak}");
    const std::string clip =
        Dir.filePath("it's \"a\" clip $(touch pwned) `touch pwned2`; x.mkv").toStdString();
    ASSERT_TRUE(runner.Run({{"clip", clip}, {"camera", "Door; rm -rf ~"}, {"peak", "17"}}));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(out); }));
    QFile file(out);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> arguments = file.readAll().split('\0');
    ASSERT_EQ(arguments.size(), 4); // three, and the empty rest after the last NUL
    EXPECT_EQ(arguments[0].toStdString(), clip);
    EXPECT_EQ(arguments[1].toStdString(), "--camera=Door; rm -rf ~");
    EXPECT_EQ(arguments[2].toStdString(), "17");
    EXPECT_FALSE(QFile::exists("pwned") || QFile::exists(Dir.filePath("pwned")));
    EXPECT_FALSE(QFile::exists("pwned2") || QFile::exists(Dir.filePath("pwned2")));
}

TEST_F(CommandRunnerTest, OneRunsAtATimeAndOneOverItsTimeIsKilledAndReportedOnce) {
    TCommandRunner runner("on event start");
    QSignalSpy failures(&runner, &TCommandRunner::Failed);
    QSignalSpy finished(&runner, &TCommandRunner::Finished);
    runner.SetCommandLine("sleep 30");
    runner.SetTimeLimit(std::chrono::milliseconds(300));
    ASSERT_TRUE(runner.Run({}));
    EXPECT_FALSE(runner.Run({})); // still running: skipped
    EXPECT_EQ(runner.Skipped(), 1);
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 1; }));
    ASSERT_EQ(failures.count(), 1);
    EXPECT_EQ(failures.at(0).at(0).toString(),
              "Command on event start failed: sleep: killed after 0.3 s");

    ASSERT_TRUE(runner.Run({}));
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 2; }));
    EXPECT_EQ(failures.count(), 1); // the same trouble is not reported again

    runner.SetCommandLine("true");
    ASSERT_TRUE(runner.Run({}));
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 3; }));
    runner.SetCommandLine("false");
    ASSERT_TRUE(runner.Run({}));
    ASSERT_TRUE(WaitFor([&] { return finished.count() == 4; }));
    ASSERT_EQ(failures.count(), 2); // a success in between: reported again
    EXPECT_EQ(failures.at(1).at(0).toString(), "Command on event start failed: false: exit code 1");
}

TEST_F(CommandRunnerTest, AMissingProgramOrABrokenLineIsReportedAndNothingRuns) {
    TCommandRunner runner("on camera lost/back");
    QSignalSpy failures(&runner, &TCommandRunner::Failed);
    runner.SetCommandLine(Dir.filePath("no such program").toStdString() + "x");
    ASSERT_TRUE(runner.Run({}));
    ASSERT_TRUE(WaitFor([&] { return failures.count() == 1; }));
    runner.SetCommandLine("say 'unterminated");
    ASSERT_EQ(failures.count(), 2);
    EXPECT_TRUE(failures.at(1).at(0).toString().contains("unterminated single quote"));
    EXPECT_FALSE(runner.Run({}));
    runner.SetCommandLine("");
    EXPECT_FALSE(runner.Run({}));
}

TEST_F(CommandRunnerTest, TheLastCommandAtProgramEndGetsAMomentToFinish) {
    const QString out = Dir.filePath("args");
    {
        TCommandRunner runner("on event end");
        runner.SetCommandLine("'" + Recorder().toStdString() + "' '" + out.toStdString() +
                              "' done");
        ASSERT_TRUE(runner.Run({}));
    }
    EXPECT_TRUE(QFile::exists(out));

    TCommandRunner stuck("on event end");
    stuck.SetCommandLine("sleep 30");
    stuck.SetTimeLimit(std::chrono::milliseconds(100)); // the grace is at most the limit
    ASSERT_TRUE(stuck.Run({}));
}
