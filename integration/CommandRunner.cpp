#include "integration/CommandRunner.h"

#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <cstdint>

TCommandRunner::TCommandRunner(QString kind, QObject* parent)
    : QObject(parent), FKind(std::move(kind)), FLimitTimer(new QTimer(this)) {
    FLimitTimer->setSingleShot(true);
    connect(FLimitTimer, &QTimer::timeout, this, [this] {
        if (Running()) {
            FTimedOut = true;
            FProcess->kill();
        }
    });
}

// At program end a command that has just started (the end of the last
// event) gets a moment to finish before it is killed.
TCommandRunner::~TCommandRunner() {
    if (Running()) {
        FProcess->disconnect(this);
        if (!FProcess->waitForFinished(static_cast<int>(std::min<std::int64_t>(
                FTimeLimit.count(), std::chrono::milliseconds(ExitGrace).count())))) {
            FProcess->kill();
            FProcess->waitForFinished(1000);
        }
    }
}

void TCommandRunner::SetCommandLine(const std::string& line) {
    FWords.clear();
    try {
        FWords = SplitCommandLine(line);
    } catch (const ECommandLine& error) {
        FFailureShown = false;
        Report(false, QString::fromStdString(error.what()));
    }
}

void TCommandRunner::SetTimeLimit(std::chrono::milliseconds limit) {
    FTimeLimit = limit;
}

bool TCommandRunner::Running() const {
    return FProcess && FProcess->state() != QProcess::NotRunning;
}

bool TCommandRunner::Run(const TPlaceholders& values) {
    if (FWords.empty()) {
        return false;
    }
    if (Running()) {
        ++FSkipped;
        return false;
    }
    const std::vector<std::string> words = FillPlaceholders(FWords, values);
    QStringList arguments;
    for (std::size_t i = 1; i < words.size(); ++i) {
        arguments << QString::fromStdString(words[i]);
    }
    if (FProcess) {
        FProcess->deleteLater();
    }
    FProcess = new QProcess(this);
    FProcess->setStandardInputFile(QProcess::nullDevice());
    FProcess->setProcessChannelMode(QProcess::ForwardedChannels);
    connect(FProcess, &QProcess::finished, this,
            [this](int exitCode, QProcess::ExitStatus status) { OnFinished(exitCode, status); });
    connect(FProcess, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) {
            FLimitTimer->stop();
            Report(false, FProcess->errorString());
        }
    });
    FTimedOut = false;
    FProcess->start(QString::fromStdString(words.front()), arguments);
    FLimitTimer->start(FTimeLimit);
    return true;
}

void TCommandRunner::OnFinished(int exitCode, int exitStatus) {
    FLimitTimer->stop();
    if (FTimedOut) {
        Report(false, QStringLiteral("killed after %1 s").arg(FTimeLimit.count() / 1000.0));
    } else if (exitStatus != QProcess::NormalExit) {
        Report(false, QStringLiteral("crashed"));
    } else if (exitCode != 0) {
        Report(false, QStringLiteral("exit code %1").arg(exitCode));
    } else {
        Report(true, {});
    }
}

void TCommandRunner::Report(bool ok, const QString& why) {
    if (ok) {
        FFailureShown = false;
    } else if (!FFailureShown) {
        FFailureShown = true;
        const QString program =
            FWords.empty() ? QString() : QString::fromStdString(FWords.front()) + ": ";
        emit Failed(QStringLiteral("Command %1 failed: %2%3").arg(FKind, program, why));
    }
    emit Finished(ok);
}
