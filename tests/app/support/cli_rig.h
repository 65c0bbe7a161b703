// A rig for the program's command line: the real executable, put into a logger folder (it takes the
// folder it lives in as the logger folder), run as a child process with a home of its own (so the backup
// folder the window last used is the rig's), its exit code, standard output and standard error kept.
//
// The executable comes from ZORVEL_BACKUP (set by the build for every test); without it the tests skip
// and say so. Header-only, like the other rigs.
#pragma once

#include "tests/app/support/backup_rig.h"

#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>

#include <unistd.h>

namespace app::testing {

struct CliRun {
    bool crashed = false;  // ended by a signal (a kill)
    int exitCode = -1;
    QString out;
    QString err;
    QString Text() const { return QStringLiteral("exit %1%2\nstdout: %3\nstderr: %4")
                                      .arg(exitCode).arg(crashed ? " (crashed)" : "", out, err); }
};

class CliRig {
    testing_support::TempDir root_;  // first: the paths below are made from it

public:
    // `loggerFolder` (ending in '/') may lie in a Wine prefix; empty takes one of the rig's own.
    explicit CliRig(const QString& loggerFolder = {})
        : logger(loggerFolder.isEmpty() ? Q(root_ / "Log/") : loggerFolder),
          backups(Q(root_ / "backups")),
          home(Q(root_ / "home")) {
        QDir().mkpath(logger);
        QDir().mkpath(backups);
        QDir().mkpath(home);
        const QString program = qEnvironmentVariable("ZORVEL_BACKUP");
        if (program.isEmpty() || !QFileInfo(program).isExecutable()) {
            skip = QStringLiteral("ZORVEL_BACKUP does not name the built program (the build sets it for ctest)");
            return;
        }
        // A hard link when the file system allows it, else a copy: the program must live in the folder.
        const QString installed = logger + QStringLiteral("ZORVEL_Backup");
        if (::link(QFile::encodeName(program).constData(), QFile::encodeName(installed).constData()) != 0)
            QFile::copy(program, installed);
        testing_support::WriteFile((logger + "ZORVEL_Log3.exe").toStdString(), "MZ stand-in");
    }

    // Runs the program with `arguments`; `env` is set on top of the rig's environment.
    CliRun Run(const QStringList& arguments, const QMap<QString, QString>& env = {}, int timeoutMs = 300000) const {
        QProcess process;
        Start(process, arguments, env);
        return Finish(process, timeoutMs);
    }
    // The same in two steps, for runs that overlap or are interrupted.
    void Start(QProcess& process, const QStringList& arguments, const QMap<QString, QString>& env = {}) const {
        process.setProcessEnvironment(Environment(env));
        process.start(logger + QStringLiteral("ZORVEL_Backup"), arguments);
    }
    static CliRun Finish(QProcess& process, int timeoutMs = 300000) {
        process.waitForFinished(timeoutMs);
        CliRun run;
        run.crashed = process.exitStatus() == QProcess::CrashExit;
        run.exitCode = run.crashed ? -1 : process.exitCode();
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    QProcessEnvironment Environment(const QMap<QString, QString>& env = {}) const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("HOME"), home);
        e.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        for (auto it = env.cbegin(); it != env.cend(); ++it) e.insert(it.key(), it.value());
        return e;
    }

    // The window's remembered backup folder, as the window would have stored it.
    void RememberBackupFolder(const QString& folder) const {
        testing_support::WriteFile((home + "/.config/Software/ZORVEL_Backup.ini").toStdString(),
                                   "[TfmMain]\nSelectedPathName=" + folder.toStdString() + "\n");
    }

    QString root() const { return Q(root_.Path()); }

    QString skip;  // why the program cannot run here ("" when it can)
    const QString logger;
    const QString backups;
    const QString home;
};

}  // namespace app::testing
