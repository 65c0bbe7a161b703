// systemctl through QProcess; see service_manager.h.
#include "app/platform/service_manager.h"

#include <QProcess>

namespace app::platform {

SystemctlManager::SystemctlManager() {
    program_ = qEnvironmentVariable("SYSTEMCTL");
    if (program_.isEmpty()) program_ = QStringLiteral("systemctl");
}

ManagerAnswer SystemctlManager::Systemctl(const QStringList& arguments) {
    ManagerAnswer answer;
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program_, QStringList{QStringLiteral("--user")} + arguments);
    if (!process.waitForStarted(-1)) return answer;
    answer.started = true;
    if (!process.waitForFinished(kTimeoutMs)) {
        process.kill();
        process.waitForFinished(-1);
    } else if (process.exitStatus() == QProcess::NormalExit) {
        answer.exitCode = process.exitCode();
    }
    answer.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    answer.err = QString::fromLocal8Bit(process.readAllStandardError());
    return answer;
}

}  // namespace app::platform
