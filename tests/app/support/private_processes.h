// Processes in a process namespace of their own, for tests of the watcher.
//
// The watcher looks at every process of the machine for the logger, and tests of other checkouts may
// be starting stand-in loggers of their own on the same machine at the same time. In a namespace of its
// own (unshare --pid --mount-proc, which needs root) the watcher sees only the processes started there:
// the program and the stand-in loggers this test starts with Command(). Where no namespace can be made,
// Command() leaves the command as it is and the processes are the machine's (ctest keeps the tests
// that start stand-in loggers from overlapping in one checkout).
//
// The namespace ends, and everything in it with it, when the object goes.
#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <csignal>

namespace app::testing {

class PrivateProcesses {
public:
    PrivateProcesses() {
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty() ||
            QStandardPaths::findExecutable(QStringLiteral("nsenter")).isEmpty())
            return;
        holder_.start(QStringLiteral("unshare"), {QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--mount-proc"),
                                                  QStringLiteral("--kill-child"), QStringLiteral("sleep"), QStringLiteral("infinity")});
        if (!holder_.waitForStarted(5000)) return;
        // The namespace's first process is the holder's child.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000 && holder_.state() == QProcess::Running) {
            const qint64 child = ChildOf(holder_.processId());
            if (child > 0) {
                first_ = child;
                return;
            }
            QThread::msleep(20);
        }
    }

    ~PrivateProcesses() {
        if (holder_.state() != QProcess::NotRunning) {
            holder_.kill();
            holder_.waitForFinished(5000);
        }
    }

    // Whether the processes started through Command() have a namespace of their own.
    bool Private() const { return first_ > 0; }

    // The program and arguments that start `program` in the namespace (nsenter), or as they are.
    std::pair<QString, QStringList> Command(const QString& program, const QStringList& arguments) const {
        if (!Private()) return {program, arguments};
        return {QStringLiteral("nsenter"),
                QStringList{QStringLiteral("-t"), QString::number(first_), QStringLiteral("-p"), QStringLiteral("-m"),
                            QStringLiteral("--"), program} + arguments};
    }

    // The process a QProcess started through Command() stands for: nsenter's child when private.
    qint64 Started(const QProcess& process) const {
        if (!Private()) return process.processId();
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            if (const qint64 child = ChildOf(process.processId())) return child;
            QThread::msleep(10);
        }
        return 0;
    }

    // The first child of `pid`, 0 when it has none (yet).
    static qint64 ChildOf(qint64 pid) {
        QFile file(QStringLiteral("/proc/%1/task/%1/children").arg(pid));
        if (!file.open(QIODevice::ReadOnly)) return 0;
        return file.readAll().trimmed().split(' ').value(0).toLongLong();
    }

private:
    QProcess holder_;
    qint64 first_ = 0;
};

}  // namespace app::testing
