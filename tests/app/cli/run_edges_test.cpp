// The command line at its edges: two runs on one folder (another run holding the lock, and real runs
// started at once, for a bounded number of rounds), a tmp that is a link, files in tmp that are not
// ours, a signal in the middle of a backup and of a restore, a closed standard output, and the exit code
// at each of its decisions.
#include "app/backup_layout.h"
#include "app/commands/command_steps.h"
#include "app/commands/retention.h"
#include "app/commands/run_lock.h"
#include "app/startup_facts.h"
#include "archive/fs/scratch.h"
#include "tests/app/support/cli_rig.h"
#include "tests/app/support/command_rig.h"
#include "tests/app/support/small_disk.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

using namespace app;
using namespace app::testing;
namespace fs = archive::fs;

namespace {

const QStringList kSnapshots = {"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg"};

fs::FolderLock HoldLock(const QString& folder) {
    fs::FolderLock::Result result{};
    return fs::FolderLock::Try(folder.toStdString(), true, result);
}

// Waits until a scratch file shows below `folder` (the run is in the middle of its work).
bool WaitForScratch(const QString& folder, QProcess& process, int timeoutMs = 60000) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs && process.state() != QProcess::NotRunning) {
        if (!ScratchFilesBelow({folder}).isEmpty()) return true;
        QThread::msleep(5);
    }
    return false;
}

}  // namespace

class RunEdgesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fakes::WineTestPrefix> wine_;
    int loggers_ = 0;

    bool WineReady() const { return wine_ && wine_->SkipReason().isEmpty(); }
    QString NewLoggerInPrefix() { return wine_->Prefix() + QStringLiteral("/drive_c/Edge Log %1/").arg(++loggers_); }

private slots:
    void initTestCase() {
        wine_ = std::make_unique<fakes::WineTestPrefix>();
        if (!WineReady()) return;
        KeepWineServer(*wine_);
        QVERIFY(SetLoggerKeys(*wine_).isEmpty());
    }

    // Another run holds the logger folder or the backup folder: --wait 0 refuses at once with its own
    // exit code, a wait that sees the other run end goes ahead, and a wait that runs out refuses.
    void anotherRunHoldsTheFolder() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const QString logger = r.logger.chopped(1);

        const struct {
            const char* name;
            QString held;
            QStringList arguments;
        } refused[] = {
            {"backup, logger held", logger, {"backup", "--to", r.backups, "--wait", "0"}},
            {"backup, backups held", r.backups, {"backup", "--to", r.backups, "--wait", "0"}},
            {"restore, logger held", logger, {"restore", r.backups + "/zorvel3_20200101000000.zip", "--logs", "--wait", "0"}},
            {"restore, its folder held for writing", r.backups, {"restore", r.backups + "/zorvel3_20200101000000.zip", "--logs", "--wait", "0"}},
        };
        testing_support::WriteFile((r.backups + "/zorvel3_20200101000000.zip").toStdString(), "old");
        for (const auto& c : refused) {
            const fs::FolderLock held = HoldLock(c.held);
            QVERIFY(held.Held());
            const CliRun run = r.Run(c.arguments);
            QVERIFY2(run.exitCode == 5, qPrintable(c.name + (": " + run.Text())));
            QCOMPARE(run.err, BusyRunText(c.held) + "\n");
            QCOMPARE(FilesIn(r.backups), QStringList{"zorvel3_20200101000000.zip"});
        }

        // The other run ends a second into the wait: this one goes ahead (no registry here: exit 4).
        auto held = std::make_unique<fs::FolderLock>(HoldLock(logger));
        QProcess waiting;
        r.Start(waiting, {"backup", "--to", r.backups, "--wait", "30"});
        QTimer::singleShot(1000, [&] { held.reset(); });
        QElapsedTimer timer;
        timer.start();
        while (waiting.state() != QProcess::NotRunning && timer.elapsed() < 120000) QTest::qWait(20);
        const CliRun went = CliRig::Finish(waiting);
        QVERIFY2(went.exitCode == 4, qPrintable(went.Text()));
        QVERIFY2(went.err.startsWith(WaitingForRunText(logger, 30) + "\n"), qPrintable(went.err));
        QCOMPARE(FilesIn(r.backups).size(), 2);

        // The wait runs out.
        const fs::FolderLock stays = HoldLock(r.backups);
        timer.restart();
        const CliRun gaveUp = r.Run({"backup", "--to", r.backups, "--wait", "1"});
        QCOMPARE(gaveUp.exitCode, 5);
        QCOMPARE(gaveUp.err, WaitingForRunText(r.backups, 1) + "\n" + BusyRunText(r.backups) + "\n");
        QVERIFY(timer.elapsed() >= 1000);
        QCOMPARE(r.Run({"backup", "--wait", "soon"}).exitCode, 2);
        QCOMPARE(r.Run({"backup", "--wait", "-1"}).exitCode, 2);
    }

    // Real runs started together, as a nightly run meeting one from the window: every archive holds
    // both snapshots and reads back whole, tmp is left empty, and two --keep 1 runs leave the newest.
    void runsStartedTogether() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const int delaysMs[] = {0, 150, 400, 800, 1500};
        int rounds = 0;
        int waited = 0;
        for (const int delay : delaysMs) {
            for (const bool keep : {false, true}) {
                ++rounds;
                QStringList extra;
                if (keep) extra = QStringList{"--keep", "1"};
                QProcess first, second;
                r.Start(first, QStringList{"backup", "--to", r.backups} + extra);
                QTest::qWait(delay);
                r.Start(second, QStringList{"backup", "--to", r.backups} + extra);
                const CliRun a = CliRig::Finish(first), b = CliRig::Finish(second);
                QVERIFY2(a.exitCode == 0, qPrintable(a.Text()));
                QVERIFY2(b.exitCode == 0, qPrintable(b.Text()));
                // The second run either found the folders free or waited for the first: never both at work.
                if (b.err.startsWith(QStringLiteral("Another ZORVEL_Backup run is using "))) ++waited;
                for (const QString& archive : QDir(r.backups).entryList({"zorvel3_*.zip"}, QDir::Files)) {
                    const QStringList entries = UnzipEntries(r.backups + "/" + archive);
                    for (const QString& snapshot : kSnapshots)
                        QVERIFY2(entries.contains(snapshot), qPrintable(archive + " lacks " + snapshot));
                    QVERIFY(!PythonEntries(r.backups + "/" + archive).contains("<error>"));
                }
                QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});
                if (keep) {
                    const QString newest = qMax(QFileInfo(a.out.trimmed()).fileName(), QFileInfo(b.out.trimmed()).fileName());
                    QCOMPARE(FilesIn(r.backups), QStringList{newest});
                }
            }
        }
        qInfo("%d rounds of two runs at once; the second waited for the first in %d", rounds, waited);
        QVERIFY(waited >= 2);  // at least the rounds started together
    }

    // tmp as a link: one leading out of the logger folder is refused for writing (backup and restore
    // alike, and nothing in its target is touched); one leading to a folder inside works. Files in tmp
    // that the program did not make stay, whatever their names.
    void tmpIsOnlyOursToEmpty() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const CliRun made = r.Run({"backup", "--to", r.backups});
        QCOMPARE(made.exitCode, 4);  // no registry outside a Wine prefix
        const QString archive = made.out.trimmed();

        const QString outside = r.root() + "/users-folder";
        const Tree users{{"letter.txt", "Dear OM"}, {"zorvel3_Registry.reg", "mine"}, {"Backup.ini", "mine too"}};
        WriteTree(outside + "/", users);
        QVERIFY(QDir(r.logger + "tmp").removeRecursively());
        QVERIFY(QFile::link(outside, r.logger + "tmp"));
        const CliRun backup = r.Run({"backup", "--to", r.backups});
        QCOMPARE(backup.exitCode, 1);
        QCOMPARE(backup.err, "The folder " + r.logger + "tmp is a link to " + outside +
                                 ", outside the logger folder; nothing is written there. No backup was made.\n");
        const CliRun restore = r.Run({"restore", archive, "--logs", "--config"});
        QCOMPARE(restore.exitCode, 1);
        QVERIFY2(restore.err.endsWith("nothing is written there. Nothing was restored.\n"), qPrintable(restore.err));
        QCOMPARE(FilesIn(r.backups).size(), 1);
        QCOMPARE(FilesIn(outside), QStringList(users.keys()));
        for (const QString& name : users.keys()) QCOMPARE(FileBytes(outside + "/" + name), users.value(name));

        // A link to a folder inside the logger folder is the logger's own tmp; the user's file there stays.
        QVERIFY(QFile::remove(r.logger + "tmp"));
        WriteTree(r.logger, {{"Work/tmp/notes.txt", "keep me"}});
        QVERIFY(QFile::link(r.logger + "Work/tmp", r.logger + "tmp"));
        QCOMPARE(r.Run({"backup", "--to", r.backups}).exitCode, 4);
        QCOMPARE(r.Run({"restore", archive, "--logs"}).exitCode, 0);
        QCOMPARE(FilesIn(r.logger + "Work/tmp"), QStringList{"notes.txt"});
        QCOMPARE(FileBytes(r.logger + "Work/tmp/notes.txt"), QByteArray("keep me"));
    }

    // Ctrl-C, SIGTERM or SIGHUP in the middle of a backup or a restore: the run stops, ends by that
    // signal, and leaves no partial archive or scratch file; the logger's files stay as they were.
    void aSignalStopsAndUndoes() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        Tree tree = LoggerFiles();
        tree["DB/DB.mdb"] = Bytes(testing_support::RandomBytes(96 << 20, 21));
        WriteTree(r.logger, tree);
        const CliRun made = r.Run({"backup", "--to", r.backups});
        QCOMPARE(made.exitCode, 4);
        const QString archive = made.out.trimmed();
        testing_support::WriteFile((r.logger + "DB/DB.mdb").toStdString(), "moved on");

        int stopped = 0;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
            for (const bool backup : {true, false}) {
                QProcess process;
                r.Start(process, backup ? QStringList{"backup", "--to", r.backups} : QStringList{"restore", archive, "--callbook", "--no-safety-backup"});
                const QString watched = backup ? r.backups : r.logger + "DB";
                if (!WaitForScratch(watched, process)) {
                    qWarning("round %d ended before its scratch file could be seen", stopped);
                    CliRig::Finish(process);
                    continue;
                }
                ::kill(static_cast<pid_t>(process.processId()), signal);
                const CliRun run = CliRig::Finish(process);
                ++stopped;
                QVERIFY2(run.crashed, qPrintable(run.Text()));
                QCOMPARE(process.exitCode(), signal);
                QVERIFY2(run.err.contains("Stopped by a signal; the backups and the logger's files were left as they were."),
                         qPrintable(run.err));
                QCOMPARE(ScratchFilesBelow({r.backups, r.logger}), QStringList{});
                QCOMPARE(FilesIn(r.backups), QStringList{QFileInfo(archive).fileName()});
                QCOMPARE(FileBytes(r.logger + "DB/DB.mdb"), QByteArray("moved on"));
            }
        }
        qInfo("%d runs stopped by a signal", stopped);
        QVERIFY(stopped >= 3);
    }

    // History by calendar on the command line: --dry-run names what would go and deletes nothing; the
    // real run deletes exactly that, and never a read-only backup or another name.
    void historyByCalendar() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        QStringList planted{"other.zip", "zorvel3_2024.zip"};
        for (int day = 0; day < 400; day += 3)
            for (const char* time : {"080000", "200000"})
                planted.append("zorvel3_" + QDate(2025, 11, 1).addDays(day).toString("yyyyMMdd") + time + ".zip");
        for (const QString& name : planted) testing_support::WriteFile((r.backups + "/" + name).toStdString(), SmallArchive());
        const QString readOnly = r.backups + "/" + planted[2];
        QFile(readOnly).setPermissions(QFileDevice::ReadOwner);
        const QStringList policy{"--keep-daily", "7", "--keep-weekly", "4", "--keep-monthly", "12"};

        const CliRun dry = r.Run(QStringList{"backup", "--to", r.backups, "--dry-run"} + policy);
        QVERIFY2(dry.exitCode == 0, qPrintable(dry.Text()));
        const QString made = QFileInfo(dry.out.trimmed()).fileName();
        QStringList expected = BackupsBeyondHistory(planted + QStringList{made}, {0, 7, 4, 12}, made, QDateTime::currentDateTime());
        expected.removeOne(planted[2]);  // read-only
        QStringList said;
        for (const QString& name : expected) said.append("Would delete old backup: " + r.backups + "/" + name);
        QCOMPARE(dry.err.split('\n', Qt::SkipEmptyParts), said);
        QCOMPARE(FilesIn(r.backups).size(), planted.size() + 1);
        QVERIFY(expected.size() > 150);

        const CliRun real = r.Run(QStringList{"backup", "--to", r.backups} + policy);
        QVERIFY2(real.exitCode == 0, qPrintable(real.Text()));
        const QString second = QFileInfo(real.out.trimmed()).fileName();
        QVERIFY(second != made);  // two backups of one second are two archives
        QStringList left = planted + QStringList{made, second};
        for (const QString& name : BackupsBeyondHistory(left, {0, 7, 4, 12}, second, QDateTime::currentDateTime()))
            if (name != planted[2]) left.removeOne(name);
        left.sort();
        QVERIFY2(FilesIn(r.backups) == left, qPrintable(FilesIn(r.backups).join(' ') + "\n" + left.join(' ') + "\n" + real.err));
        QCOMPARE(r.Run({"backup", "--keep-weekly", "0"}).exitCode, 2);
        QCOMPARE(r.Run({"backup", "--keep-monthly", "x"}).exitCode, 2);
    }

    // --copy-to: a verified, byte-identical copy in each folder that can take one; a missing folder or a
    // full disk makes the run done in part and spoils neither the backup nor the other copies; each
    // folder keeps its own history.
    void copiesInMorePlaces() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const QString good = r.root() + "/second disk", missing = r.root() + "/unplugged", full = r.root() + "/full";
        QDir().mkpath(good);
        SmallDisk disk(full, 64);
        if (!disk.Mounted()) QSKIP("a small tmpfs cannot be mounted here (needs root and mount rights)");
        testing_support::WriteFile((good + "/zorvel3_20200101000000.zip").toStdString(), SmallArchive());

        const CliRun run = r.Run({"backup", "--to", r.backups, "--copy-to", good, "--copy-to", missing, "--copy-to", full});
        QVERIFY2(run.exitCode == 4, qPrintable(run.Text()));
        const QString made = run.out.trimmed();
        const QString name = QFileInfo(made).fileName();
        QVERIFY2(run.err.contains("Copied to: " + good + "/" + name + "\n"), qPrintable(run.err));
        QVERIFY2(run.err.contains("The copy in " + missing + " was not made: the folder does not exist.\n"), qPrintable(run.err));
        QVERIFY2(run.err.contains(QRegularExpression("The copy in " + QRegularExpression::escape(full) +
                                                     " was not made: The disk mounted at .* is full\\.")),
                 qPrintable(run.err));
        QCOMPARE(FileBytes(good + "/" + name), FileBytes(made));
        QVERIFY(!PythonEntries(made).contains("<error>"));
        QCOMPARE(FilesIn(full), QStringList{});
        QCOMPARE(ScratchFilesBelow({good, full, r.backups}), QStringList{});
        QVERIFY(!QFileInfo::exists(missing));

        const CliRun kept = r.Run({"backup", "--to", r.backups, "--copy-to", good, "--keep", "1"});
        QVERIFY2(kept.exitCode == 0, qPrintable(kept.Text()));
        const QString newest = QFileInfo(kept.out.trimmed()).fileName();
        QCOMPARE(FilesIn(good), QStringList{newest});
        QCOMPARE(FilesIn(r.backups), QStringList{newest});

        // A copy folder too small for the copy even without its old backups loses none of them.
        for (const char* name : {"zorvel3_20200101000000.zip", "zorvel3_20210101000000.zip"})
            testing_support::WriteFile((full + "/" + name).toStdString(), SmallArchive());
        const CliRun tooSmall = r.Run({"backup", "--to", r.backups, "--copy-to", full, "--keep", "1"});
        QVERIFY2(tooSmall.exitCode == 4, qPrintable(tooSmall.Text()));
        QCOMPARE(FilesIn(full), QStringList({"zorvel3_20200101000000.zip", "zorvel3_20210101000000.zip"}));

        // A full copy folder gets room by its own history: of the old backups that --keep deletes anyway,
        // the oldest go first, as many as make room, and the copy is made.
        const QByteArray backupBytes = FileBytes(tooSmall.out.trimmed());
        QVERIFY(backupBytes.size() > 200000);
        const QString roomy = r.root() + "/roomy";
        SmallDisk roomyDisk(roomy, int(backupBytes.size() * 5 / 2 / 1024));
        QVERIFY(roomyDisk.Mounted());
        for (const char* name : {"zorvel3_20200101000000.zip", "zorvel3_20210101000000.zip"})
            testing_support::WriteFile((roomy + "/" + name).toStdString(), backupBytes.toStdString());
        const CliRun recovered = r.Run({"backup", "--to", r.backups, "--copy-to", roomy, "--keep", "2"});
        QVERIFY2(recovered.exitCode == 0, qPrintable(recovered.Text()));
        const QString third = QFileInfo(recovered.out.trimmed()).fileName();
        QVERIFY2(recovered.err.startsWith("Deleted old backup: " + roomy + "/zorvel3_20200101000000.zip\nCopied to: " + roomy +
                                          "/" + third + "\n"),
                 qPrintable(recovered.err));
        QCOMPARE(FilesIn(roomy), QStringList({"zorvel3_20210101000000.zip", third}));
        QCOMPARE(FileBytes(roomy + "/" + third), FileBytes(r.backups + "/" + third));
    }

    // A restore flushes each folder it renamed files into before it says it is done, as the writer and the
    // copy do: in the real program's system calls (strace), the last rename into a folder is followed by
    // a flush of that folder.
    void aRestoreFlushesTheFoldersItRenamedInto() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const QString archive = r.backups + "/zorvel3_20240102030406.zip";
        QVERIFY(MakeArchive(archive, {{"DB/Logs.mdb", "logs then"}, {"DB/Logs.ldb", "ldb then"}, {"Config.ini", "config then"},
                                      {"Sub/y.ini", "y then"}}));
        const QString trace = r.root() + "/trace";
        QProcess strace;
        strace.setProcessEnvironment(r.Environment());
        strace.start("strace", {"-f", "-y", "-qq", "-e", "trace=rename,renameat,renameat2,fsync,fdatasync", "-o", trace,
                                r.logger + "ZORVEL_Backup", "restore", archive, "--logs", "--config", "--no-safety-backup"});
        QVERIFY(strace.waitForFinished(300000));
        QCOMPARE(FileBytes(r.logger + "Sub/y.ini"), QByteArray("y then"));

        // Each folder a scratch file was renamed into, and whether a flush of it came after the last rename.
        QMap<QString, bool> flushedSince;
        const QRegularExpression renameAt(R"re(renameat2?\((?:\d+<([^>]*)>|AT_FDCWD), "([^"]*)", (?:\d+<([^>]*)>|AT_FDCWD), "([^"]*)".*= 0$)re");
        const QRegularExpression renamePlain(R"re(rename\("([^"]*)", "([^"]*)"\) += 0$)re");
        const QRegularExpression flush(R"re(f(?:data)?sync\(\d+<([^>]*)>\) += 0$)re");
        for (const QString& line : QString::fromUtf8(FileBytes(trace)).split('\n')) {
            QString from, to;
            if (const auto m = renameAt.match(line); m.hasMatch()) {
                from = m.captured(2);
                to = QDir(m.captured(3)).filePath(m.captured(4));
            } else if (const auto p = renamePlain.match(line); p.hasMatch()) {
                from = p.captured(1);
                to = p.captured(2);
            } else if (const auto f = flush.match(line); f.hasMatch()) {
                const QString folder = QDir::cleanPath(f.captured(1));
                if (flushedSince.contains(folder)) flushedSince[folder] = true;
                continue;
            }
            if (QFileInfo(from).fileName().startsWith(".zbk-")) flushedSince[QDir::cleanPath(QFileInfo(to).path())] = false;
        }
        QVERIFY2(flushedSince.contains(QDir::cleanPath(r.logger + "DB")), qPrintable(QString::fromUtf8(FileBytes(trace))));
        QVERIFY2(flushedSince.contains(QDir::cleanPath(r.logger + "Sub")), qPrintable(QStringList(flushedSince.keys()).join(' ')));
        for (auto it = flushedSince.cbegin(); it != flushedSince.cend(); ++it) QVERIFY2(it.value(), qPrintable(it.key()));
    }

    // Standard output a closed pipe: the backup still finishes its work, --keep included.
    void aClosedOutputStopsNothing() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        testing_support::WriteFile((r.backups + "/zorvel3_20200101000000.zip").toStdString(), SmallArchive());
        QProcess shell;
        shell.setProcessEnvironment(r.Environment());
        shell.start("bash", {"-c", "exec 1>&-; \"$0\" backup --to \"$1\" --keep 1 2>/dev/null | true; echo \"${PIPESTATUS[0]}\" >&2",
                             r.logger + "ZORVEL_Backup", r.backups});
        QVERIFY(shell.waitForFinished(300000));
        QCOMPARE(QString::fromLatin1(shell.readAllStandardError()).trimmed(), QStringLiteral("0"));
        const QStringList left = FilesIn(r.backups);
        QCOMPARE(left.size(), 1);
        QVERIFY(left[0] != "zorvel3_20200101000000.zip");
    }

    // The start-up sweep takes the debris of a run that died from every folder below the logger folder
    // (a restore writes beside any file it restores) and from the backup folder, and nothing else: a
    // user's file whose name merely looks like ours stays, and so does a live scratch file. In the
    // logger's tmp it also takes the registry exports of a run that died, marked or not.
    void theSweepTakesOnlyOurDebris() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const QStringList folders{r.logger + "Sub/Deeper", r.logger + "DB", r.logger, r.backups};
        const auto debrisIn = [](const QString& folder) {
            const pid_t child = ::fork();
            if (child == 0) {
                fs::ScratchFile file = fs::ScratchFile::Create(folder.toStdString());
                ::_exit(file.Valid() ? 0 : 1);  // dies with its scratch file made: no clean-up runs
            }
            int status = 0;
            ::waitpid(child, &status, 0);
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        };
        for (const QString& folder : folders) {
            QDir().mkpath(folder);
            QVERIFY(debrisIn(folder));
            testing_support::WriteFile((folder + "/.zbk-abc123").toStdString(), "the user's own");
        }
        // In tmp, the registry editor of a run killed while it exported makes its file anew, unmarked,
        // after the sweep: its name and what it holds tell it is ours, as long as nobody holds its lock.
        const QByteArray regedit5 = QByteArray("\xFF\xFE", 2) +
                                    QByteArray(reinterpret_cast<const char*>(u"Windows Registry Editor Version 5.00\r\n"), 76);
        const struct {
            const char* name;
            QByteArray bytes;
            bool swept;
        } inTmp[] = {{".zbk-Ab3x9Q", regedit5 + QByteArray(400, 'x'), true}, {".zbk-Ab3x9R", "REGEDIT4\r\n[HKEY]", true},
                     {".zbk-Ab3x9S", "", true}, {".zbk-Ab3x9T", regedit5.left(20), true},
                     {".zbk-abc124", "the user's own", false}, {"Ab3x9Q.reg", regedit5, false}};
        for (const auto& file : inTmp) testing_support::WriteFile((r.logger + "tmp/" + file.name).toStdString(), file.bytes.toStdString());
        QVERIFY(!StaleRegistryExport(".zbk-Ab3x9Q", true, regedit5));  // a live export's lock is held
        QVERIFY(!StaleRegistryExport(".zbk-Ab3x9Q", false, "Windows Regular"));
        QVERIFY(!StaleRegistryExport("Ab3x9Q.reg", false, regedit5));
        QCOMPARE(ScratchFilesBelow({r.logger, r.backups}).size(), 2 * folders.size() + 5);
        const fs::ScratchFile live = fs::ScratchFile::Create((r.logger + "Sub").toStdString());
        QVERIFY(live.Valid());
        const fs::ScratchFile liveExport = fs::ScratchFile::Create((r.logger + "tmp").toStdString());
        testing_support::WriteFile(liveExport.Path(), regedit5.toStdString());

        QCOMPARE(r.Run({"list", "--in", r.backups}).exitCode, 0);  // the backup folder of this run
        r.RememberBackupFolder(r.backups);
        QCOMPARE(r.Run({"list"}).exitCode, 0);  // and the one the window last used
        QStringList left = ScratchFilesBelow({r.logger, r.backups});
        left.sort();
        QStringList expected{live.Path().c_str(), liveExport.Path().c_str(), r.logger + "tmp/.zbk-abc124"};
        for (const QString& folder : folders) expected.append(QDir::cleanPath(folder + "/.zbk-abc123"));
        expected.sort();
        QCOMPARE(left, expected);
    }

    // The program linked into the logger folder (to a build, or to an installed copy): both faces take
    // the link's folder as the logger folder, whether it is started by its full path, from the logger
    // folder itself, or by a name found on PATH.
    void aProgramLinkedIntoTheLoggerFolder() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        const QString program = QFileInfo(qEnvironmentVariable("ZORVEL_BACKUP")).absoluteFilePath();
        const QString linked = r.root() + "/Linked Log/";
        WriteTree(linked, LoggerFiles());
        QVERIFY(QFile::link(program, linked + "ZORVEL_Backup"));

        const struct {
            const char* name;
            QString argv0, cwd, path;
        } starts[] = {
            {"full path", linked + "ZORVEL_Backup", "/", "/usr/bin"},
            {"from the logger folder", "./ZORVEL_Backup", linked, "/usr/bin"},
            {"found on PATH", "ZORVEL_Backup", "/", "/usr/bin:" + linked},
        };
        for (const auto& s : starts) {
            const StartupFacts facts = WorkOutStartupFacts({s.argv0, "backup"}, s.cwd, s.path, program);
            QVERIFY2(facts.loggerFolder == linked, qPrintable(QString(s.name) + ": " + facts.loggerFolder));
            QVERIFY2(facts.executablePath == linked + "ZORVEL_Backup", s.name);
        }
        const StartupFacts unknown = WorkOutStartupFacts({"", "backup"}, "/", "", program);
        QCOMPARE(unknown.executablePath, program);

        QProcess run;
        run.setProcessEnvironment(r.Environment());
        run.setWorkingDirectory(linked);
        run.start(linked + "ZORVEL_Backup", {"backup", "--to", r.backups});
        const CliRun made = CliRig::Finish(run);
        QVERIFY2(made.exitCode == 4, qPrintable(made.Text()));  // no registry outside a Wine prefix
        QVERIFY(!made.err.contains(QString::fromLatin1(kNotInLoggerFolder)));
        QCOMPARE(UnzipEntries(made.out.trimmed()).size(), BackedUpFiles().size());
    }

    // The exit code at each of its decisions, for the commands that need no registry.
    void exitCodes() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const CliRun made = r.Run({"backup", "--to", r.backups});
        QCOMPARE(made.exitCode, 4);
        const QString good = made.out.trimmed();
        const QString bad = r.root() + "/bad.zip";
        QByteArray bytes = FileBytes(good);
        const auto [start, length] = EntryData(good, "DB/Logs.mdb");
        bytes[start + length / 2] = static_cast<char>(bytes[start + length / 2] ^ 0x5a);
        testing_support::WriteFile(bad.toStdString(), bytes.toStdString());
        const QString empty = r.root() + "/empty.zip";
        testing_support::WriteFile(empty.toStdString(), "");
        // A read-only target: the logs part cannot be restored whole.
        WriteTree(r.logger, {{"DB/Logs.ldb", "moved on"}});
        QFile(r.logger + "DB/Logs.ldb").setPermissions(QFileDevice::ReadOwner);

        const struct {
            QStringList arguments;
            int code;
            QString lastErr;  // the last line on standard error ("" for none)
        } cases[] = {
            {{"verify", good}, 0, ""},
            {{"verify", bad}, 1, bad + ": DB/Logs.mdb: CRC or size mismatch"},
            {{"verify", bad, good}, 1, "1 of 2 archives failed the check: " + bad},
            {{"verify", good, bad}, 1, "1 of 2 archives failed the check: " + bad},
            {{"verify", good, good}, 0, ""},
            {{"verify", empty}, 1, empty + ": Not a valid zip file!"},
            {{"verify", "/dev/null"}, 1, "/dev/null: Cannot open file \"/dev/null\". Not a regular file"},
            {{"verify", empty, good}, 1, "1 of 2 archives failed the check: " + empty},
            {{"restore", good, "--awards", "--no-safety-backup"}, 0, ""},
            {{"restore", good, "--logs", "--no-safety-backup"}, 4, "DB/Logs.mdb: not restored, because not all files of \"Logs.mdb (Logs files)\" could be"},
            {{"restore", bad, "--awards", "--logs", "--no-safety-backup"}, 4, "DB/Logs.mdb: damaged in the backup (CRC or size mismatch)"},
            {{"restore", r.root() + "/none.zip", "--logs"}, 1, "The backup " + r.root() + "/none.zip does not exist."},
            {{"restore", good}, 2, "restore: choose at least one of --awards, --callbook, --logs, --config, or --all"},
            {{"restore", good, bad, "--logs"}, 2, "restore: name exactly one archive"},
        };
        for (const auto& c : cases) {
            const CliRun run = r.Run(c.arguments);
            QVERIFY2(run.exitCode == c.code, qPrintable(c.arguments.join(' ') + "\n" + run.Text()));
            const QStringList lines = run.err.split('\n', Qt::SkipEmptyParts);
            QVERIFY2((lines.isEmpty() ? QString() : lines.last()) == c.lastErr, qPrintable(c.arguments.join(' ') + "\n" + run.Text()));
        }
    }

    void cleanupTestCase() { wine_.reset(); }
};

QTEST_MAIN(RunEdgesTest)
#include "run_edges_test.moc"
