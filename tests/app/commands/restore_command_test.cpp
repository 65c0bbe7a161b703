// The restore command on its own, one table over its outcomes: every part whole; a part the backup does
// not hold; a damaged entry, a read-only target, a folder in a file's place, an encrypted entry, an
// unsafe name and a name the file system cannot take, each spoiling its part (and only its part); the
// registry imported only with the configuration whole, and not when a snapshot is missing or the
// editor fails. For each: what the reporter was told, which files changed (exactly those the report
// says were restored), what was imported, and that tmp holds nothing of ours afterwards.
#include "app/backup_layout.h"
#include "app/commands/restore_command.h"
#include "app/commands/retention.h"
#include "app/commands/safety_backup.h"
#include "archive/host.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/writer/vcl_zip.h"
#include "tests/app/support/small_disk.h"
#include "tests/app/support/command_rig.h"

#include <QRegularExpression>
#include <QtTest>

#include <functional>

using namespace app;
using namespace app::testing;

namespace {

const Tree kNow{{"DB/CallbookIndex", "index now"}, {"DB/Awards.mdb", "awards now"}, {"DB/Logs.mdb", "logs now"}, {"DB/Logs.ldb", "ldb now"},
                {"DB/DB.mdb", "callbook now"}, {"Config.ini", "config now"}, {"Card.qsl", "card now"},
                {"tmp/notes.txt", "the user's"}};

std::vector<MadeEntry> Backup() {
    return {{"tmp/zorvel3_Registry.reg", "REGEDIT4 log"},
            {"tmp/ZORVEL_server_Registry.reg", "REGEDIT4 server"},
            {"DB/Awards.mdb", "awards then"},
            {"DB/Logs.mdb", "logs then"},
            {"DB/Logs.ldb", "ldb then"},
            {"DB/DB.mdb", "callbook then"},
            {"Config.ini", "config then"},
            {"Card.qsl", "card then"}};
}

QString Lines(const QStringList& lines) { return IncompleteRestoreText(lines); }


}  // namespace

class RestoreCommandTest : public QObject {
    Q_OBJECT

private slots:
    void eachOutcome() {
        const QString longName = QString(300, QLatin1Char('n')) + ".ini";
        const struct {
            const char* name;
            std::function<void(std::vector<MadeEntry>&)> archive;  // changes to the backup
            std::function<void(CommandRig&)> before;               // changes to the logger folder
            bool awards, database, logs, configuration;
            QString said;
            QStringList restored;  // the files that now hold the backup's bytes
            int imports;
            bool everything = false;
        } cases[] = {
            {"every part whole", nullptr, nullptr, true, true, true, true, "done: Restore backup",
             {"DB/Awards.mdb", "DB/Logs.mdb", "DB/Logs.ldb", "DB/DB.mdb", "Config.ini", "Card.qsl"}, 2},
            {"the logs alone", nullptr, nullptr, false, false, true, false, "done: Restore backup",
             {"DB/Logs.mdb", "DB/Logs.ldb"}, 0},
            {"a part the backup does not hold",
             [](auto& e) { std::erase_if(e, [](const MadeEntry& m) { return m.name.startsWith("DB/Awards"); }); },
             nullptr, true, false, true, false,
             "incomplete: " + Lines({"\"Awards.mdb  (Statistic files)\": not in this backup"}),
             {"DB/Logs.mdb", "DB/Logs.ldb"}, 0},
            {"a read-only target spoils its part only", nullptr,
             [](CommandRig& r) { QFile(r.logger + "DB/Logs.ldb").setPermissions(QFileDevice::ReadOwner); },
             true, false, true, false,
             "incomplete: " + Lines({"DB/Logs.ldb: the file on disk is read-only",
                                     "DB/Logs.mdb: not restored, because not all files of \"Logs.mdb (Logs files)\" could be"}),
             {"DB/Awards.mdb"}, 0},
            {"a folder where a file was", nullptr,
             [](CommandRig& r) {
                 QFile::remove(r.logger + "DB/Logs.ldb");
                 QDir().mkpath(r.logger + "DB/Logs.ldb");
             },
             false, false, true, false,
             "incomplete: " + Lines({"DB/Logs.ldb: it cannot be written there",
                                     "DB/Logs.mdb: not restored, because not all files of \"Logs.mdb (Logs files)\" could be"}),
             {}, 0},
            {"an unsafe name in the configuration",
             [](auto& e) { e.push_back({"../Evil.ini", "outside"}); }, nullptr, false, false, false, true,
             "incomplete: " + Lines({"../Evil.ini: refused: its name in the backup reaches outside the logger folder",
                                     "Config.ini: not restored, because not all files of \"Configuration files (*.ini, *.dat.*, *.qsl...)\" could be",
                                     "Card.qsl: not restored, because not all files of \"Configuration files (*.ini, *.dat.*, *.qsl...)\" could be",
                                     "Registry key " + kLogKey + ": not imported, because the configuration could not be restored whole",
                                     "Registry key " + kServerKey + ": not imported, because the configuration could not be restored whole"}),
             {}, 0},
            {"everything, a file no part selects included",
             [](auto& e) { e.push_back({"DB/CallbookIndex", "index then"}); }, nullptr, false, false, false, false,
             "done: Restore backup",
             {"DB/Awards.mdb", "DB/Logs.mdb", "DB/Logs.ldb", "DB/DB.mdb", "Config.ini", "Card.qsl", "DB/CallbookIndex"}, 2, true},
            {"everything is all or nothing",
             [](auto& e) { e.push_back({"DB/CallbookIndex", "index then"}); },
             [](CommandRig& r) { QFile(r.logger + "Card.qsl").setPermissions(QFileDevice::ReadOwner); },
             false, false, false, false,
             "incomplete: " + Lines({"Card.qsl: the file on disk is read-only",
                                     "tmp/zorvel3_Registry.reg: not restored, because not all files of the backup could be",
                                     "tmp/ZORVEL_server_Registry.reg: not restored, because not all files of the backup could be",
                                     "DB/Awards.mdb: not restored, because not all files of the backup could be",
                                     "DB/Logs.mdb: not restored, because not all files of the backup could be",
                                     "DB/Logs.ldb: not restored, because not all files of the backup could be",
                                     "DB/DB.mdb: not restored, because not all files of the backup could be",
                                     "Config.ini: not restored, because not all files of the backup could be",
                                     "DB/CallbookIndex: not restored, because not all files of the backup could be",
                                     "Registry key " + kLogKey + ": not imported, because the configuration could not be restored whole",
                                     "Registry key " + kServerKey + ": not imported, because the configuration could not be restored whole"}),
             {}, 0, true},
            {"a name with a control character, told escaped",
             [](auto& e) { e.push_back({QString::fromLatin1("Bad\x1b[2Jname.ini"), "hidden"}); }, nullptr, false, false, false, true,
             "incomplete: " + Lines({"Bad\\x1B[2Jname.ini: refused: its name holds control characters",
                                     "Config.ini: not restored, because not all files of \"Configuration files (*.ini, *.dat.*, *.qsl...)\" could be",
                                     "Card.qsl: not restored, because not all files of \"Configuration files (*.ini, *.dat.*, *.qsl...)\" could be",
                                     "Registry key " + kLogKey + ": not imported, because the configuration could not be restored whole",
                                     "Registry key " + kServerKey + ": not imported, because the configuration could not be restored whole"}),
             {}, 0},
            {"a method this program does not read is named, not called damage",
             [](auto& e) {
                 for (MadeEntry& m : e)
                     if (m.name == "DB/Logs.ldb") m.method = "bzip2";
             },
             nullptr, true, false, true, false,
             "incomplete: " + Lines({"DB/Logs.ldb: refused: compression method BZip2 (12) is not supported",
                                     "DB/Logs.mdb: not restored, because not all files of \"Logs.mdb (Logs files)\" could be"}),
             {"DB/Awards.mdb"}, 0},
            {"a snapshot missing from the backup",
             [](auto& e) { std::erase_if(e, [](const MadeEntry& m) { return m.name.contains("server"); }); }, nullptr,
             false, false, false, true,
             "incomplete: " + Lines({"Registry key " + kServerKey + ": not in this backup"}), {"Config.ini", "Card.qsl"}, 1},
            {"the registry editor fails", nullptr, [](CommandRig& r) { r.registry.problem = "regedit failed with exit code 3"; },
             false, false, false, true,
             "incomplete: " + Lines({"Registry key " + kLogKey + ": not imported: regedit failed with exit code 3",
                                     "Registry key " + kServerKey + ": not imported: regedit failed with exit code 3"}),
             {"Config.ini", "Card.qsl"}, 2},
            {"only the server key fails to import", nullptr,
             [](CommandRig& r) { r.registry.importProblems["ZORVEL_server_Registry.reg"] = "regedit failed with exit code 3"; },
             false, false, false, true,
             "incomplete: " + Lines({"Registry key " + kServerKey + ": not imported: regedit failed with exit code 3"}),
             {"Config.ini", "Card.qsl"}, 2},
            {"only the logger's key fails to import", nullptr,
             [](CommandRig& r) { r.registry.importProblems["zorvel3_Registry.reg"] = "regedit failed with exit code 5"; },
             false, false, false, true,
             "incomplete: " + Lines({"Registry key " + kLogKey + ": not imported: regedit failed with exit code 5"}),
             {"Config.ini", "Card.qsl"}, 2},
            {"a name too long for the file system",
             [&](auto& e) { e.push_back({longName, "too long"}); }, nullptr, false, false, false, true,
             "incomplete: " + Lines({longName + ": refused: its name is too long for the file system",
                                     "Config.ini: not restored, because not all files of \"Configuration files (*.ini, *.dat.*, *.qsl...)\" could be",
                                     "Card.qsl: not restored, because not all files of \"Configuration files (*.ini, *.dat.*, *.qsl...)\" could be",
                                     "Registry key " + kLogKey + ": not imported, because the configuration could not be restored whole",
                                     "Registry key " + kServerKey + ": not imported, because the configuration could not be restored whole"}),
             {}, 0},
        };
        for (const auto& c : cases) {
            CommandRig r;
            WriteTree(r.logger, kNow);
            std::vector<MadeEntry> entries = Backup();
            if (c.archive) c.archive(entries);
            const QString archive = r.backups + "/zorvel3_20240102030406.zip";
            QVERIFY(MakeArchive(archive, entries));
            if (c.before) c.before(r);

            archive::DefaultHost host;
            archive::TVCLUnZip unzip(&host);
            ConfigureRestoreReader(unzip);
            RestoreCommand command(unzip, r.registry, r.reporter);
            RestoreRequest request;
            request.archivePath = archive;
            request.loggerFolder = r.logger;
            request.awards = c.awards;
            request.database = c.database;
            request.logs = c.logs;
            request.configuration = c.configuration;
            request.everything = c.everything;
            command.Run(request);

            QVERIFY2(r.reporter.said == QStringList{c.said}, qPrintable(QString(c.name) + "\n" + r.reporter.said.join("\n---\n")));
            for (const QString& file : kNow.keys()) {
                const bool restored = c.restored.contains(file);
                QByteArray expected = kNow.value(file);
                for (const MadeEntry& m : entries)
                    if (restored && m.name == file) expected = m.bytes;
                if (QFileInfo(r.logger + file).isDir()) continue;
                QVERIFY2(FileBytes(r.logger + file) == expected, qPrintable(QString(c.name) + ": " + file));
            }
            QVERIFY2(r.registry.imports.size() == c.imports, c.name);
            QVERIFY2(FilesIn(r.logger + "tmp") == QStringList{"notes.txt"}, qPrintable(QString(c.name) + ": " + FilesIn(r.logger + "tmp").join(' ')));
            QVERIFY2(!QFileInfo::exists(r.root.Path().c_str() + QStringLiteral("/Evil.ini")), c.name);
            QVERIFY2(ScratchFilesBelow({r.logger}).isEmpty(), c.name);
        }
    }

    // The backup made before a restore: beside the archive, or where that folder is full in the
    // fallback folder of the user's data directory; named in the report; and restoring it with
    // everything brings back exactly the files as they were. When it can be made nowhere, the restore
    // does not start.
    void aRestoreCanBeUndone() {
        const struct {
            const char* name;
            bool fullArchiveFolder;
            bool dataFolderUsable;
        } cases[] = {{"beside the archive", false, true}, {"in the data folder", true, true}, {"nowhere", true, false}};
        for (const auto& c : cases) {
            CommandRig r;
            const Tree before = kNow;
            WriteTree(r.logger, before);
            const QString archiveFolder = r.root.Path().c_str() + QStringLiteral("/stick");
            QDir().mkpath(archiveFolder);
            const QString archive = archiveFolder + "/zorvel3_20240102030406.zip";
            QVERIFY(MakeArchive(archive, Backup()));
            std::unique_ptr<SmallDisk> stick;
            if (c.fullArchiveFolder) {
                const QByteArray bytes = FileBytes(archive);
                stick = std::make_unique<SmallDisk>(archiveFolder, 64);
                if (!stick->Mounted()) QSKIP("a small tmpfs cannot be mounted here (needs root and mount rights)");
                testing_support::WriteFile(archive.toStdString(), bytes.toStdString());
                testing_support::WriteFile((archiveFolder + "/filler").toStdString(), std::string(60 * 1024, 'x'));
            }
            const QString data = r.root.Path().c_str() + QStringLiteral("/data");
            if (c.dataFolderUsable) QDir().mkpath(data);
            else testing_support::WriteFile(data.toStdString(), "a file where the data folder would be");
            qputenv("XDG_DATA_HOME", data.toUtf8());
            // Earlier backups made before a restore where this one goes: the folder keeps the newest of them.
            const QString safetyFolder = c.fullArchiveFolder ? FallbackSafetyFolder() : archiveFolder;
            QStringList earlier;
            if (c.dataFolderUsable) {
                for (int day = 1; day <= kSafetyBackupsKept + 1; ++day) {
                    earlier.append("zorvel3-before-restore-202601" + QString::number(10 + day) + "120000.zip");
                    testing_support::WriteFile((safetyFolder + "/" + earlier.last()).toStdString(), "earlier");
                }
            }

            archive::DefaultHost host;
            archive::TVCLUnZip unzip(&host);
            ConfigureRestoreReader(unzip);
            archive::TVCLZip writer(&host);
            ConfigureBackupWriter(writer);
            RestoreCommand command(unzip, r.registry, r.reporter, &writer);
            RestoreRequest request;
            request.archivePath = archive;
            request.loggerFolder = r.logger;
            request.logs = request.configuration = true;
            QString raised;
            try {
                command.Run(request);
            } catch (const std::exception& e) {
                raised = QString::fromUtf8(e.what());
            }
            if (!c.dataFolderUsable) {
                QVERIFY2(raised.startsWith("The files as they are now could not be backed up before the restore, so "
                                           "nothing was restored."),
                         qPrintable(raised));
                for (const QString& file : before.keys()) QCOMPARE(FileBytes(r.logger + file), before.value(file));
                QVERIFY(r.registry.imports.isEmpty());
                continue;
            }
            QVERIFY2(raised.isEmpty(), qPrintable(raised));
            QCOMPARE(r.reporter.said.size(), 1);
            const QString folder = c.fullArchiveFolder ? FallbackSafetyFolder() : archiveFolder;
            const QRegularExpression named("^done: Restore backup\n\nThe files as they were before this restore are kept in (" +
                                           QRegularExpression::escape(folder) + "/zorvel3-before-restore-\\d{14}\\.zip)\\.$");
            const auto match = named.match(r.reporter.said[0]);
            QVERIFY2(match.hasMatch(), qPrintable(r.reporter.said[0]));
            QCOMPARE(FileBytes(r.logger + "Config.ini"), QByteArray("config then"));
            QStringList kept = QDir(safetyFolder).entryList({"zorvel3-before-restore-*.zip"}, QDir::Files, QDir::Name);
            QCOMPARE(kept, earlier.mid(earlier.size() - kSafetyBackupsKept + 1) + QStringList{QFileInfo(match.captured(1)).fileName()});

            // The undo: everything of that backup back, and the logger folder is as it was.
            RestoreCommand undo(unzip, r.registry, r.reporter);
            RestoreRequest back;
            back.archivePath = match.captured(1);
            back.loggerFolder = r.logger;
            back.everything = true;
            undo.Run(back);
            QCOMPARE(r.reporter.said.last(), QStringLiteral("done: Restore backup"));
            QStringList files = FilesBelow(r.logger);
            QCOMPARE(files, QStringList(before.keys()));
            for (const QString& file : before.keys()) QVERIFY2(FileBytes(r.logger + file) == before.value(file), qPrintable(file));
        }
        qunsetenv("XDG_DATA_HOME");
    }

    // The backup made before a restore holds every file the restore replaces, whatever its name, so that
    // restoring it with everything undoes the restore: a hand-made archive restored whole (the logger's
    // program, its help, a file in a subfolder, a name with wildcard characters), and the configuration
    // part reaching a settings file in a subfolder.
    void theSafetyBackupHoldsWhatTheRestoreReplaces() {
        const Tree extra{{"ZORVEL_Log3.exe", "MZ now"}, {"Help.chm", "help now"}, {"Sub/x.txt", "x now"},
                         {"Sub/y.ini", "y now"}, {"What*?.bin", "odd now"}};
        const struct {
            const char* name;
            std::vector<MadeEntry> archive;
            bool everything;
            QStringList beyondPatterns;  // what the safety backup holds beyond any backup
        } cases[] = {
            {"everything of a hand-made archive",
             {{"ZORVEL_Log3.exe", "MZ other"}, {"Help.chm", "other help"}, {"Sub/x.txt", "x other"}, {"What*?.bin", "odd other"},
              {"DB/Logs.mdb", "logs other"}, {"New.bin", "not there now"}},
             true, {"Help.chm", "Sub/x.txt", "What*?.bin", "ZORVEL_Log3.exe"}},
            {"the configuration reaches a subfolder", {{"Sub/y.ini", "y other"}, {"Config.ini", "config other"}}, false, {"Sub/y.ini"}},
        };
        for (const auto& c : cases) {
            CommandRig r;
            Tree before = kNow;
            for (auto it = extra.cbegin(); it != extra.cend(); ++it) before[it.key()] = it.value();
            WriteTree(r.logger, before);
            const QString archive = r.backups + "/hand-made.zip";
            QVERIFY(MakeArchive(archive, c.archive));

            archive::DefaultHost host;
            archive::TVCLUnZip unzip(&host);
            ConfigureRestoreReader(unzip);
            archive::TVCLZip writer(&host);
            ConfigureBackupWriter(writer);
            RestoreCommand command(unzip, r.registry, r.reporter, &writer);
            RestoreRequest request;
            request.archivePath = archive;
            request.loggerFolder = r.logger;
            request.everything = c.everything;
            request.configuration = !c.everything;
            command.Run(request);
            QVERIFY2(r.reporter.said.size() == 1, c.name);
            const auto match = QRegularExpression("kept in (.*/zorvel3-before-restore-\\d{14}\\.zip)\\.$").match(r.reporter.said[0]);
            QVERIFY2(match.hasMatch(), qPrintable(r.reporter.said[0]));
            const QStringList held = UnzipEntries(match.captured(1));
            for (const QString& file : c.beyondPatterns) QVERIFY2(held.contains(file), qPrintable(QString(c.name) + ": " + file));
            for (const MadeEntry& e : c.archive)
                if (before.contains(e.name)) QVERIFY2(FileBytes(r.logger + e.name) == e.bytes, qPrintable(e.name));

            RestoreCommand undo(unzip, r.registry, r.reporter);
            RestoreRequest back;
            back.archivePath = match.captured(1);
            back.loggerFolder = r.logger;
            back.everything = true;
            undo.Run(back);
            for (auto it = before.cbegin(); it != before.cend(); ++it)
                QVERIFY2(FileBytes(r.logger + it.key()) == it.value(), qPrintable(QString(c.name) + ": " + it.key()));
        }
    }
};

QTEST_MAIN(RestoreCommandTest)
#include "restore_command_test.moc"
