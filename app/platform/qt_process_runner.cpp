// The wait blocks the calling (window) thread on purpose: the registry editor and the close-request
// helper are short, and the window must not take other commands meanwhile.
#include "app/platform/qt_process_runner.h"

#include <QProcess>
#include <QProcessEnvironment>

namespace app::platform {

RunResult QtProcessRunner::RunAndWait(const RunRequest& request) {
    RunResult result;
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& name : request.unsetEnv) env.remove(name);
    for (auto it = request.setEnv.cbegin(); it != request.setEnv.cend(); ++it) env.insert(it.key(), it.value());
    process.setProcessEnvironment(env);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(request.program, request.arguments, QIODevice::ReadOnly);
    if (!process.waitForStarted(-1)) return result;
    result.started = true;
    if (!process.waitForFinished(request.timeoutMs)) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(-1);
        }
        return result;
    }
    if (process.exitStatus() == QProcess::NormalExit) {
        result.exited = true;
        result.exitCode = process.exitCode();
    }
    return result;
}

}  // namespace app::platform
