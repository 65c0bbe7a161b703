// Waiting in a local event loop that leaves user input queued; see the header.
#include "app/platform/qt_process_runner.h"

#include <QEventLoop>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTimer>

#include <algorithm>

namespace app::platform {

namespace {

void Prepare(QProcess& process, const RunRequest& request) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : request.unsetEnv) env.remove(name);
    for (auto it = request.setEnv.cbegin(); it != request.setEnv.cend(); ++it) env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

}  // namespace

QtProcessRunner::QtProcessRunner() = default;

QtProcessRunner::~QtProcessRunner() {
    for (auto& process : beside_) {
        if (process->state() == QProcess::NotRunning) continue;
        process->kill();
        process->waitForFinished(5000);
    }
}

RunResult QtProcessRunner::RunAndWait(const RunRequest& request) {
    RunResult result;
    QProcess process;
    Prepare(process, request);
    QEventLoop loop;
    bool timedOut = false;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart) loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        loop.quit();
    });
    process.start(request.program, request.arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) return result;
    result.started = true;
    if (request.timeoutMs >= 0) limit.start(request.timeoutMs);
    if (process.state() != QProcess::NotRunning) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (timedOut || process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(-1);
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit) {
        result.exited = true;
        result.exitCode = process.exitCode();
    }
    return result;
}

bool QtProcessRunner::Start(const RunRequest& request) {
    // Ended ones are let go first; the list stays as short as the programs still running.
    beside_.erase(std::remove_if(beside_.begin(), beside_.end(),
                                 [](const auto& p) { return p->state() == QProcess::NotRunning; }),
                  beside_.end());
    auto process = std::make_unique<QProcess>();
    Prepare(*process, request);
    process->start(request.program, request.arguments, QIODevice::ReadOnly);
    if (!process->waitForStarted(-1)) return false;
    if (request.timeoutMs >= 0) {
        QProcess* running = process.get();
        QTimer::singleShot(request.timeoutMs, running, [running] {
            if (running->state() != QProcess::NotRunning) running->kill();
        });
    }
    beside_.push_back(std::move(process));
    return true;
}

int QtProcessRunner::Running() const {
    return int(std::count_if(beside_.begin(), beside_.end(),
                             [](const auto& p) { return p->state() != QProcess::NotRunning; }));
}

}  // namespace app::platform
