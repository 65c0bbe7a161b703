// The restore command on the real window, offscreen. A backup is made once by the window itself
// (with real registry snapshots from a Wine prefix made once for this executable); each test then
// lets a logger folder drift away from it -- every file changed, some deleted, the registry changed
// -- and restores chosen parts. Checked: exactly the chosen files come back (nothing else is written,
// no folder is added), the registry is imported only with configuration (read back with
// `wine reg query`), tmp ends empty; then the edge cases (a db folder written in lower case, two
// restores in one run, nothing matching) and the failures (archives that are damaged or no archive,
// a damaged entry, the early ends). The boxes and the guard are fakes answering Yes.
#include "app/backup_layout.h"
#include "tests/app/support/backup_rig.h"
#include "tests/support/zip_builder.h"
#include "tests/ui/modal_driver.h"

#include <QCheckBox>
#include <QDialog>
#include <QProgressBar>
#include <QRegularExpression>
#include <QtTest>

using namespace app;
using namespace app::testing;

namespace {

const QString kQuestion = QString::fromLatin1(kRestoreQuestion);
const QString kDone = QString::fromLatin1(kRestoreDone);

// The boxes of `restores` restores that each went whole, each naming the backup made before it in the
// backup folder (the folder the restored archive lies in).
// The texts with the line that names the backup made before each restore taken off (each must have it).
QStringList WithoutUndo(const QStringList& texts) {
    static const QRegularExpression undo("\n\nThe files as they were before this restore are kept in [^\n]*/zorvel3-before-restore-\\d{14}\\.zip\\.$");
    QStringList stripped;
    for (QString text : texts) {
        if (!undo.match(text).hasMatch()) return {QStringLiteral("<no backup named before the restore> ") + text};
        stripped.append(text.remove(undo));
    }
    return stripped;
}

bool DoneWithUndo(const QStringList& informations, const QString& backups, int restores) {
    const QRegularExpression done("^" + QRegularExpression::escape(kDone + "\n\nThe files as they were before this restore are kept in " +
                                                                   backups + "/zorvel3-before-restore-") + "\\d{14}\\.zip\\.$");
    if (informations.size() != restores) return false;
    for (const QString& text : informations)
        if (!done.match(text).hasMatch()) return false;
    return true;
}
const QString kArchiveName = QStringLiteral("zorvel3_20261206103800.zip");

QByteArray Drifted(const QString& file) { return "changed since the backup: " + file.toUtf8(); }
const QStringList kDeletedSinceBackup = {"DB/Logs.ldb", "DB/Awards.ldb", "Card.qsl"};

// The logger folder as it is when the user restores: every file changed, a few deleted.
Tree DriftedFiles() {
    Tree tree;
    for (const QString& file : LoggerFiles().keys())
        if (!kDeletedSinceBackup.contains(file)) tree[file] = Drifted(file);
    return tree;
}

const QStringList kAwardsFiles = {"DB/Awards.ldb", "DB/Awards.mdb"};
const QStringList kDatabaseFiles = {"DB/DB.mdb"};
const QStringList kLogsFiles = {"DB/Logs.ldb", "DB/Logs.mdb"};
const QStringList kConfigurationFiles = {"Award.aal",  "Bands.dat", "Card.qsl", "Config.ini", "LanguageFile.ini",
                                         "LanguageFileEnglish.lng", "Notes.md", "ReadMe.txt", "Rig.sys", "Skin.lyr"};

// Compares the logger folder with "drifted, except `restored`, which are as in the backup": the same
// files (no more, no fewer) with the expected bytes. Returns the first difference, or empty.
QString CompareLogger(const QString& logger, const QStringList& restored) {
    const Tree original = LoggerFiles();
    Tree expected = DriftedFiles();
    for (const QString& file : restored) expected[file] = original.value(file);
    const QStringList actual = FilesBelow(logger);
    if (actual != QStringList(expected.keys()))
        return "files: " + actual.join(',') + "\n expected: " + QStringList(expected.keys()).join(',');
    for (auto it = expected.cbegin(); it != expected.cend(); ++it)
        if (FileBytes(logger + it.key()) != it.value()) return "bytes of " + it.key();
    return {};
}

}  // namespace

class BackupRestoreTest : public QObject {
    Q_OBJECT

    std::unique_ptr<fakes::WineTestPrefix> wine_;
    QString master_;  // the backup every test restores from (made by the window)
    int loggers_ = 0;

    QString NewLoggerInPrefix() {
        return wine_->Prefix() + QStringLiteral("/drive_c/ZORVEL Log3 %1/").arg(++loggers_);
    }

    // A rig whose backups folder holds the master backup under `name` and whose logger folder holds
    // the drifted files.
    void Prepare(BackupRig& r, const QString& name = kArchiveName) {
        WriteTree(r.logger, DriftedFiles());
        QVERIFY(QFile::copy(master_, r.backups + "/" + name));
    }

    void Check(TfmMain& w, const QList<QCheckBox*>& boxes) {
        for (QCheckBox* box : {w.cbAwards, w.cbDB, w.cbLogs, w.cbConfiguration}) box->setChecked(boxes.contains(box));
    }

private slots:
    void initTestCase() {
        wine_ = std::make_unique<fakes::WineTestPrefix>();
        if (!wine_->SkipReason().isEmpty())
            QSKIP(qPrintable("every restore test needs a backup with real snapshots: " + wine_->SkipReason()));
        KeepWineServer(*wine_);
        const QString failed = SetLoggerKeys(*wine_);
        QVERIFY2(failed.isEmpty(), qPrintable(failed));

        BackupRig source(wine_->Prefix() + "/drive_c/Source Log/");
        WriteTree(source.logger, LoggerFiles());
        source.realRegistry = true;
        source.clock = QDateTime(QDate(2026, 12, 6), QTime(10, 38, 0));
        source.Start();
        source.Create();
        QVERIFY2(source.rig.errors.isEmpty(), qPrintable(source.rig.errors.join('\n')));
        master_ = wine_->Scratch() + "/master.zip";
        QVERIFY(QFile::copy(source.OnlyArchive(), master_));
        const QStringList entries = UnzipEntries(master_);
        QVERIFY(entries.contains("tmp/zorvel3_Registry.reg"));
        QVERIFY(entries.contains("tmp/ZORVEL_server_Registry.reg"));
    }

    // Each box alone brings back exactly its files into the logger folder as it is (DB stays the one
    // database folder); the snapshots pass through tmp and go again; the registry is imported only
    // with configuration.
    void eachCategoryAloneRestoresExactlyItsFiles_data() {
        QTest::addColumn<int>("box");
        QTest::addColumn<QStringList>("restored");
        QTest::newRow("cbAwards") << 0 << kAwardsFiles;
        QTest::newRow("cbDB") << 1 << kDatabaseFiles;
        QTest::newRow("cbLogs") << 2 << kLogsFiles;
        QTest::newRow("cbConfiguration") << 3 << kConfigurationFiles;
    }
    void eachCategoryAloneRestoresExactlyItsFiles() {
        QFETCH(int, box);
        QFETCH(QStringList, restored);
        QVERIFY(SetLoggerKeys(*wine_).isEmpty());
        QCOMPARE(wine_->Wine({"reg", "add", kLogKey, "/v", "Call", "/d", "DL9XYZ", "/f"}).exitCode, 0);
        QCOMPARE(wine_->Wine({"reg", "delete", kServerKey, "/f"}).exitCode, 0);

        BackupRig r(NewLoggerInPrefix());
        Prepare(r);
        r.realRegistry = true;
        TfmMain& w = r.Start();
        QCOMPARE(w.FileListBox1->SelectedFileName(), r.backups + "/" + kArchiveName);
        Check(w, {QList<QCheckBox*>{w.cbAwards, w.cbDB, w.cbLogs, w.cbConfiguration}.at(box)});
        // The bars go back to 0 at the end of each category: what tmp holds then.
        QStringList seenInTmp;
        connect(w.ProgressBar2, &QProgressBar::valueChanged, [&](int v) {
            if (v == 0)
                for (const QString& file : FilesIn(r.logger + "tmp"))
                    if (!seenInTmp.contains(file)) seenInTmp.append(file);
        });
        r.Restore();
        seenInTmp.sort();
        QCOMPARE(seenInTmp, (QStringList{"ZORVEL_server_Registry.reg", "zorvel3_Registry.reg"}));
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});

        QVERIFY2(r.rig.errors.isEmpty(), qPrintable(r.rig.errors.join('\n')));
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{kQuestion});
        QVERIFY2(DoneWithUndo(r.rig.fakes.dialogs.Informations(), r.backups, 1), qPrintable(r.rig.fakes.dialogs.Informations().join('|')));
        const QString difference = CompareLogger(r.logger, restored);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
        QCOMPARE(QDir(r.logger).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
                 (QStringList{"DB", "Sub", "tmp"}));
        QVERIFY(w.Panel3->isEnabled());
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.ProgressBar2->value(), 0);

        const bool configuration = box == 3;
        QCOMPARE(QueryValue(*wine_, kLogKey, "Call").contains("OE1ABC"), configuration);
        QCOMPARE(QueryValue(*wine_, kLogKey, "Call").contains("DL9XYZ"), !configuration);
        QCOMPARE(QueryValue(*wine_, kServerKey, "Port").contains("0x1c84"), configuration);
        if (configuration) {
            // `reg query` prints in the console's code page: the non-ASCII value is read from an export.
            QVERIFY(ExportedKey(*wine_, kLogKey).contains("\"Operator\"=\"" + kOperator + "\""));
            QVERIFY(QueryValue(*wine_, kLogKey + "\\TfmEditNewQso", "Left").contains("0x206"));
        }
    }

    // The database stored as DB/ goes into the folder the logger has, whatever its case on disk; no
    // second folder appears.
    void databaseGoesIntoAFolderWrittenInLowerCase() {
        BackupRig r;
        QVERIFY(QDir().rmdir(r.logger + "DB"));  // the rig's own, empty
        Tree drifted;
        for (auto [file, bytes] : DriftedFiles().asKeyValueRange())
            drifted[file.startsWith("DB/") ? "db/" + file.mid(3) : file] = bytes;
        WriteTree(r.logger, drifted);
        QVERIFY(QFile::copy(master_, r.backups + "/" + kArchiveName));
        TfmMain& w = r.Start();
        Check(w, {w.cbAwards, w.cbDB, w.cbLogs});
        r.Restore();
        QVERIFY(r.rig.errors.isEmpty());
        QCOMPARE(QDir(r.logger).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name),
                 (QStringList{"Sub", "db", "tmp"}));
        const Tree original = LoggerFiles();
        for (const QString& file : kAwardsFiles + kDatabaseFiles + kLogsFiles)
            QVERIFY2(FileBytes(r.logger + "db/" + file.mid(3)) == original.value(file), qPrintable(file));
        QCOMPARE(FileBytes(r.logger + "db/CALLS"), Drifted("DB/CALLS"));
    }

    // Configuration first (folders recreated), then the logs alone: they still land straight in DB.
    // The snapshots are imported in their order, and only the first time.
    void twoRestoresInOneRunConfigurationFirst() {
        BackupRig r;
        Prepare(r);
        TfmMain& w = r.Start();
        Check(w, {w.cbConfiguration});
        r.Restore();
        QCOMPARE(r.rig.fakes.registry.imports,
                 (QStringList{r.logger + "tmp/zorvel3_Registry.reg", r.logger + "tmp/ZORVEL_server_Registry.reg"}));
        // The list shows the backup made before the restore, and the restored archive is still the one
        // selected, so that a second restore takes it again.
        QCOMPARE(w.FileListBox1->Count(), 2);
        QCOMPARE(w.FileListBox1->SelectedFileName(), r.backups + "/" + kArchiveName);
        QVERIFY(w.RectoreBT->isEnabled());
        Check(w, {w.cbLogs});
        r.Restore();
        QVERIFY(r.rig.errors.isEmpty());
        QVERIFY(DoneWithUndo(r.rig.fakes.dialogs.Informations(), r.backups, 2));
        QCOMPARE(w.FileListBox1->Count(), 3);
        QCOMPARE(r.rig.fakes.registry.imports.size(), 2);
        const QString difference = CompareLogger(r.logger, kConfigurationFiles + kLogsFiles);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }

    // Parts the backup does not hold are named instead of passing for restored; nothing changes.
    void partsTheBackupDoesNotHoldAreNamed() {
        BackupRig r;
        WriteTree(r.logger, DriftedFiles());
        testing_support::WriteFile((r.rig.Root() + "/other/other.bin").toStdString(), "nothing of a logger");
        const auto zipped = testing_support::Run("cd " + testing_support::ShellQuote((r.rig.Root() + "/other").toStdString()) +
                                                 " && zip -q " + testing_support::ShellQuote((r.backups + "/" + kArchiveName).toStdString()) +
                                                 " other.bin");
        QCOMPARE(zipped.exitCode, 0);
        TfmMain& w = r.Start();
        Check(w, {w.cbAwards, w.cbConfiguration});
        r.Restore();
        QVERIFY(r.rig.errors.isEmpty());
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QCOMPARE(WithoutUndo(r.rig.fakes.dialogs.Warnings()),
                 QStringList{"Not everything was restored. These files were left as they were:\n"
                             "\"Awards.mdb  (Statistic files)\": not in this backup\n"
                             "\"Configuration files (*.ini, *.dat.*, *.qsl...)\": not in this backup\n"
                             "Registry key HKEY_CURRENT_USER\\Software\\ZORVEL_log3: not in this backup\n"
                             "Registry key HKEY_CURRENT_USER\\Software\\ZORVEL_server: not in this backup"});
        QVERIFY(r.rig.fakes.registry.imports.isEmpty());
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});
    }

    // A damaged archive, or no archive at all: the reader's error reaches the error box, nothing in
    // the logger folder changes, tmp is empty, and the window takes the next restore.
    void damagedArchiveShowsTheErrorAndTheWindowStaysUsable_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("not a zip") << "text";
        QTest::newRow("cut in half") << "truncate";
        QTest::newRow("central directory overwritten") << "directory";
    }
    void damagedArchiveShowsTheErrorAndTheWindowStaysUsable() {
        QFETCH(QString, damage);
        BackupRig r;
        Prepare(r);
        const QString archive = r.backups + "/" + kArchiveName;
        QByteArray bytes = FileBytes(master_);
        if (damage == "text") bytes = "These are not the backups you are looking for.\n";
        if (damage == "truncate") bytes.truncate(bytes.size() / 2);
        if (damage == "directory") {
            const QByteArray central("PK\x01\x02", 4);
            for (qsizetype at = bytes.indexOf(central); at >= 0; at = bytes.indexOf(central, at + 4))
                bytes.replace(at, 4, "XXXX");
        }
        testing_support::WriteFile(archive.toStdString(), bytes.toStdString());
        TfmMain& w = r.Start();
        Check(w, {w.cbAwards, w.cbDB, w.cbLogs, w.cbConfiguration});
        r.Restore();

        QCOMPARE(r.rig.errors.size(), 1);
        const QString error = r.rig.errors[0].section(QStringLiteral("\n\nThe files as they were before"), 0, 0);
        QVERIFY2(error == "Incomplete Zip File" || error == "Not a valid zip file!", qPrintable(r.rig.errors[0]));
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
        QVERIFY(w.Panel3->isEnabled());

        QVERIFY(QFile::remove(archive));
        QVERIFY(QFile::copy(master_, archive));
        r.Restore();
        QCOMPARE(r.rig.errors.size(), 1);
        QVERIFY(DoneWithUndo(r.rig.fakes.dialogs.Informations(), r.backups, 1));
        QVERIFY(CompareLogger(r.logger, kAwardsFiles + kDatabaseFiles + kLogsFiles + kConfigurationFiles).isEmpty());
    }

    // An entry whose data is damaged: its part is not restored at all (the file it would replace stays
    // byte for byte as it was, its companion is not restored either, no scratch file is left), the other
    // parts are, and one warning names both files with the reason instead of "Restore backup".
    void aDamagedEntryLeavesItsWholePartAsItWas() {
        BackupRig r;
        Prepare(r);
        const QString archive = r.backups + "/" + kArchiveName;
        const auto [start, length] = EntryData(archive, "DB/Logs.mdb");
        QVERIFY(start > 0 && length > 100);
        QByteArray bytes = FileBytes(archive);
        for (qint64 i = start + length / 2; i < start + length / 2 + 8; ++i) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
        QVERIFY(QFile::remove(archive));
        testing_support::WriteFile(archive.toStdString(), bytes.toStdString());
        TfmMain& w = r.Start();
        Check(w, {w.cbLogs, w.cbAwards});
        r.Restore();

        QCOMPARE(FileBytes(r.logger + "DB/Logs.mdb"), Drifted("DB/Logs.mdb"));
        QCOMPARE(FilesIn(r.logger + "DB"), (QStringList{".Lock", "Awards.ldb", "Awards.mdb", "CALLS", "DB.mdb", "Logs.mdb"}));
        QCOMPARE(FileBytes(r.logger + "DB/Awards.mdb"), LoggerFiles().value("DB/Awards.mdb"));
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(r.rig.errors.isEmpty());
        QCOMPARE(WithoutUndo(r.rig.fakes.dialogs.Warnings()),
                 QStringList{"Not everything was restored. These files were left as they were:\n"
                             "DB/Logs.mdb: damaged in the backup (CRC or size mismatch)\n"
                             "DB/Logs.ldb: not restored, because not all files of \"Logs.mdb (Logs files)\" could be"});
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});
        QVERIFY(w.Panel3->isEnabled());
    }

    // Why a file was not restored: a name that would reach outside the logger folder, a read-only
    // target, a folder in the way, an entry encrypted in the backup. Each part stays as it was, and the
    // registry is not imported when the configuration could not be restored whole.
    void eachReasonAFileWasNotRestoredIsNamed() {
        BackupRig r;
        WriteTree(r.logger, DriftedFiles());
        testing_support::ZipBuilder b;
        b.Stored("DB/Logs.mdb", "logs").Stored("DB/logs.x/../../../Evil.txt", "outside");
        b.Stored("DB/Awards.mdb", "awards").Stored("DB/Awards.ldb", "lock").Stored("Config.ini", "[new]");
        testing_support::ZipEntryRecipe secret;
        secret.name = "DB/DB.mdb";
        secret.data = "callbook";
        secret.password = "pw";
        secret.encrypt = true;
        b.Add(secret);
        testing_support::WriteFile((r.backups + "/" + kArchiveName).toStdString(), b.Build());
        QVERIFY(QFile(r.logger + "DB/Awards.mdb").setPermissions(QFileDevice::ReadOwner));
        QVERIFY(QFile(r.logger + "Config.ini").setPermissions(QFileDevice::ReadOwner));
        QVERIFY(QDir().mkpath(r.logger + "DB/Awards.ldb"));
        TfmMain& w = r.Start();
        Check(w, {w.cbAwards, w.cbDB, w.cbLogs, w.cbConfiguration});
        r.Restore();
        QVERIFY(QDir().rmdir(r.logger + "DB/Awards.ldb"));
        QVERIFY(r.rig.errors.isEmpty());
        QCOMPARE(WithoutUndo(r.rig.fakes.dialogs.Warnings()),
                 QStringList{"Not everything was restored. These files were left as they were:\n"
                             "DB/Awards.ldb: it cannot be written there\n"
                             "DB/Awards.mdb: the file on disk is read-only\n"
                             "DB/DB.mdb: encrypted in the backup\n"
                             "DB/logs.x/../../../Evil.txt: refused: its name in the backup reaches outside the logger "
                             "folder\n"
                             "DB/Logs.mdb: not restored, because not all files of \"Logs.mdb (Logs files)\" could be\n"
                             "Config.ini: the file on disk is read-only\n"
                             "Registry key HKEY_CURRENT_USER\\Software\\ZORVEL_log3: not imported, because the "
                             "configuration could not be restored whole\n"
                             "Registry key HKEY_CURRENT_USER\\Software\\ZORVEL_server: not imported, because the "
                             "configuration could not be restored whole"});
        QVERIFY(r.rig.fakes.registry.imports.isEmpty());
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
        QVERIFY(!QFileInfo::exists(r.rig.Root() + "/Evil.txt"));
    }

    // The registry editor fails: the files are restored, and the keys are named as not imported, why.
    void aRegistryThatCannotBeImportedIsNamed() {
        BackupRig r;
        Prepare(r);
        r.rig.fakes.registry.problem = QStringLiteral("regedit failed with exit code 3");
        TfmMain& w = r.Start();
        Check(w, {w.cbConfiguration});
        r.Restore();
        QCOMPARE(WithoutUndo(r.rig.fakes.dialogs.Warnings()),
                 QStringList{"Not everything was restored. These files were left as they were:\n"
                             "Registry key HKEY_CURRENT_USER\\Software\\ZORVEL_log3: not imported: regedit failed with exit code 3\n"
                             "Registry key HKEY_CURRENT_USER\\Software\\ZORVEL_server: not imported: regedit failed with exit code 3"});
        QVERIFY(CompareLogger(r.logger, kConfigurationFiles).isEmpty());
    }

    // The registry service fails while importing: the error is shown, the snapshots unpacked into tmp
    // are removed all the same, and the window is usable.
    void registryFailureDuringImport() {
        class ThrowingImport : public platform::RegistrySnapshot {
        public:
            bool ExportKey(const QString&, const QString&) override { return false; }
            void ImportFile(const QString&) override { throw std::runtime_error("The registry editor could not be started"); }
        } registry;
        BackupRig r;
        Prepare(r);
        MainWindowServices services = r.Services();
        services.platform.registry = &registry;
        TfmMain& w = r.Start(std::move(services));
        Check(w, {w.cbConfiguration});
        r.Restore();
        // The configuration files were restored before the import failed: the error says so.
        QCOMPARE(WithoutUndo(r.rig.errors), QStringList{"The registry editor could not be started\n\n"
                                           "Restored: \"Configuration files (*.ini, *.dat.*, *.qsl...)\""});
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QCOMPARE(FilesIn(r.logger + "tmp"), QStringList{});
        QVERIFY(CompareLogger(r.logger, kConfigurationFiles).isEmpty());
        QVERIFY(w.Panel3->isEnabled());
    }

    // The early ends: nothing restored, no box beyond the command's own, the window usable.
    void noBoxCheckedEndsSilently() {
        BackupRig r;
        Prepare(r);
        TfmMain& w = r.Start();
        r.Restore();
        QVERIFY(r.rig.fakes.dialogs.boxes.empty());
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
        QVERIFY(w.Panel3->isEnabled());
    }

    void noAnswerRestoresNothing() {
        BackupRig r;
        Prepare(r);
        r.rig.fakes.dialogs.answers = {false};
        TfmMain& w = r.Start();
        Check(w, {w.cbLogs, w.cbConfiguration});
        r.Restore();
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{kQuestion});
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
        QVERIFY(w.Panel3->isEnabled());
    }

    // The logger starts between the two looks of the guard and the user will not close it: the
    // command ends, the window stays. At the first look the same answer ends the program.
    void loggerRunningAtTheSecondLookKeepsTheWindow_data() {
        QTest::addColumn<int>("firstRunningLook");
        QTest::addColumn<bool>("windowStays");
        QTest::newRow("first look") << 1 << false;
        QTest::newRow("second look") << 2 << true;
    }
    void loggerRunningAtTheSecondLookKeepsTheWindow() {
        QFETCH(int, firstRunningLook);
        QFETCH(bool, windowStays);
        BackupRig r;
        Prepare(r);
        r.rig.fakes.processes.onList = [&](int call) {
            std::vector<platform::ProcessEntry> list{{"bash", 1}};
            if (call >= firstRunningLook) list.push_back({"ZORVEL_Log3.exe", 4242});
            return list;
        };
        r.rig.fakes.dialogs.answers = {false};
        TfmMain& w = r.Start();  // the first look (call 0) is the start's
        Check(w, {w.cbLogs});
        r.Restore();
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{QString::fromLatin1(kCloseLoggerQuestion)});
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
        if (windowStays) {
            QCoreApplication::processEvents();
            QVERIFY(w.isVisible());
            QVERIFY(w.Panel3->isEnabled());
        } else {
            QTRY_VERIFY(!w.isVisible());
        }
    }

    void missingBackupFolderOpensThePicker() {
        BackupRig r;
        Prepare(r);
        TfmMain& w = r.Start();
        Check(w, {w.cbLogs});
        QVERIFY(QDir(r.backups).removeRecursively());
        bool picker = false;
        WhenModal<QDialog>([&](QDialog* dialog) {
            picker = true;
            dialog->reject();
        });
        r.Restore();
        QVERIFY(picker);
        QVERIFY(r.rig.fakes.dialogs.boxes.empty());
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
    }

    // The catalogue does not watch the folder: an archive deleted by someone else is still offered. After
    // the Yes the restore says that it is gone, and the list no longer shows it.
    void selectedArchiveGoneIsNamed() {
        BackupRig r;
        Prepare(r);
        TfmMain& w = r.Start();
        Check(w, {w.cbLogs});
        QVERIFY(QFile::remove(r.backups + "/" + kArchiveName));
        r.Restore();
        QCOMPARE(r.rig.fakes.dialogs.Questions(), QStringList{kQuestion});
        QVERIFY(r.rig.fakes.dialogs.Informations().isEmpty());
        QCOMPARE(r.rig.fakes.dialogs.Warnings(),
                 QStringList{"The backup " + r.backups + "/" + kArchiveName + " no longer exists."});
        QCOMPARE(w.FileListBox1->Count(), 0);
        QVERIFY(!w.RectoreBT->isEnabled());
        QVERIFY(r.rig.errors.isEmpty());
        QVERIFY(CompareLogger(r.logger, {}).isEmpty());
        QVERIFY(w.Panel3->isEnabled());
    }

    void cleanupTestCase() { wine_.reset(); }
};

QTEST_MAIN(BackupRestoreTest)
#include "restore_handler_test.moc"
