// The command line end to end: the real program as a child process, in a logger folder inside a real
// Wine prefix (made once for this executable). Checked: exit codes, standard output, standard error and
// the files on disk for backup (into the folder the window last used), list, verify of a good and a
// damaged archive, restore of each part (the registry imported only with --config), --keep, the guard
// refusing while a stand-in logger runs (and --close-logger waiting for it), and full disks on a small
// tmpfs for backup and restore.
#include "app/backup_layout.h"
#include "app/logger_guard.h"
#include "tests/app/support/cli_rig.h"
#include "tests/app/support/small_disk.h"

#include <QRegularExpression>
#include <QtTest>

#include <functional>


using namespace app;
using namespace app::testing;

namespace {

const QStringList kSnapshots = {"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg"};

QStringList Sorted(QStringList list) {
    list.sort();
    return list;
}


// The bytes of `archive` with the data of one entry flipped half-way (its CRC no longer fits).
QByteArray Damaged(const QString& archive, const QString& entry) {
    const auto [start, length] = EntryData(archive, entry);
    QByteArray bytes = FileBytes(archive);
    for (qint64 i = start + length / 2; i < start + length / 2 + 8; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    return bytes;
}

}  // namespace

class CommandLineTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fakes::WineTestPrefix> wine_;
    int loggers_ = 0;

    QString NewLoggerInPrefix() { return wine_->Prefix() + QStringLiteral("/drive_c/ZORVEL Log3 %1/").arg(++loggers_); }

    bool WineReady() const { return wine_ && wine_->SkipReason().isEmpty(); }

private slots:
    void initTestCase() {
        wine_ = std::make_unique<fakes::WineTestPrefix>();
        if (!WineReady()) {
            qWarning("tests that need real registry snapshots will be skipped: %s", qPrintable(wine_->SkipReason()));
            return;
        }
        KeepWineServer(*wine_);
        QVERIFY(SetLoggerKeys(*wine_).isEmpty());
    }

    // backup, list, verify and restore, each as a script would run it, on one logger inside a Wine prefix.
    void backupListVerifyRestore() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        const Tree tree = LoggerFiles();
        WriteTree(r.logger, tree);
        r.RememberBackupFolder(r.backups);

        // backup: into the folder the window last used; the new archive's path is the only output.
        const CliRun made = r.Run({"backup"});
        QVERIFY2(made.exitCode == 0, qPrintable(made.Text()));
        const QString archive = made.out.trimmed();
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(r.backups) + "/zorvel3_\\d{14}\\.zip$")
                     .match(archive).hasMatch(), qPrintable(made.Text()));
        QCOMPARE(made.out, archive + "\n");
        QCOMPARE(Sorted(UnzipEntries(archive)), Sorted(kSnapshots + BackedUpFiles()));
        const Tree read = PythonEntries(archive);
        for (const QString& file : BackedUpFiles()) QVERIFY2(read.value(file) == tree.value(file), qPrintable(file));
        QVERIFY(Utf16Text(read.value(kSnapshots[0])).contains("\"Call\"=\"OE1ABC\""));
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});

        // list: oldest first, a damaged one included; verify: the good and the damaged.
        const QString damaged = r.backups + "/zorvel3_20200101000000.zip";
        testing_support::WriteFile(damaged.toStdString(), Damaged(archive, "DB/Logs.mdb").toStdString());
        const QString garbage = r.backups + "/zorvel3_20190101000000.zip";
        testing_support::WriteFile(garbage.toStdString(), "not an archive");
        const CliRun listed = r.Run({"list"});
        QCOMPARE(listed.exitCode, 0);
        const QString name = QFileInfo(archive).fileName();
        QCOMPARE(listed.out.split('\n', Qt::SkipEmptyParts),
                 (QStringList{garbage + "\t01.01.2019 at 00:00\t14\tdoes not open: Not a valid zip file!",
                              damaged + "\t01.01.2020 at 00:00\t" + QString::number(QFileInfo(damaged).size()) + "\topens",
                              archive + "\t" + name.mid(14, 2) + "." + name.mid(12, 2) + "." + name.mid(8, 4) + " at " +
                                  name.mid(16, 2) + ":" + name.mid(18, 2) + "\t" +
                                  QString::number(QFileInfo(archive).size()) + "\topens"}));

        const CliRun good = r.Run({"verify", archive});
        QCOMPARE(good.exitCode, 0);
        QCOMPARE(good.out, archive + ": OK, 19 entries\n");
        const CliRun bad = r.Run({"verify", archive, damaged});
        QCOMPARE(bad.exitCode, 1);
        QCOMPARE(bad.out, archive + ": OK, 19 entries\n" + damaged + ": damaged\n");
        QCOMPARE(bad.err, damaged + ": DB/Logs.mdb: CRC or size mismatch\n1 of 2 archives failed the check: " + damaged + "\n");

        // restore: each part alone over a logger that moved on; the registry only with --config.
        const struct {
            const char* option;
            QStringList files;
        } parts[] = {{"--awards", {"DB/Awards.mdb", "DB/Awards.ldb"}},
                     {"--callbook", {"DB/DB.mdb"}},
                     {"--logs", {"DB/Logs.mdb", "DB/Logs.ldb"}},
                     {"--config", {"Config.ini", "LanguageFile.ini", "Card.qsl", "Notes.md"}}};
        for (const auto& part : parts) {
            for (const QString& file : tree.keys()) testing_support::WriteFile((r.logger + file).toStdString(), "moved on");
            QCOMPARE(wine_->Wine({"reg", "add", kLogKey, "/v", "Call", "/d", "DL9XYZ", "/f"}).exitCode, 0);
            const CliRun restored = r.Run({"restore", archive, part.option});
            QVERIFY2(restored.exitCode == 0, qPrintable(restored.Text()));
            QVERIFY2(restored.out.startsWith("Restore backup\n\nThe files as they were before this restore are kept in " +
                                             r.backups + "/zorvel3-before-restore-"),
                     qPrintable(restored.out));
            for (const QString& file : tree.keys()) {
                const bool back = part.files.contains(file) || (QString(part.option) == "--config" && BackedUpFiles().contains(file) && !file.startsWith("DB/"));
                QVERIFY2((FileBytes(r.logger + file) == tree.value(file)) == back, qPrintable(part.option + (" " + file)));
            }
            QCOMPARE(QueryValue(*wine_, kLogKey, "Call").contains("OE1ABC"), QString(part.option) == "--config");
            QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});
        }
        const CliRun nothing = r.Run({"restore", archive});
        QCOMPARE(nothing.exitCode, 2);
        QVERIFY(nothing.err.contains("choose at least one of --awards, --callbook, --logs, --config"));
    }

    // --keep deletes the oldest of the folder's own backups, never the new one, a read-only one or other
    // names; a file named like a backup that is no ZIP archive, or named for the far future, takes no
    // place and stays, named in a warning; after an incomplete backup (no Wine prefix: no registry) it
    // deletes nothing.
    void keepDeletesOnlyTheOldestOfItsOwnBackups() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        const QStringList old = {"zorvel3_20200101000000.zip", "zorvel3_20210101000000.zip", "zorvel3_20220101000000.zip",
                                 "zorvel3x.zip", "ZORVEL3_20190101000000.ZIP", "other.zip", "zorvel3_20990101000000.zip"};
        const auto plant = [&](const QString& folder) {
            for (const QString& name : old) testing_support::WriteFile((folder + "/" + name).toStdString(), SmallArchive());
            testing_support::WriteFile((folder + "/zorvel3_20230101000000.zip").toStdString(), "no zip");
            QFile(folder + "/zorvel3_20210101000000.zip").setPermissions(QFileDevice::ReadOwner);
        };

        CliRig outside;
        if (!outside.skip.isEmpty()) QSKIP(qPrintable(outside.skip));
        WriteTree(outside.logger, LoggerFiles());
        plant(outside.backups);
        const CliRun incomplete = outside.Run({"backup", "--to", outside.backups, "--keep", "1"});
        QCOMPARE(incomplete.exitCode, 4);
        QVERIFY(incomplete.err.contains("lies in no Wine prefix"));
        QVERIFY(incomplete.err.contains("No old backup was deleted, because this one is incomplete."));
        QCOMPARE(FilesIn(outside.backups).size(), old.size() + 2);

        CliRig r(NewLoggerInPrefix());
        WriteTree(r.logger, LoggerFiles());
        plant(r.backups);
        const CliRun kept = r.Run({"backup", "--to", r.backups, "--keep", "2"});
        QVERIFY2(kept.exitCode == 0, qPrintable(kept.Text()));
        const QString made = QFileInfo(kept.out.trimmed()).fileName();
        QCOMPARE(FilesIn(r.backups), Sorted({made, "zorvel3_20210101000000.zip", "zorvel3x.zip", "ZORVEL3_20190101000000.ZIP",
                                             "other.zip", "zorvel3_20230101000000.zip", "zorvel3_20990101000000.zip"}));
        QCOMPARE(kept.err, "Left as it is: " + r.backups + "/zorvel3_20990101000000.zip is named for 2099-01-01 00:00:00, "
                           "later than tomorrow; it does not count among the backups to keep.\n"
                           "Left as it is: " + r.backups + "/zorvel3_20230101000000.zip is no ZIP archive that opens; it "
                           "does not count among the backups to keep.\n"
                           "Deleted old backup: " + r.backups + "/zorvel3_20200101000000.zip\nDeleted old backup: " +
                               r.backups + "/zorvel3_20220101000000.zip\n");
        QCOMPARE(r.Run({"backup", "--keep", "0"}).exitCode, 2);
    }

    // backup --if-changed in a real Wine prefix, step by step: nothing changed makes no backup (exit 0,
    // the backup still current on standard output, the reason on standard error, --keep deletes
    // nothing); a registry value or a byte of a file changed makes one; a plain backup carries the
    // unchanged files over and equals backup --full byte for byte.
    void ifChangedAndCarryOver() {
        if (!WineReady()) QSKIP(qPrintable(wine_->SkipReason()));
        CliRig r(NewLoggerInPrefix());
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        const QStringList backup{"backup", "--to", r.backups};
        const CliRun first = r.Run(backup);
        QVERIFY2(first.exitCode == 0, qPrintable(first.Text()));
        QString newest = first.out.trimmed();

        const struct {
            const char* name;
            std::function<void()> change;
            bool unchanged;
        } steps[] = {
            {"nothing changed", nullptr, true},
            {"a registry value",
             [&] { QCOMPARE(wine_->Wine({"reg", "add", kLogKey, "/v", "Call", "/d", "DL9XYZ", "/f"}).exitCode, 0); }, false},
            {"nothing changed since", nullptr, true},
            {"a byte of the logs, same size", [&] {
                 QByteArray logs = FileBytes(r.logger + "DB/Logs.mdb");
                 logs[logs.size() / 2] = static_cast<char>(logs[logs.size() / 2] ^ 1);
                 testing_support::WriteFile((r.logger + "DB/Logs.mdb").toStdString(), logs.toStdString());
             }, false},
        };
        for (const auto& step : steps) {
            QTest::qWait(1100);  // a new backup gets a name of its own
            if (step.change) step.change();
            const QStringList before = FilesIn(r.backups);
            const CliRun run = r.Run(backup + QStringList{"--if-changed", "--keep", "1"});
            QVERIFY2(run.exitCode == 0, qPrintable(step.name + ("\n" + run.Text())));
            if (step.unchanged) {
                QCOMPARE(run.out, newest + "\n");
                QCOMPARE(run.err, "Nothing has changed since " + newest +
                                      ": it still holds the logger's current state; no new backup was made.\n");
                QCOMPARE(FilesIn(r.backups), before);
            } else {
                QVERIFY2(run.out.trimmed() != newest && QFileInfo(run.out.trimmed()).isFile(), qPrintable(step.name));
                newest = run.out.trimmed();
                QCOMPARE(FilesIn(r.backups), QStringList{QFileInfo(newest).fileName()});  // --keep 1
            }
        }
        QCOMPARE(wine_->Wine({"reg", "add", kLogKey, "/v", "Call", "/d", "OE1ABC", "/f"}).exitCode, 0);

        QTest::qWait(1100);
        const CliRun carried = r.Run(backup);
        QTest::qWait(1100);
        const CliRun full = r.Run(backup + QStringList{"--full"});
        QVERIFY2(carried.exitCode == 0 && full.exitCode == 0, qPrintable(carried.Text() + full.Text()));
        // The same archive but for the times of the registry snapshots, which are exported anew by each
        // run (the writer's own test compares whole archives of the same files).
        QCOMPARE(QFileInfo(carried.out.trimmed()).size(), QFileInfo(full.out.trimmed()).size());
        QProcess diff;
        const QString listing = "unzip -Z -v %1 | grep -v -e '^Archive:' -e 'file last modified'";
        diff.start("bash", {"-c", "diff <(" + listing.arg(carried.out.trimmed()) + ") <(" + listing.arg(full.out.trimmed()) + ")"});
        QVERIFY(diff.waitForFinished());
        QVERIFY2(diff.exitCode() == 0, qPrintable(QString::fromLocal8Bit(diff.readAllStandardOutput())));
    }

    // While the logger runs, backup and restore refuse at once, with the window's question as the reason
    // and a distinct exit code; --close-logger waits for it as the window does.
    void guardRefusesWhileTheLoggerRuns() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, LoggerFiles());
        QProcess logger;
        QVERIFY(StartNamedProcess(logger, "C:\\ZORVEL\\ZORVEL_Log3.exe", 6));
        QElapsedTimer timer;
        timer.start();
        const CliRun refused = r.Run({"backup", "--to", r.backups});
        QCOMPARE(refused.exitCode, 3);
        QCOMPARE(refused.err, QString::fromLatin1(kCloseLoggerQuestion) +
                                  "\nZORVEL_Log 3 is running. Close it and try again, or pass --close-logger to ask it to close.\n");
        QVERIFY(timer.elapsed() < 2500);  // no waiting
        const CliRun restore = r.Run({"restore", r.backups + "/none.zip", "--logs"});
        QCOMPARE(restore.exitCode, 3);
        QVERIFY(FilesIn(r.backups).isEmpty());

        const CliRun waited = r.Run({"backup", "--to", r.backups, "--close-logger"});
        QVERIFY2(waited.exitCode == 4, qPrintable(waited.Text()));  // made; no registry outside a prefix
        QVERIFY(waited.err.contains("Asking ZORVEL_Log 3 to close; waiting up to 29 seconds for it."));
        QCOMPARE(FilesIn(r.backups).size(), 1);
        logger.waitForFinished(10000);
    }

    // A full disk: the backup names the file and the disk and keeps the old backups; the restore names
    // the file and the disk and leaves the logger's files of that part as they were.
    void fullDiskForBackupAndRestore() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        Tree tree = LoggerFiles();
        tree["DB/DB.mdb"] = Bytes(testing_support::RandomBytes(400000, 9));
        WriteTree(r.logger, tree);
        const CliRun made = r.Run({"backup", "--to", r.backups});
        QCOMPARE(made.exitCode, 4);
        const QString archive = made.out.trimmed();

        const QString small = r.root() + "/small";
        SmallDisk disk(small, 128);
        if (!disk.Mounted()) QSKIP("a small tmpfs cannot be mounted here (needs root and mount rights)");
        testing_support::WriteFile((small + "/zorvel3_20200101000000.zip").toStdString(), "old backup");
        const CliRun full = r.Run({"backup", "--to", small});
        QCOMPARE(full.exitCode, 1);
        QVERIFY2(full.err.startsWith("Not enough room to write archive\n\nThe disk mounted at " + small), qPrintable(full.err));
        QVERIFY2(full.err.contains("is full: " + small + "/zorvel3_"), qPrintable(full.err));
        QVERIFY(full.err.contains("The existing backups were left unchanged."));
        QCOMPARE(FilesIn(small), QStringList{"zorvel3_20200101000000.zip"});
        QCOMPARE(FileBytes(small + "/zorvel3_20200101000000.zip"), QByteArray("old backup"));

        // The logger's DB on a disk with room for what it holds, not for the callbook database again.
        const QString db = r.logger + "DB";
        QVERIFY(QDir(db).removeRecursively());
        SmallDisk dbDisk(db, 640);
        QVERIFY(dbDisk.Mounted());
        Tree drifted;
        for (const QString& file : tree.keys())
            if (file.startsWith("DB/") && !file.startsWith("DB/Old/")) drifted[file] = "moved on " + file.toUtf8();
        drifted["DB/DB.mdb"] = Bytes(testing_support::RandomBytes(300000, 10));
        WriteTree(r.logger, drifted);
        const CliRun restore = r.Run({"restore", archive, "--callbook"});
        QCOMPARE(restore.exitCode, 1);
        QVERIFY2(restore.err.startsWith("Stream write error\n\nThe disk mounted at " + db), qPrintable(restore.err));
        QVERIFY2(restore.err.contains("is full: " + db + "/DB.mdb could not be restored. The logger's files of "
                                      "\"DB.mdb (Callbook, ... files)\" were left unchanged."),
                 qPrintable(restore.err));
        for (const QString& file : drifted.keys()) QVERIFY2(FileBytes(r.logger + file) == drifted.value(file), qPrintable(file));
        QCOMPARE(ScratchFilesBelow({r.logger}), QStringList{});
    }

    void helpVersionProgressAndMistakes() {
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        // On a terminal (here the pseudo-terminal of `script`) the progress is one line rewritten in place.
        WriteTree(r.logger, LoggerFiles());
        QProcess terminal;
        terminal.setProcessEnvironment(r.Environment());
        terminal.start("script", {"-qec", "'" + r.logger + "ZORVEL_Backup' backup --to '" + r.backups + "'", "/dev/null"});
        if (terminal.waitForFinished(120000)) {
            const QString shown = QString::fromLocal8Bit(terminal.readAllStandardOutput());
            QVERIFY2(shown.contains("\r\x1b[K100% " + r.logger), qPrintable(shown));
            QVERIFY2(shown.contains("\r\x1b[KCreated file: " + r.backups + "/zorvel3_"), qPrintable(shown));
        }
        const CliRun help = r.Run({"--help"});
        QCOMPARE(help.exitCode, 0);
        for (const char* line : {"  0  done as asked", "  2  the command line is wrong", "  3  ZORVEL_Log 3 is running",
                                 "  4  done in part"})
            QVERIFY2(help.out.contains(line), line);
        const CliRun version = r.Run({"--version"});
        QVERIFY(QRegularExpression("^ZORVEL_Backup 3\\.1 -  \\( \\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d\\)\\n$")
                    .match(version.out).hasMatch());
        const CliRun noFolder = r.Run({"backup", "--to", r.root() + "/none"});
        QCOMPARE(noFolder.exitCode, 1);
        QCOMPARE(noFolder.err, "The backup folder " + r.root() + "/none does not exist.\n");
        const CliRun noArchive = r.Run({"restore", r.root() + "/none.zip", "--logs"});
        QCOMPARE(noArchive.exitCode, 1);
        QCOMPARE(noArchive.err, "The backup " + r.root() + "/none.zip does not exist.\n");
        QCOMPARE(r.Run({"backup", "--frob"}).exitCode, 2);
        QCOMPARE(r.Run({"frob"}).exitCode, 2);
        QCOMPARE(r.Run({"verify"}).exitCode, 2);
    }

    void cleanupTestCase() { wine_.reset(); }
};

QTEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
