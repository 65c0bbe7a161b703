// Commands killed half-way, as a crash or a power cut would end them: the real program, run from its
// command line, gets SIGKILL at a named moment of its work on a scratch file (tests/support/kill_at.c):
// while the archive is written (compressed, or carried over from the last backup), while it is read
// back, just before it takes its name; while a restore
// stages its files, between staging and the renames, between two renames. Then the program starts again
// and makes a backup. Checked after that: no scratch file anywhere the program writes, the new backup
// holds exactly the logger's files (no debris), and every logger file is byte for byte its old or its
// new version -- never a mixture, never lost.
#include "tests/app/support/cli_rig.h"

#include <QRegularExpression>
#include <QtTest>

using namespace app::testing;

namespace {

// The logger's files in two versions: what the backup holds (1) and what the logger has since (2).
Tree Version(int v) {
    using testing_support::RandomBytes;
    using testing_support::TextBytes;
    Tree t;
    t["DB/Awards.mdb"] = Bytes(TextBytes(40000, 10 * v + 1));
    t["DB/DB.mdb"] = Bytes(TextBytes(2000000, 10 * v + 2));
    t["DB/Logs.mdb"] = Bytes(TextBytes(3000000, 10 * v + 3));
    t["DB/Logs.ldb"] = Bytes(RandomBytes(600, 10 * v + 4));
    t["Config.ini"] = "[Main]\r\nVersion=" + QByteArray::number(v) + "\r\n";
    return t;
}

QString NewestArchive(const QString& folder) {
    const QStringList archives = QDir(folder).entryList({QStringLiteral("zorvel3_*.zip")}, QDir::Files, QDir::Name);
    return archives.isEmpty() ? QString() : folder + QLatin1Char('/') + archives.last();
}

}  // namespace

class InterruptionTest : public QObject {
    Q_OBJECT

private slots:
    void killedCommandsLeaveNothingBehind_data() {
        QTest::addColumn<QStringList>("command");  // "ARCHIVE" stands for the backup made first
        QTest::addColumn<QString>("killAt");
        QTest::addColumn<bool>("changed");  // false: the logger's files are as the first backup holds them
        QTest::newRow("backup: writing the archive") << QStringList{"backup"} << "write:3" << true;
        QTest::newRow("backup: reading it back") << QStringList{"backup"} << "read:3" << true;
        QTest::newRow("backup: before its rename") << QStringList{"backup"} << "rename:1" << true;
        // Nothing changed: the backup copies its entries from the first one instead of compressing.
        QTest::newRow("backup carrying over: writing the archive") << QStringList{"backup"} << "write:3" << false;
        QTest::newRow("backup carrying over: reading it back") << QStringList{"backup"} << "read:3" << false;
        QTest::newRow("restore: staging") << QStringList{"restore", "ARCHIVE", "--callbook", "--logs"} << "write:3" << true;
        QTest::newRow("restore: staged, before the renames") << QStringList{"restore", "ARCHIVE", "--logs"} << "rename:1" << true;
        QTest::newRow("restore: between two renames") << QStringList{"restore", "ARCHIVE", "--logs"} << "rename:2" << true;
    }
    void killedCommandsLeaveNothingBehind() {
        QFETCH(QStringList, command);
        QFETCH(QString, killAt);
        QFETCH(bool, changed);
        const QString killLibrary = qEnvironmentVariable("ZB_KILL_AT_LIBRARY");
        if (killLibrary.isEmpty()) QSKIP("ZB_KILL_AT_LIBRARY does not name the kill library (the build sets it)");
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        const Tree old = Version(1);
        const Tree current = Version(2);
        WriteTree(r.logger, old);
        r.RememberBackupFolder(r.backups);  // where the window last made backups: plain "backup" goes there
        const QStringList backup{"backup"};
        CliRun first = r.Run(backup);
        QCOMPARE(first.exitCode, 4);  // complete but for the registry: no Wine prefix here
        const QString archive = first.out.trimmed();
        QVERIFY2(QFileInfo(archive).isFile(), qPrintable(first.Text()));
        if (changed) WriteTree(r.logger, current);
        QTest::qWait(1100);  // the next backup gets a name of its own

        command.replaceInStrings("ARCHIVE", archive);
        const CliRun killed = r.Run(command, {{"LD_PRELOAD", killLibrary}, {"ZB_KILL_AT", killAt}});
        QVERIFY2(killed.crashed, qPrintable(killed.Text()));
        const QStringList folders{r.logger, r.backups};
        if (!killAt.startsWith("rename:2")) QVERIFY2(!ScratchFilesBelow(folders).isEmpty(), "no debris to clean up");

        // The next start: a backup, as a scheduled one would run.
        const CliRun next = r.Run(backup);
        QVERIFY2(next.exitCode == 4, qPrintable(next.Text()));
        QCOMPARE(ScratchFilesBelow(folders), QStringList{});
        const QString made = NewestArchive(r.backups);
        QCOMPARE(made, next.out.trimmed());
        QStringList expected = old.keys();
        QStringList entries = UnzipEntries(made);
        expected.sort();
        entries.sort();
        QCOMPARE(entries, expected);
        const Tree inBackup = PythonEntries(made);
        for (const QString& file : old.keys()) {
            const QByteArray bytes = FileBytes(r.logger + file);
            QVERIFY2(bytes == old.value(file) || bytes == current.value(file), qPrintable(file + " is neither version"));
            QVERIFY2(inBackup.value(file) == bytes, qPrintable(file + " differs in the new backup"));
        }
        // A restore's part is all or nothing until its renames start.
        if (killAt == "write:3" && command.first() == "restore") {
            for (const QString& file : old.keys()) QVERIFY2(FileBytes(r.logger + file) == current.value(file), qPrintable(file));
        }
    }

    // The writer compares the directory it reads back with the one it meant to write: an archive that
    // reads back whole but names another file than was written (a fault in the directory) is not kept.
    void aDirectoryThatReadsBackOtherwiseIsNotKept() {
        const QString killLibrary = qEnvironmentVariable("ZB_KILL_AT_LIBRARY");
        if (killLibrary.isEmpty()) QSKIP("ZB_KILL_AT_LIBRARY does not name the kill library (the build sets it)");
        CliRig r;
        if (!r.skip.isEmpty()) QSKIP(qPrintable(r.skip));
        WriteTree(r.logger, Version(1));
        const CliRun run = r.Run({"backup", "--to", r.backups}, {{"LD_PRELOAD", killLibrary}, {"ZB_KILL_AT", "misname:1"}});
        QVERIFY2(run.exitCode == 1, qPrintable(run.Text()));
        QVERIFY2(run.err.contains(QRegularExpression("The new archive did not read back whole, so it was not kept \\(entry 1 "
                                                     "is \\S+ instead of \\S+\\)")),
                 qPrintable(run.err));
        QCOMPARE(FilesIn(r.backups), QStringList{});
    }
};

QTEST_MAIN(InterruptionTest)
#include "interruption_test.moc"
