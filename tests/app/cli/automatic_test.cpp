// The automatic backups end to end, with the real program: the watcher (a stand-in logger started and
// ended, a verified backup after each close; a logger started again during a backup; its stop by
// SIGTERM; its cost while it waits), the notifications of `backup --notify` and of the watcher as a
// stand-in notification service on a private session bus receives them, `status` at each of its exit
// codes, and `schedule` with a recording systemctl, without a service manager (crontab lines), and
// under a real systemd user manager that then runs the units it was given.
//
// The watcher, its stand-in loggers and every backup run in a process namespace of their own where one
// can be made (support/private_processes.h), so that stand-in loggers of tests running beside this one
// go unseen.
#include "app/backup_layout.h"
#include "app/commands/backup_status.h"
#include "app/commands/systemd_units.h"
#include "app/commands/unattended.h"
#include "app/commands/watch_command.h"
#include "tests/app/support/cli_rig.h"
#include "tests/app/support/notification_bus.h"
#include "tests/app/support/private_processes.h"
#include "tests/app/support/user_manager.h"
#include "tests/support/zip_builder.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>

#include <unistd.h>

using namespace app;
using namespace app::testing;

namespace {

const QStringList kSnapshots = {"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg"};

// The CPU time a process has used so far, in clock ticks (utime + stime from /proc/<pid>/stat).
qint64 CpuTicks(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray stat = file.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');  // from the state on
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

// A program run that the test follows while it runs: its output read as it comes, the event loop
// served meanwhile (the stand-in notification service answers from it).
class Followed {
public:
    void Start(const std::pair<QString, QStringList>& command, const QProcessEnvironment& env) {
        process.setProcessEnvironment(env);
        process.start(command.first, command.second);
    }
    void Read() {
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
        err += QString::fromLocal8Bit(process.readAllStandardError());
    }
    // Serves the event loop until `done` holds, at most `ms`.
    bool WaitFor(const std::function<bool()>& done, int ms) {
        QElapsedTimer timer;
        timer.start();
        for (;;) {
            Read();
            if (done()) return true;
            if (timer.elapsed() > ms) return false;
            QTest::qWait(20);
        }
    }
    bool ErrHas(const QString& text, int ms) { return WaitFor([&] { return err.contains(text); }, ms); }
    // Serves the event loop until the process ends; its exit code (-1 when killed or still running).
    int Finish(int ms) {
        WaitFor([&] { return process.state() == QProcess::NotRunning; }, ms);
        Read();
        return process.state() == QProcess::NotRunning && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    QStringList ErrLines() const { return err.split('\n', Qt::SkipEmptyParts); }

    QProcess process;
    QString out, err;
};

// A stand-in logger: shows up as ZORVEL_Log3.exe until it is ended.
class StandInLogger {
public:
    explicit StandInLogger(const PrivateProcesses& processes) {
        const auto [program, arguments] =
            processes.Command("bash", {"-c", "exec -a \"$0\" sleep 600", "C:\\ZORVEL\\ZORVEL_Log3.exe"});
        process_.start(program, arguments);
        process_.waitForStarted(5000);
        pid_ = processes.Started(process_);
        // Until its name shows in /proc (bash has replaced itself with sleep).
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid_));
            if (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().startsWith("C:\\ZORVEL\\ZORVEL_Log3.exe")) break;
            QThread::msleep(10);
        }
    }
    ~StandInLogger() { End(); }
    void End() {
        if (process_.state() == QProcess::NotRunning) return;
        ::kill(static_cast<pid_t>(pid_), SIGTERM);
        process_.waitForFinished(5000);
    }

private:
    QProcess process_;
    qint64 pid_ = 0;
};

std::string GoodArchive() { return testing_support::ZipBuilder().Stored("DB/Logs.mdb", "log").Build(); }

QString BackupName(const QDateTime& time) { return "zorvel3_" + time.toString("yyyyMMddHHmmss") + ".zip"; }

}  // namespace

class AutomaticTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fakes::WineTestPrefix> wine_;
    std::unique_ptr<PrivateProcesses> processes_;
    int loggers_ = 0;

    bool WineReady() const { return wine_ && wine_->SkipReason().isEmpty(); }
    QString NewLoggerInPrefix() { return wine_->Prefix() + QStringLiteral("/drive_c/Watched Log %1/").arg(++loggers_); }

    // The watcher of `r`, in the private processes.
    void StartWatcher(Followed& watcher, const CliRig& r, const QStringList& arguments, const QString& busAddress) {
        QProcessEnvironment env = r.Environment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", busAddress);
        watcher.Start(processes_->Command(r.logger + "ZORVEL_Backup", QStringList{"watch"} + arguments), env);
        QVERIFY(watcher.process.waitForStarted(5000));
    }
    qint64 WatcherPid(const Followed& watcher) const { return processes_->Started(watcher.process); }

private slots:
    void initTestCase() {
        wine_ = std::make_unique<fakes::WineTestPrefix>();
        if (WineReady()) {
            QVERIFY(SetLoggerKeys(*wine_).isEmpty());
            // The watcher's registry exports start a wineserver of their own in the private processes.
            wine_->WaitForServer();
        }
        processes_ = std::make_unique<PrivateProcesses>();
        if (!processes_->Private())
            qWarning("no process namespace here (needs root): the watcher sees every process of the machine");
    }

    // A logger running when the watcher starts, and one started later: after each close, one verified
    // backup, told in one line; nothing while the logger runs or none runs (and next to no CPU time
    // then); after a close that changed nothing, no backup, told as such; SIGTERM ends the watcher with
    // exit code 0 and the run is recorded for `status`.
    void aBackupAfterEachClose() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        NotificationBus bus;
        if (!bus.skip.isEmpty()) QSKIP(qPrintable(bus.skip));

        auto logger = std::make_unique<StandInLogger>(*processes_);
        Followed watcher;
        StartWatcher(watcher, r, {"--to", r.backups}, bus.Address());
        QVERIFY2(watcher.ErrHas(LoggerRunningLine(), 10000), qPrintable(watcher.err));
        QVERIFY2(watcher.ErrHas("There is no complete backup in " + r.backups + ".", 10000), qPrintable(watcher.err));
        const qint64 pid = WatcherPid(watcher);
        const qint64 waitingTicks = CpuTicks(pid);
        QTest::qWait(6000);
        const qint64 whileRunning = CpuTicks(pid) - waitingTicks;
        QVERIFY(FilesIn(r.backups).isEmpty());

        QStringList made;
        for (int round = 0; round < 2; ++round) {
            if (round == 1) {
                QVERIFY2(watcher.ErrHas(WaitingForStartLine(), 10000), qPrintable(watcher.err));
                const qint64 idleTicks = CpuTicks(pid);
                QTest::qWait(10000);
                const qint64 idle = CpuTicks(pid) - idleTicks;
                qInfo("watcher's CPU time: %lld ticks of %ld/s in 6 s with the logger running, %lld in 10 s waiting for a start",
                      whileRunning, ::sysconf(_SC_CLK_TCK), idle);
                QVERIFY2(whileRunning <= 2, qPrintable(QString::number(whileRunning)));
                QVERIFY2(idle <= ::sysconf(_SC_CLK_TCK) / 5, qPrintable(QString::number(idle)));  // under 2 %
                logger = std::make_unique<StandInLogger>(*processes_);
                const int told = watcher.err.count(LoggerRunningLine());
                QVERIFY2(watcher.WaitFor([&] { return watcher.err.count(LoggerRunningLine()) > told; }, 10000),
                         qPrintable(watcher.err));
                // The logger writes its logs while it runs: the next backup is due.
                testing_support::WriteFile((r.logger + "DB/Logs.mdb").toStdString(), "a QSO more");
            }
            QElapsedTimer sinceClose;
            sinceClose.start();
            logger->End();
            QVERIFY2(watcher.WaitFor([&] { return watcher.out.count('\n') > round; }, 60000), qPrintable(watcher.err));
            const qint64 ms = sinceClose.elapsed();
            const QString archive = watcher.out.split('\n', Qt::SkipEmptyParts).value(round);
            qInfo("round %d: the verified backup was there %lld ms after the logger ended", round, ms);
            QVERIFY(ms >= kLoggerSettleMs);
            QVERIFY2(watcher.ErrHas("backup after ZORVEL_Log 3 closed: " + archive, 10000), qPrintable(watcher.err));
            QVERIFY(QRegularExpression("^" + QRegularExpression::escape(r.backups) + "/zorvel3_\\d{14}\\.zip$").match(archive).hasMatch());
            const QStringList entries = UnzipEntries(archive);
            for (const QString& snapshot : kSnapshots) QVERIFY2(entries.contains(snapshot), qPrintable(archive));
            QVERIFY(!PythonEntries(archive).contains("<error>"));
            made << QFileInfo(archive).fileName();
        }

        // A logger that ran and changed nothing: no backup, the newest one is told as still current.
        logger = std::make_unique<StandInLogger>(*processes_);
        const int told = watcher.err.count(LoggerRunningLine());
        QVERIFY2(watcher.WaitFor([&] { return watcher.err.count(LoggerRunningLine()) > told; }, 10000), qPrintable(watcher.err));
        logger->End();
        const QString current = r.backups + "/" + made.last();
        QVERIFY2(watcher.ErrHas("no backup after ZORVEL_Log 3 closed: nothing had changed since " + current, 60000),
                 qPrintable(watcher.err));

        ::kill(static_cast<pid_t>(WatcherPid(watcher)), SIGTERM);
        QCOMPARE(watcher.Finish(10000), 0);
        QVERIFY2(watcher.ErrLines().last().endsWith(" stopped watching"), qPrintable(watcher.err));
        QCOMPARE(FilesIn(r.backups), made);
        // Told once that there was no backup; no backup failed.
        QCOMPARE(bus.received.size(), 1);
        QCOMPARE(bus.received[0].summary, QString::fromLatin1(kNoRecentBackupSummary));

        const CliRun status = r.Run({"status", "--in", r.backups});
        QCOMPARE(status.exitCode, 0);
        QVERIFY2(QRegularExpression("Backup when ZORVEL_Log 3 closes \\(zorvel-backup-watch.service\\): not installed, last backup "
                                    "[-0-9: ]+: nothing had changed, still current: " +
                                    QRegularExpression::escape(r.backups + "/" + made.last()))
                     .match(status.out).hasMatch(),
                 qPrintable(status.out));
    }

    // A logger started again while the watcher's backup is being written: the backup goes on (the guard
    // was passed at its start) but is done in part, says why, deletes no old backup and shows a
    // notification; when that logger closes, a whole backup follows and the old ones go.
    void aLoggerStartedAgainDuringTheBackup() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        Tree tree = LoggerFiles();
        tree["DB/DB.mdb"] = Bytes(testing_support::RandomBytes(64 << 20, 31));  // a backup long enough to meet
        WriteTree(r.logger, tree);
        const QString old = r.backups + "/" + BackupName(QDateTime::currentDateTime().addDays(-3));
        testing_support::WriteFile(old.toStdString(), GoodArchive());
        NotificationBus bus;
        if (!bus.skip.isEmpty()) QSKIP(qPrintable(bus.skip));

        auto first = std::make_unique<StandInLogger>(*processes_);
        Followed watcher;
        StartWatcher(watcher, r, {"--to", r.backups, "--keep", "1"}, bus.Address());
        QVERIFY2(watcher.ErrHas(LoggerRunningLine(), 10000), qPrintable(watcher.err));
        first->End();
        // The backup is being written when its scratch archive shows: the logger starts again then.
        QVERIFY2(watcher.WaitFor([&] { return !ScratchFilesBelow({r.backups}).isEmpty(); }, 60000), qPrintable(watcher.err));
        StandInLogger second(*processes_);
        QVERIFY2(watcher.WaitFor([&] { return watcher.out.count('\n') == 1; }, 120000), qPrintable(watcher.err));
        const QString inPart = watcher.out.trimmed();
        QVERIFY2(watcher.ErrHas("backup after ZORVEL_Log 3 closed, done in part: " + inPart, 10000), qPrintable(watcher.err));
        const QString reason = QString::fromLatin1(kLoggerStartedDuringBackup);
        const QString kept = "No old backup was deleted, because this one is incomplete.";
        QVERIFY2(watcher.err.contains(reason + "\n" + kept + "\n"), qPrintable(watcher.err));
        QVERIFY(!PythonEntries(inPart).contains("<error>"));
        QCOMPARE(FilesIn(r.backups), QStringList({QFileInfo(old).fileName(), QFileInfo(inPart).fileName()}));
        QVERIFY(watcher.WaitFor([&] { return bus.received.size() == 1; }, 10000));
        QCOMPARE(bus.received[0].summary, QString::fromLatin1(kBackupIncompleteSummary));
        QCOMPARE(bus.received[0].body, reason + "\n" + kept);
        QCOMPARE(bus.received[0].application, QStringLiteral("ZORVEL_Backup"));
        QCOMPARE(bus.received[0].hints.value("urgency").toInt(), 1);

        // Nothing more while it runs; after its close, a whole backup, and the old ones go.
        QVERIFY2(watcher.WaitFor([&] { return watcher.err.count(LoggerRunningLine()) == 2; }, 10000), qPrintable(watcher.err));
        QCOMPARE(watcher.out.count('\n'), 1);
        second.End();
        QVERIFY2(watcher.WaitFor([&] { return watcher.out.count('\n') == 2; }, 120000), qPrintable(watcher.err));
        const QString whole = watcher.out.split('\n', Qt::SkipEmptyParts).last();
        QVERIFY2(watcher.ErrHas("backup after ZORVEL_Log 3 closed: " + whole, 10000), qPrintable(watcher.err));
        QVERIFY(watcher.ErrHas("Deleted old backup: " + inPart, 10000));
        QCOMPARE(FilesIn(r.backups), QStringList{QFileInfo(whole).fileName()});

        ::kill(static_cast<pid_t>(WatcherPid(watcher)), SIGTERM);
        QCOMPARE(watcher.Finish(10000), 0);
        QCOMPARE(bus.received.size(), 1);
    }

    // `backup --notify` on a private session bus: a failed and an incomplete backup each show one
    // notification whose body is what the terminal said; a service that reads markup gets it escaped;
    // without a bus or without the service, one line says so and the exit code stays the backup's.
    void notificationsOnASessionBus() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        NotificationBus bus;
        if (!bus.skip.isEmpty()) QSKIP(qPrintable(bus.skip));
        const auto run = [&](const QStringList& arguments, const QMap<QString, QString>& env) {
            Followed program;
            QProcessEnvironment e = r.Environment();
            for (auto it = env.cbegin(); it != env.cend(); ++it) e.insert(it.key(), it.value());
            program.Start(processes_->Command(r.logger + "ZORVEL_Backup", arguments), e);
            program.Finish(120000);
            return std::make_pair(program.process.exitCode(), program.err);
        };
        const QMap<QString, QString> onBus{{"DBUS_SESSION_BUS_ADDRESS", bus.Address()}};

        const QString missing = r.root() + "/gone & <away>";
        const auto [failedCode, failedErr] = run({"backup", "--notify", "--to", missing}, onBus);
        QCOMPARE(failedCode, 1);
        QCOMPARE(failedErr, "The backup folder " + missing + " does not exist.\n");
        QCOMPARE(bus.received.size(), 1);
        QCOMPARE(bus.received[0].summary, QStringLiteral("ZORVEL_Backup: backup failed"));
        QCOMPARE(bus.received[0].body, "The backup folder " + missing + " does not exist.");
        QCOMPARE(bus.received[0].hints.value("urgency").toInt(), 2);

        // No registry outside a Wine prefix: incomplete, and the body is the whole report.
        const auto [partCode, partErr] = run({"backup", "--notify", "--to", r.backups}, onBus);
        QCOMPARE(partCode, 4);
        QCOMPARE(bus.received.size(), 2);
        QCOMPARE(bus.received[1].summary, QStringLiteral("ZORVEL_Backup: backup incomplete"));
        QVERIFY2(bus.received[1].body.startsWith("Created file: " + r.backups + "/zorvel3_"), qPrintable(bus.received[1].body));
        QVERIFY(bus.received[1].body.contains("\n\nThis backup is incomplete:\nRegistry key HKEY_CURRENT_USER\\Software\\ZORVEL_log3"));
        QCOMPARE(bus.received[1].body + "\n", partErr);

        NotificationBus markup(true);
        QVERIFY(markup.skip.isEmpty());
        run({"backup", "--notify", "--to", missing}, {{"DBUS_SESSION_BUS_ADDRESS", markup.Address()}});
        QCOMPARE(markup.received.size(), 1);
        QCOMPARE(markup.received[0].body, "The backup folder " + r.root() + "/gone &amp; &lt;away&gt; does not exist.");

        // No bus at all, a bus that cannot be reached, a bus without the service.
        NotificationBus empty;
        QVERIFY(empty.Withdraw());
        const struct {
            QMap<QString, QString> env;
            QString said;
        } unshown[] = {
            {{{"DBUS_SESSION_BUS_ADDRESS", ""}, {"XDG_RUNTIME_DIR", r.root()}},
             "The desktop notification could not be shown: there is no desktop session bus (DBUS_SESSION_BUS_ADDRESS is not set)."},
            {{{"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + r.root() + "/no-bus"}},
             "The desktop notification could not be shown: the desktop session bus cannot be reached: "},
            {{{"DBUS_SESSION_BUS_ADDRESS", empty.Address()}}, "The desktop notification could not be shown: "},
        };
        for (const auto& c : unshown) {
            const auto [code, err] = run({"backup", "--notify", "--to", missing}, c.env);
            QCOMPARE(code, 1);
            const QStringList lines = err.split('\n', Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 2);
            QVERIFY2(lines[1].startsWith(c.said), qPrintable(err));
        }
        QCOMPARE(bus.received.size(), 2);

        // Each unattended backup is recorded; the last one is what `status` tells.
        const CliRun status = r.Run({"status", "--in", r.backups});
        QVERIFY2(status.out.contains(QRegularExpression("Nightly backup \\(zorvel-backup.timer\\): not installed, last backup "
                                                        "[-0-9: ]+: failed: The backup folder .* does not exist\\.")),
                 qPrintable(status.out));
    }

    // `status` at each of its decisions.
    void statusExitCodes() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        const QDateTime now = QDateTime::currentDateTime();
        const std::string good = GoodArchive();
        const std::string damaged = good.substr(0, good.size() - 12);
        std::string failsItsCheck = good;  // opens, but `verify` finds its entry damaged
        failsItsCheck[failsItsCheck.find("log")] = 'L';
        const struct {
            const char* name;
            std::vector<std::pair<QDateTime, std::string>> backups;
            QStringList arguments;  // after "status --in <folder>"
            int code;
            QString newestLine;     // "" when none is expected; else the name of the newest complete backup
            QString err;
        } cases[] = {
            {"no backups", {}, {}, 6, "", "There is no complete backup in %1.\n"},
            {"fresh", {{now.addSecs(-3600), good}}, {}, 0, "0", ""},
            {"stale", {{now.addDays(-10), good}}, {}, 6, "0", "The newest complete backup in %1 is 10 days old, older than 7 days.\n"},
            {"stale, but allowed 30 days", {{now.addDays(-10), good}}, {"--max-age", "30"}, 0, "0", ""},
            {"fresh for 7 days, not for 1", {{now.addDays(-2), good}}, {"--max-age", "1"}, 6, "0",
             "The newest complete backup in %1 is 2 days old, older than 1 day.\n"},
            {"damaged newest, a good one before", {{now.addDays(-1), good}, {now.addSecs(-60), damaged}}, {}, 0, "0", ""},
            {"damaged newest, the good one before too old", {{now.addDays(-9), good}, {now.addSecs(-60), damaged}}, {}, 6, "0",
             "The newest complete backup in %1 is 9 days old, older than 7 days.\n"},
            {"only damaged ones", {{now.addSecs(-60), damaged}}, {}, 6, "", "There is no complete backup in %1.\n"},
            {"the newest opens but fails its check", {{now.addDays(-9), good}, {now.addSecs(-60), failsItsCheck}}, {}, 6, "0",
             "The newest complete backup in %1 is 9 days old, older than 7 days.\n"},
            {"the newest is named for the far future", {{now.addDays(-9), good}, {now.addDays(400), good}}, {}, 6, "0",
             "The newest complete backup in %1 is 9 days old, older than 7 days.\n"},
            {"--max-age 0", {}, {"--max-age", "0"}, 2, "", "status: --max-age needs a number of days, 1 or more\n"},
            {"--max-age not a number", {}, {"--max-age", "week"}, 2, "", "status: --max-age needs a number of days, 1 or more\n"},
            {"--max-age negative", {}, {"--max-age", "-3"}, 2, "", "status: --max-age needs a number of days, 1 or more\n"},
            {"an unexpected word", {}, {"now"}, 2, "", "status: unexpected argument now\n"},
        };
        int i = 0;
        for (const auto& c : cases) {
            const QString folder = r.root() + QStringLiteral("/status %1").arg(++i);
            QDir().mkpath(folder);
            for (const auto& [made, bytes] : c.backups) testing_support::WriteFile((folder + "/" + BackupName(made)).toStdString(), bytes);
            const CliRun run = r.Run(QStringList{"status", "--in", folder} + c.arguments);
            QVERIFY2(run.exitCode == c.code, qPrintable(c.name + ("\n" + run.Text())));
            QVERIFY2(run.err == (c.err.contains("%1") ? c.err.arg(folder) : c.err), qPrintable(c.name + ("\n" + run.Text())));
            if (c.code == 2) continue;
            const QString expected = c.newestLine.isEmpty()
                                         ? QStringLiteral("Newest complete backup: none")
                                         : "Newest complete backup: " + folder + "/" + BackupName(c.backups[c.newestLine.toInt()].first);
            QVERIFY2(run.out.split('\n').value(1).startsWith(expected), qPrintable(c.name + ("\n" + run.Text())));
        }
        // The backup folder the window last used, and one that does not exist.
        r.RememberBackupFolder(r.root() + "/status 2");
        QCOMPARE(r.Run({"status"}).exitCode, 0);
        const CliRun none = r.Run({"status", "--in", r.root() + "/nowhere"});
        QCOMPARE(none.exitCode, 6);
        QCOMPARE(none.err, "The backup folder " + r.root() + "/nowhere does not exist.\nThere is no complete backup in " +
                               r.root() + "/nowhere.\n");
    }

    // `schedule` with a recording systemctl: the units are written for a logger folder whose path holds
    // every kind of character, pass systemd's check, and are enabled; --show prints them and --remove
    // stops and deletes them. Without a service manager nothing is written, and the crontab line shown
    // makes a backup when cron's shell runs it.
    void scheduleWithARecordingSystemctl() {
        CliRig r(QDir::tempPath() + QString::fromUtf8("/zb schedule %1 & 100% \"J\u00fcrgen's\" \u03a9/Log/").arg(::getpid()));
        const QString base = QFileInfo(r.logger + "..").canonicalFilePath();
        const auto cleanup = qScopeGuard([&] { QDir(base).removeRecursively(); });
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const QString backups = r.root() + "/Back ups $HOME \\ 'q'";
        QDir().mkpath(backups);
        const QString calls = r.root() + "/calls";
        const QString systemctl = r.root() + "/systemctl";
        const auto answering = [&](const QString& state, int code) {
            testing_support::WriteFile(systemctl.toStdString(),
                                       QStringLiteral("#!/bin/sh\necho \"$*\" >> '%1'\n"
                                                      "[ \"$2\" = is-system-running ] && { echo %2; exit %3; }\nexit 0\n")
                                           .arg(calls, state)
                                           .arg(code)
                                           .toStdString());
            QFile::setPermissions(systemctl, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
            QFile::remove(calls);
        };
        const QMap<QString, QString> env{{"SYSTEMCTL", systemctl}};
        const QString units = r.home + "/.config/systemd/user";

        answering("running", 0);
        const CliRun installed = r.Run({"schedule", "--nightly", "02:30", "--on-logger-exit", "--to", backups, "--keep", "14"}, env);
        QVERIFY2(installed.exitCode == 0, qPrintable(installed.Text()));
        QCOMPARE(QString::fromUtf8(FileBytes(calls)).split('\n', Qt::SkipEmptyParts),
                 QStringList({"--user is-system-running", "--user daemon-reload", "--user enable --now zorvel-backup.timer",
                              "--user enable --now zorvel-backup-watch.service"}));
        QCOMPARE(FilesIn(units), QStringList({"zorvel-backup-watch.service", "zorvel-backup.service", "zorvel-backup.timer"}));
        const QString service = QString::fromUtf8(FileBytes(units + "/zorvel-backup.service"));
        QVERIFY2(service.contains("ExecStart=" + ExecStartCommand(r.logger + "ZORVEL_Backup",
                                                                  {"backup", "--notify", "--to", backups, "--keep", "14"}) + "\n"),
                 qPrintable(service));
        QVERIFY(FileBytes(units + "/zorvel-backup.timer").contains("OnCalendar=*-*-* 02:30:00\nPersistent=true\n"));
        QVERIFY(FileBytes(units + "/zorvel-backup-watch.service").contains("Restart=on-failure\n"));
        QVERIFY(installed.out.contains("A backup is made every night at 02:30"));
        QVERIFY(installed.out.contains("A backup is made each time ZORVEL_Log 3 closes."));

        QProcess verify;
        QProcessEnvironment verifyEnv = QProcessEnvironment::systemEnvironment();
        verifyEnv.insert("XDG_RUNTIME_DIR", r.root());
        verify.setProcessEnvironment(verifyEnv);
        verify.setProcessChannelMode(QProcess::MergedChannels);
        verify.start("systemd-analyze", {"--user", "verify", units + "/zorvel-backup.service", units + "/zorvel-backup.timer",
                                         units + "/zorvel-backup-watch.service"});
        QVERIFY(verify.waitForFinished(60000));
        QVERIFY2(verify.exitStatus() == QProcess::NormalExit && verify.exitCode() == 0, verify.readAll().constData());

        const CliRun shown = r.Run({"schedule", "--show"}, env);
        QCOMPARE(shown.exitCode, 0);
        QVERIFY(shown.out.startsWith("# " + units + "/zorvel-backup.timer\n" + FileBytes(units + "/zorvel-backup.timer")));
        QVERIFY(shown.out.contains("# " + units + "/zorvel-backup-watch.service\n"));

        const CliRun statusRun = r.Run({"status", "--in", backups});
        QVERIFY(statusRun.out.contains("Nightly backup (zorvel-backup.timer): installed, no backup yet\n"));
        QVERIFY(statusRun.out.contains("Backup when ZORVEL_Log 3 closes (zorvel-backup-watch.service): installed, no backup yet\n"));

        QFile::remove(calls);
        const CliRun removed = r.Run({"schedule", "--remove"}, env);
        QVERIFY2(removed.exitCode == 0, qPrintable(removed.Text()));
        QCOMPARE(QString::fromUtf8(FileBytes(calls)).split('\n', Qt::SkipEmptyParts),
                 QStringList({"--user is-system-running", "--user disable --now zorvel-backup.timer zorvel-backup-watch.service",
                              "--user daemon-reload"}));
        QCOMPARE(FilesIn(units), QStringList{});
        QCOMPARE(r.Run({"schedule", "--show"}, env).out, "No ZORVEL_Backup units are installed in " + units + ".\n");

        // The installer in dist/ is the same command, for the nightly backup keeping 14.
        QProcess installer;
        QProcessEnvironment installerEnv = r.Environment();
        installerEnv.insert("SYSTEMCTL", systemctl);
        installer.setProcessEnvironment(installerEnv);
        installer.start(QString::fromStdString(testing_support::SourceDir()) + "/dist/install-user-timer.sh", {r.logger});
        QVERIFY(installer.waitForFinished(60000));
        QVERIFY2(installer.exitCode() == 0, installer.readAllStandardError().constData());
        QCOMPARE(FilesIn(units), QStringList({"zorvel-backup.service", "zorvel-backup.timer"}));
        QVERIFY(FileBytes(units + "/zorvel-backup.timer").contains("OnCalendar=*-*-* 02:30:00\n"));
        QVERIFY(FileBytes(units + "/zorvel-backup.service").contains("\"backup\" \"--notify\" \"--keep\" \"14\"\n"));
        QCOMPARE(r.Run({"schedule", "--remove"}, env).exitCode, 0);

        // The command line wrong: nothing asked of the manager.
        QFile::remove(calls);
        const QList<QStringList> wrong = {{"schedule"}, {"schedule", "--nightly", "25:00"}, {"schedule", "--nightly", "2.30"},
                                          {"schedule", "--nightly", "02:30", "--remove"}, {"schedule", "--remove", "--show"},
                                          {"schedule", "--on-logger-exit", "--keep", "0"}, {"schedule", "--on-logger-exit", "now"}};
        for (const QStringList& arguments : wrong) QVERIFY2(r.Run(arguments, env).exitCode == 2, qPrintable(arguments.join(' ')));
        QVERIFY(!QFileInfo::exists(calls));
        const CliRun noFolder = r.Run({"schedule", "--on-logger-exit", "--to", r.root() + "/nowhere"}, env);
        QCOMPARE(noFolder.exitCode, 1);
        QVERIFY(!QFileInfo::exists(calls));

        // No service manager: the crontab lines instead, nothing written; cron's shell runs the line.
        answering("offline", 1);
        const CliRun cron = r.Run({"schedule", "--nightly", "02:30", "--to", backups, "--keep", "14"}, env);
        QCOMPARE(cron.exitCode, 1);
        QCOMPARE(cron.err, QStringLiteral("There is no systemd user service manager here (`%1 --user is-system-running` answers "
                                          "\"offline\"); nothing was scheduled.\nAdd this to your crontab instead (crontab -e):\n")
                               .arg(systemctl));
        const QString line = cron.out.trimmed();
        QVERIFY2(line.startsWith("30 2 * * * '"), qPrintable(line));
        QVERIFY(!QFileInfo::exists(units + "/zorvel-backup.timer"));
        // cron's one rewriting of this command: every "%" in it is escaped, and "\%" becomes "%".
        const QString command = line.section(' ', 5).replace("\\%", "%");
        QProcess shell;
        shell.setProcessEnvironment(r.Environment());
        const auto [sh, words] = processes_->Command("/bin/sh", {"-c", command});
        shell.start(sh, words);
        QVERIFY(shell.waitForFinished(120000));
        QCOMPARE(shell.exitCode(), 4);  // made, without the registry (no Wine prefix here)
        QCOMPARE(FilesIn(backups).size(), 1);
    }

    // `schedule` under a real systemd user manager: the units it writes are loaded, the timer enabled,
    // the watcher running; the manager runs the nightly backup (with its arguments intact) and sees
    // its exit code; --remove stops the watcher and leaves nothing.
    void scheduleUnderARealUserManager() {
        CliRig r(QDir::tempPath() + QString::fromUtf8("/zb manager %1 & 100% J\u00fcrgen \u03a9/Log/").arg(::getpid()));
        const QString base = QFileInfo(r.logger + "..").canonicalFilePath();
        const auto cleanup = qScopeGuard([&] { QDir(base).removeRecursively(); });
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const QString backups = r.root() + "/Back \"ups\" $HOME \\ 50%";
        QDir().mkpath(backups);
        QProcessEnvironment env = r.Environment();
        env.remove("SYSTEMCTL");
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + r.root() + "/no-bus");
        UserManager manager(env, r.root() + "/runtime");
        if (!manager.skip.isEmpty()) QSKIP(qPrintable(manager.skip));

        Followed schedule;
        schedule.Start(manager.Command(r.logger + "ZORVEL_Backup",
                                       {"schedule", "--nightly", "02:30", "--on-logger-exit", "--to", backups, "--keep", "14"}),
                       manager.Environment());
        QVERIFY2(schedule.Finish(60000) == 0, qPrintable(schedule.out + schedule.err));
        QCOMPARE(manager.Systemctl({"is-enabled", "zorvel-backup.timer"}).trimmed(), QStringLiteral("enabled"));
        QCOMPARE(manager.Systemctl({"is-enabled", "zorvel-backup-watch.service"}).trimmed(), QStringLiteral("enabled"));
        QElapsedTimer timer;
        timer.start();
        while (manager.Systemctl({"is-active", "zorvel-backup-watch.service"}).trimmed() != "active" && timer.elapsed() < 10000)
            QTest::qWait(100);
        QCOMPARE(manager.Systemctl({"is-active", "zorvel-backup-watch.service"}).trimmed(), QStringLiteral("active"));
        // The watcher sees the machine's processes here: stopped, so that no stand-in logger elsewhere
        // makes it add a backup of its own.
        manager.Systemctl({"stop", "zorvel-backup-watch.service"});

        int code = -1;
        manager.Systemctl({"start", "zorvel-backup.service"}, &code);
        QVERIFY(code != 0);  // the backup lacks the registry (no Wine prefix here): exit code 4, a failed run
        QCOMPARE(manager.Systemctl({"show", "-p", "ExecMainStatus", "zorvel-backup.service"}).trimmed(),
                 QStringLiteral("ExecMainStatus=4"));
        QCOMPARE(FilesIn(backups).size(), 1);
        const CliRun status = r.Run({"status", "--in", backups});
        QVERIFY2(status.out.contains("Nightly backup (zorvel-backup.timer): installed, last backup "), qPrintable(status.out));
        QVERIFY2(status.out.contains(": done in part: " + backups + "/zorvel3_"), qPrintable(status.out));

        Followed remove;
        remove.Start(manager.Command(r.logger + "ZORVEL_Backup", {"schedule", "--remove"}), manager.Environment());
        QVERIFY2(remove.Finish(60000) == 0, qPrintable(remove.out + remove.err));
        QCOMPARE(manager.Systemctl({"is-active", "zorvel-backup-watch.service"}).trimmed(), QStringLiteral("inactive"));
        QCOMPARE(FilesIn(r.home + "/.config/systemd/user"), QStringList{});
    }

    void cleanupTestCase() {
        processes_.reset();
        wine_.reset();
    }
};

QTEST_MAIN(AutomaticTest)
#include "automatic_test.moc"
