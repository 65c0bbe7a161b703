// The create command on the real window, offscreen: the archive it writes (read back by unzip and
// python's zipfile), the registry snapshots taken by the real Wine registry editor in a prefix made
// once for this executable, what is left in tmp, and the catalogue afterwards; then the edge cases --
// a backup folder typed with a trailing '/', two backups in the same second (two archives), the command's early
// ends -- and the failures: a full disk, a registry service that throws, a source that cannot be
// read. The boxes and the guard are fakes answering Yes; everything else is real.
#include "app/backup_layout.h"
#include "app/commands/run_lock.h"
#include "app/creation_label.h"
#include "archive/writer/vcl_zip.h"
#include "tests/app/support/backup_rig.h"
#include "tests/app/support/small_disk.h"
#include "tests/ui/modal_driver.h"
#include "ui/file_mask.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QSet>
#include <QRegularExpression>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace app;
using namespace app::testing;

namespace {

const QString kQuestion = QString::fromLatin1(kCreateQuestion);

QStringList Sorted(QStringList list) {
    list.sort();
    return list;
}

// A registry service that fails half-way: the first export writes its file, the second throws.
class FailingRegistry : public platform::RegistrySnapshot {
public:
    bool ExportKey(const QString& key, const QString& file) override {
        if (++calls == 2) throw std::runtime_error("The registry editor could not be started");
        return fallback.ExportKey(key, file);
    }
    void ImportFile(const QString&) override {}
    fakes::RecordingRegistrySnapshot fallback;
    int calls = 0;
};


}  // namespace

class BackupCreateTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fakes::WineTestPrefix> wine_;
    int loggers_ = 0;

    // A fresh logger folder (with a blank in its name) inside the prefix's drive_c.
    QString NewLoggerInPrefix() {
        return wine_->Prefix() + QStringLiteral("/drive_c/ZORVEL Log3 %1/").arg(++loggers_);
    }

private slots:
    void initTestCase() {
        wine_ = std::make_unique<fakes::WineTestPrefix>();
        if (!wine_->SkipReason().isEmpty()) {
            qWarning("tests with real registry snapshots will be skipped: %s", qPrintable(wine_->SkipReason()));
            return;
        }
        KeepWineServer(*wine_);
        const QString failed = SetLoggerKeys(*wine_);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));
    }

    // The whole command with real snapshots: every listed file once with its bytes, nothing else, the
    // snapshots as UTF-16 exports holding the keys, tmp empty afterwards, the new backup selected.
    void createWritesTheBackupOfTheLoggerFolder() {
        if (!wine_->SkipReason().isEmpty()) QSKIP(qPrintable(wine_->SkipReason()));
        BackupRig r(NewLoggerInPrefix());
        const Tree tree = LoggerFiles();
        WriteTree(r.logger, tree);
        testing_support::WriteFile((r.logger + "tmp/stale.txt").toStdString(), "left over");
        testing_support::WriteFile((r.logger + "tmp/Backup.ini").toStdString(), "[x]");
        r.realRegistry = true;
        TfmMain& w = r.Start();
        QVERIFY(w.Zip->RecreateDirs);
        QCOMPARE(w.Zip->OverwriteMode, archive::Always);
        QVERIFY(w.Zip->StorePaths());
        QCOMPARE(w.Zip->ZipAction, archive::zaReplace);
        QCOMPARE(&w.Zip->host(), &r.rig.host);
        int fileMax = 0, totalMax = 0, totalMoves = 0;
        QSet<int> fileValues;  // DB.mdb is compressed on the workers: its bar still moves step by step
        connect(w.ProgressBar1, &QProgressBar::valueChanged, [&](int v) {
            fileMax = qMax(fileMax, v);
            fileValues.insert(v);
        });
        connect(w.ProgressBar2, &QProgressBar::valueChanged, [&](int v) {
            totalMax = qMax(totalMax, v);
            ++totalMoves;
        });
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        r.Create();
        const QDateTime after = QDateTime::currentDateTime().addSecs(1);

        QVERIFY2(r.rig.errors.isEmpty(), qPrintable(r.rig.errors.join('\n')));
        const QString archive = r.OnlyArchive();
        QVERIFY2(!archive.isEmpty(), qPrintable(r.Archives().join(',')));
        const QString name = QFileInfo(archive).fileName();
        QVERIFY(QRegularExpression("^zorvel3_\\d{14}\\.zip$").match(name).hasMatch());
        const QDateTime stamp = QDateTime::fromString(name.mid(8, 14), "yyyyMMddhhmmss");
        QVERIFY(stamp >= before.addMSecs(-before.time().msec()) && stamp <= after);
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{kQuestion});
        QCOMPARE(r.rig.fakes.dialogs.Informations(), QStringList{"Created file: " + r.backups + "/" + name});

        // The entries: the snapshots first (table order), each listed file once, nothing else.
        const QStringList entries = UnzipEntries(archive);
        QCOMPARE(entries.mid(0, 2), (QStringList{"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg"}));
        QCOMPARE(Sorted(entries), Sorted(QStringList{"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg"} +
                                         BackedUpFiles()));
        const Tree read = PythonEntries(archive);
        QVERIFY2(!read.contains("<error>"), read.value("<error>").constData());
        for (const QString& file : BackedUpFiles()) QVERIFY2(read.value(file) == tree.value(file), qPrintable(file));

        const QString log = Utf16Text(read.value("tmp/zorvel3_Registry.reg"));
        QVERIFY2(log.startsWith("Windows Registry Editor Version 5.00"), "not a UTF-16 registry export");
        QVERIFY(log.contains("[HKEY_CURRENT_USER\\Software\\ZORVEL_log3]"));
        QVERIFY(log.contains("\"Call\"=\"OE1ABC\""));
        QVERIFY(log.contains("\"Operator\"=\"" + kOperator + "\""));
        QVERIFY(log.contains("[HKEY_CURRENT_USER\\Software\\ZORVEL_log3\\TfmEditNewQso]"));
        QVERIFY(log.contains("\"Left\"=dword:00000206"));
        const QString server = Utf16Text(read.value("tmp/ZORVEL_server_Registry.reg"));
        QVERIFY(server.contains("[HKEY_CURRENT_USER\\Software\\ZORVEL_server]"));
        QVERIFY(server.contains("\"Port\"=dword:00001c84"));
        QVERIFY(server.contains("\"Host\"=\"cluster.example.org\""));

        // Nothing of ours left in tmp (a file we did not make stays, and stays out of the backup); the
        // window usable, the new backup selected and its time shown.
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{"stale.txt"});
        QCOMPARE(FileBytes(r.logger + "tmp/stale.txt"), QByteArray("left over"));
        QVERIFY(w.Panel3->isEnabled());
        QCOMPARE(w.FileListBox1->SelectedFileName(), r.backups + "/" + name);
        QCOMPARE(w.Label1->text(), CreationLabel(name));
        QVERIFY(w.RectoreBT->isEnabled());
        QCOMPARE(w.StatusText(), "Created file: " + r.backups + "/" + name);
        QCOMPARE(fileMax, 100);
        QCOMPARE(totalMax, 100);
        QVERIFY(totalMoves > 3);
        QVERIFY2(fileValues.size() > 50, qPrintable(QString::number(fileValues.size())));
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.ProgressBar2->value(), 0);
    }

    // "c:\Backup\" + "\zorvel3_..." on the logger's platform: the doubled separator still names a
    // file in that folder.
    void backupFolderTypedWithATrailingSeparator() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        r.rig.PlantStored("SelectedPathName", r.backups + "/");
        r.clock = QDateTime(QDate(2026, 12, 6), QTime(10, 38, 0));
        TfmMain& w = r.Start();
        QCOMPARE(w.DirectoryEdit1->Text(), r.backups + "/");
        r.Create();
        QVERIFY2(r.rig.errors.isEmpty(), qPrintable(r.rig.errors.join('\n')));
        QCOMPARE(r.rig.fakes.dialogs.Informations(),
                 QStringList{"Created file: " + r.backups + "//zorvel3_20261206103800.zip"});
        QCOMPARE(r.Archives(), QStringList{"zorvel3_20261206103800.zip"});
        QCOMPARE(FilesIn(r.backups), QStringList{"zorvel3_20261206103800.zip"});
        QCOMPARE(w.Label1->text(), QStringLiteral("06.12.2026 at 10:38"));
        QCOMPARE(Sorted(UnzipEntries(r.OnlyArchive())),
                 Sorted(QStringList{"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg"} + BackedUpFiles()));
    }

    // Two backups in the same second are two archives: the second takes the next second's name, and the
    // first stays as it was made (a file gone since is still in it).
    void twoBackupsInTheSameSecondAreTwoArchives() {
        BackupRig r;
        const Tree tree = LoggerFiles();
        WriteTree(r.logger, tree);
        r.clock = QDateTime(QDate(2025, 1, 1), QTime(0, 0, 0));
        r.Start();
        r.Create();
        const QString archive = r.OnlyArchive();
        QVERIFY(!archive.isEmpty());
        const QByteArray first = FileBytes(archive);

        testing_support::WriteFile((r.logger + "Config.ini").toStdString(), "[Main]\r\nCall=DL9XYZ\r\n");
        QVERIFY(QFile::remove(r.logger + "Card.qsl"));
        testing_support::WriteFile((r.logger + "New.txt").toStdString(), "new");
        r.Create();

        QVERIFY2(r.rig.errors.isEmpty(), qPrintable(r.rig.errors.join('\n')));
        QCOMPARE(FilesIn(r.backups), QStringList({"zorvel3_20250101000000.zip", "zorvel3_20250101000001.zip"}));
        QCOMPARE(FileBytes(archive), first);
        const Tree read = PythonEntries(r.backups + "/zorvel3_20250101000001.zip");
        QVERIFY(!read.contains("<error>"));
        QCOMPARE(read.value("Config.ini"), QByteArray("[Main]\r\nCall=DL9XYZ\r\n"));
        QVERIFY(!read.contains("Card.qsl"));
        QCOMPARE(read.value("New.txt"), QByteArray("new"));
        QCOMPARE(PythonEntries(archive).value("Card.qsl"), tree.value("Card.qsl"));
        QCOMPARE(r.rig.fakes.dialogs.Informations().size(), 2);
        QCOMPARE(r.W().FileListBox1->Count(), 2);
        QCOMPARE(r.W().FileListBox1->ItemIndex(), 1);
    }

    // The command's early ends: each leaves no archive, no box beyond its own, and a usable window.
    void noAnswerMakesNothing() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        testing_support::WriteFile((r.logger + "tmp/stale.txt").toStdString(), "kept");
        r.rig.fakes.dialogs.answers = {false};
        TfmMain& w = r.Start();
        r.Create();
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{kQuestion});
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(r.rig.fakes.registry.exports.empty());
        QVERIFY(r.Archives().isEmpty());
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{"stale.txt"});
        QVERIFY(w.Panel3->isEnabled());
    }

    // Another run of the program holds the logger folder: the window waits (counted down in the status
    // bar), goes ahead when the other run ends, and otherwise gives up with a message and makes nothing.
    void anotherRunIsWaitedForThenRefused() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        MainWindowServices services = r.Services();
        services.runLockWaitSeconds = 2;
        TfmMain& w = r.Start(std::move(services));
        const QString status = w.StatusText();
        QStringList shown;
        r.rig.fakes.sleeper.onSleep = [&](int) { shown.append(w.StatusText()); };

        archive::fs::FolderLock::Result result{};
        auto other = std::make_unique<archive::fs::FolderLock>(
            archive::fs::FolderLock::Try(r.logger.toStdString(), true, result));
        QVERIFY(other->Held());
        r.Create();
        QCOMPARE(r.rig.fakes.dialogs.Warnings(), QStringList{BusyRunText(r.logger)});
        QVERIFY(r.Archives().isEmpty());
        QVERIFY(r.rig.fakes.registry.exports.empty());
        QVERIFY(w.Panel3->isEnabled());
        QCOMPARE(w.StatusText(), status);
        QCOMPARE(shown.first(), "Waiting for another ZORVEL_Backup run to finish with " + r.logger.chopped(1) + ": 2 s");
        QCOMPARE(shown.last(), "Waiting for another ZORVEL_Backup run to finish with " + r.logger.chopped(1) + ": 1 s");

        r.rig.fakes.sleeper.onSleep = [&](int count) {
            if (count >= 3) other.reset();
        };
        r.Create();
        QCOMPARE(r.rig.fakes.dialogs.Warnings().size(), 1);
        QCOMPARE(r.Archives().size(), 1);
    }

    void loggerStillRunningEndsTheProgram() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        bool running = false;
        r.rig.fakes.processes.onList = [&](int) {
            std::vector<platform::ProcessEntry> list{{"bash", 1}};
            if (running) list.push_back({"ZORVEL_Log3.exe", 4242});
            return list;
        };
        TfmMain& w = r.Start();
        running = true;
        r.rig.fakes.dialogs.answers = {false};  // "You must be close ..." -> No
        r.Create();
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{QString::fromLatin1(kCloseLoggerQuestion)});
        QTRY_VERIFY(!w.isVisible());
        QVERIFY(r.Archives().isEmpty());
    }

    void missingBackupFolderOpensThePicker() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        TfmMain& w = r.Start();
        QVERIFY(QDir(r.backups).removeRecursively());
        bool picker = false;
        WhenModal<QDialog>([&](QDialog* dialog) {
            picker = true;
            dialog->reject();
        });
        r.Create();
        QVERIFY(picker);
        QVERIFY(r.rig.fakes.dialogs.boxes.empty());
        QVERIFY(r.rig.fakes.registry.exports.empty());
        QVERIFY(w.Panel3->isEnabled());
    }

    // tmp cannot be made (a file has its name): the command ends without a word, the window usable.
    void tmpThatCannotBeMadeEndsSilently() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        testing_support::WriteFile((r.logger + "tmp").toStdString(), "a file, not a folder");
        TfmMain& w = r.Start();
        r.Create();
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{kQuestion});
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(r.rig.errors.isEmpty());
        QVERIFY(r.Archives().isEmpty());
        QVERIFY(w.Panel3->isEnabled());
    }

    // While the archive is being written the backups folder holds it only under a scratch name the
    // catalogue's mask never matches; an archive of the same second is never touched (the new one
    // takes the next second's name).
    void aPartialArchiveIsNeverListed() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        r.clock = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
        TfmMain& w = r.Start();
        r.Create();
        const QString archive = r.OnlyArchive();
        const QByteArray old = FileBytes(archive);
        testing_support::WriteFile((r.logger + "DB/Logs.mdb").toStdString(), testing_support::TextBytes(400000, 99));

        int looks = 0;
        QStringList seen;
        bool oldIntact = true;
        connect(w.ProgressBar2, &QProgressBar::valueChanged, [&](int v) {
            if (v == 0) return;
            ++looks;
            for (const QString& file : FilesIn(r.backups)) {
                if (!seen.contains(file)) seen.append(file);
                if (file != "zorvel3_20260102030405.zip")
                    QVERIFY2(!ui::MatchesFileMask(QString::fromLatin1(kBackupMask), file), qPrintable(file));
            }
            if (FileBytes(archive) != old) oldIntact = false;
        });
        r.Create();
        QVERIFY(looks > 0);
        QVERIFY2(seen.size() == 2, qPrintable(seen.join(',')));  // the archive and its scratch file
        QVERIFY(oldIntact);
        QCOMPARE(FilesIn(r.backups), QStringList({"zorvel3_20260102030405.zip", "zorvel3_20260102030406.zip"}));
        QCOMPARE(FileBytes(archive), old);
    }

    // A full disk: the writer's "Not enough room to write archive" reaches the error box, the folder
    // holds nothing new (no partial archive, listed or not), tmp holds no scratch file, the window
    // is usable and the catalogue shows the folder as it is.
    void fullDiskDuringCreate() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        testing_support::WriteFile((r.logger + "DB/Logs.mdb").toStdString(), testing_support::RandomBytes(400000, 5));
        SmallDisk disk(r.backups, 128);
        if (!disk.Mounted()) QSKIP("a small tmpfs cannot be mounted here (needs root and mount rights)");
        testing_support::WriteFile((r.backups + "/zorvel3_20200101000000.zip").toStdString(), "PK\x05\x06 old");
        r.clock = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5));
        TfmMain& w = r.Start();
        QCOMPARE(w.FileListBox1->Count(), 1);
        r.Create();
        // The engine's sentence first, then which file on which disk, and that nothing old was touched.
        QCOMPARE(r.rig.errors.size(), 1);
        const QString error = r.rig.errors[0];
        QVERIFY2(error.startsWith("Not enough room to write archive\n\nThe disk mounted at " + r.backups), qPrintable(error));
        QVERIFY2(error.contains("is full: " + r.backups + "/zorvel3_20260102030405.zip could not be written. "
                                "The existing backups were left unchanged."),
                 qPrintable(error));
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QCOMPARE(FilesIn(r.backups), QStringList{"zorvel3_20200101000000.zip"});
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});
        QVERIFY(w.Panel3->isEnabled());
        QCOMPARE(w.FileListBox1->Count(), 1);
        QCOMPARE(w.FileListBox1->SelectedFileName(), r.backups + "/zorvel3_20200101000000.zip");
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.ProgressBar2->value(), 0);
    }

    // A registry service that throws half-way: the error is shown, the snapshot already written is
    // removed, nothing is archived, and the next backup works.
    void registryFailureLeavesTheWindowUsable() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        FailingRegistry registry;
        MainWindowServices services = r.Services();
        services.platform.registry = &registry;
        TfmMain& w = r.Start(std::move(services));
        r.Create();
        QCOMPARE(r.rig.errors, QStringList{"The registry editor could not be started"});
        QVERIFY(r.Archives().isEmpty());
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});
        QVERIFY(w.Panel3->isEnabled());
        r.Create();
        QCOMPARE(r.Archives().size(), 1);
        QCOMPARE(r.rig.errors.size(), 1);
    }

    // A listed file that cannot be read (here a FIFO named like a data file: no file to back up) is
    // not in the backup, and the box that names the backup says so instead of passing it for complete.
    void aFileThatCannotBeReadIsNamedWithTheBackup() {
        BackupRig r;
        WriteTree(r.logger, LoggerFiles());
        QCOMPARE(::mkfifo(QFile::encodeName(r.logger + "Rotor.dat").constData(), 0644), 0);
        TfmMain& w = r.Start();
        r.Create();
        QCOMPARE(r.Archives().size(), 1);
        QVERIFY(!UnzipEntries(r.OnlyArchive()).contains("Rotor.dat"));
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(r.rig.errors.isEmpty());
        QCOMPARE(r.rig.fakes.dialogs.Warnings(),
                 QStringList{"Created file: " + r.OnlyArchive() + "\n\nThis backup is incomplete:\n" + r.logger +
                             "Rotor.dat: it could not be read"});
        QVERIFY(w.Panel3->isEnabled());
    }

    void cleanupTestCase() { wine_.reset(); }
};

QTEST_MAIN(BackupCreateTest)
#include "create_handler_test.moc"
