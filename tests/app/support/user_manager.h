// A real systemd user service manager for the test, in a mount namespace of its own.
//
// `systemd --user` runs only where the machine was booted with systemd (it looks for /run/systemd/system),
// which a container is not. In a private mount namespace (unshare -m, which needs root) a tmpfs over
// /run/systemd with that folder in it lets a user manager start without touching the machine; it reads
// units from the rig's XDG_CONFIG_HOME, keeps its sockets in a runtime folder of its own, and starts
// its services with the environment it was started with. Commands that must see it as the running
// manager (`systemctl --user is-system-running`) run in the same namespace through Command().
//
// The manager stops, and the namespace goes, when the object goes.
#pragma once

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QThread>

namespace app::testing {

class UserManager {
public:
    // `env`: the environment of the manager and of every service it starts (HOME, XDG_CONFIG_HOME...);
    // `runtimeDir`: an empty folder for its sockets.
    UserManager(QProcessEnvironment env, const QString& runtimeDir) : env_(std::move(env)) {
        const QString systemd = QStringLiteral("/lib/systemd/systemd");
        if (!QFileInfo(systemd).isExecutable() || QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty()) {
            skip = QStringLiteral("systemd is not installed (scripts/setup.sh installs it)");
            return;
        }
        QDir().mkpath(runtimeDir);
        QFile::setPermissions(runtimeDir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        env_.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeDir);
        manager_.setProcessEnvironment(env_);
        manager_.setProcessChannelMode(QProcess::MergedChannels);
        manager_.start(QStringLiteral("unshare"),
                       {QStringLiteral("-m"), QStringLiteral("--propagation"), QStringLiteral("private"), QStringLiteral("sh"),
                        QStringLiteral("-c"),
                        QStringLiteral("mount -t tmpfs zb-test /run/systemd 2>/dev/null || "
                                       "{ mkdir -p /run/systemd && mount -t tmpfs zb-test /run/systemd; } || exit 97; "
                                       "mkdir /run/systemd/system && exec %1 --user --log-target=console --log-level=warning")
                            .arg(systemd)});
        if (!manager_.waitForStarted(5000)) {
            skip = QStringLiteral("unshare cannot be started");
            return;
        }
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 20000 && manager_.state() == QProcess::Running) {
            if (Systemctl({QStringLiteral("is-system-running")}).trimmed() == QLatin1String("running")) return;
            QThread::msleep(100);
        }
        const QString said = QString::fromLocal8Bit(manager_.readAll()).trimmed();
        skip = manager_.state() == QProcess::Running
                   ? QStringLiteral("the systemd user manager did not come up: ") + said
                   : QStringLiteral("no mount rights for a private /run/systemd (needs root): ") + said;
    }

    ~UserManager() {
        if (manager_.state() == QProcess::NotRunning) return;
        manager_.terminate();  // the manager stops its services and ends
        if (!manager_.waitForFinished(20000)) {
            manager_.kill();
            manager_.waitForFinished(5000);
        }
    }

    // Empty when the manager runs; else why not.
    QString skip;

    // The environment of the manager (and of programs meant to talk to it).
    QProcessEnvironment Environment() const { return env_; }

    // `program arguments` in the manager's namespace.
    std::pair<QString, QStringList> Command(const QString& program, const QStringList& arguments) const {
        return {QStringLiteral("nsenter"), QStringList{QStringLiteral("-t"), QString::number(manager_.processId()),
                                                       QStringLiteral("-m"), QStringLiteral("--"), program} + arguments};
    }

    // `systemctl --user arguments` there: its standard output (exit code in `exitCode`).
    QString Systemctl(const QStringList& arguments, int* exitCode = nullptr) const {
        QProcess process;
        process.setProcessEnvironment(env_);
        const auto [program, words] = Command(QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + arguments);
        process.start(program, words);
        process.waitForFinished(120000);
        if (exitCode) *exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        return QString::fromLocal8Bit(process.readAllStandardOutput());
    }

private:
    QProcessEnvironment env_;
    QProcess manager_;
};

}  // namespace app::testing
