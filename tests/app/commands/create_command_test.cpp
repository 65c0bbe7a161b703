// The create command on its own, one table over its outcomes: a whole backup; registry keys that could
// not be saved (the editor not running, or running and saving nothing, with a snapshot of a run that
// died still in tmp); a tmp that is a link leading out of the logger folder; a backup folder that is
// not there. For each: what the reporter was told, what the archive holds, and that tmp is left with
// only what was not ours.
#include "app/backup_layout.h"
#include "app/commands/create_command.h"
#include "archive/host.h"
#include "archive/writer/vcl_zip.h"
#include "tests/app/support/command_rig.h"

#include <QtTest>

#include <functional>

using namespace app;
using namespace app::testing;

namespace {

const Tree kFiles{{"DB/Logs.mdb", "logs"}, {"DB/Awards.mdb", "awards"}, {"Config.ini", "config"},
                  {"tmp/notes.txt", "the user's"}};
const QDateTime kTime(QDate(2026, 12, 7), QTime(21, 30, 5));

QString LogKey() { return QString::fromLatin1(kRegistrySnapshots[0].key); }
QString ServerKey() { return QString::fromLatin1(kRegistrySnapshots[1].key); }

}  // namespace

class CreateCommandTest : public QObject {
    Q_OBJECT

private slots:
    void eachOutcome() {
        const struct {
            const char* name;
            std::function<void(CommandRig&)> before;
            QString said;          // "" when the command raises
            QString raised;        // the start of what it raises
            QStringList entries;   // of the new archive, sorted ("" when none must exist)
        } cases[] = {
            {"whole", nullptr, "done: Created file: %1", "",
             {"Config.ini", "DB/Awards.mdb", "DB/Logs.mdb", "tmp/ZORVEL_server_Registry.reg", "tmp/zorvel3_Registry.reg"}},
            {"the registry editor cannot run",
             [](CommandRig& r) {
                 r.registry.exportResult = false;
                 r.registry.problem = "the logger folder lies in no Wine prefix";
             },
             "incomplete: Created file: %1\n\nThis backup is incomplete:\nRegistry key " + LogKey() +
                 " could not be saved: the logger folder lies in no Wine prefix\nRegistry key " + ServerKey() +
                 " could not be saved: the logger folder lies in no Wine prefix",
             "", {"Config.ini", "DB/Awards.mdb", "DB/Logs.mdb"}},
            {"the editor saves nothing; a snapshot of a run that died is no stand-in",
             [](CommandRig& r) {
                 r.registry.exportWrites = false;
                 r.registry.problem = "regedit failed with exit code 3";
                 WriteTree(r.logger, {{"tmp/zorvel3_Registry.reg", "last week's"}, {"tmp/Backup.ini", "[x]"}});
             },
             "incomplete: Created file: %1\n\nThis backup is incomplete:\nRegistry key " + LogKey() +
                 " could not be saved: regedit failed with exit code 3\nRegistry key " + ServerKey() +
                 " could not be saved: regedit failed with exit code 3",
             "", {"Config.ini", "DB/Awards.mdb", "DB/Logs.mdb"}},
            {"tmp leads out of the logger folder",
             [](CommandRig& r) {
                 QDir(r.logger + "tmp").removeRecursively();
                 WriteTree(r.root.Path().c_str() + QStringLiteral("/elsewhere/"), {{"notes.txt", "the user's"}, {"zorvel3_Registry.reg", "mine"}});
                 QFile::link(r.root.Path().c_str() + QStringLiteral("/elsewhere"), r.logger + "tmp");
             },
             "", "The folder %1tmp is a link to ", {}},
            {"the backup folder is not there", [](CommandRig& r) { QDir(r.backups).removeRecursively(); }, "",
             "Cannot create file", {}},
        };
        for (const auto& c : cases) {
            CommandRig r;
            WriteTree(r.logger, kFiles);
            if (c.before) c.before(r);
            const QString expectedArchive = r.backups + "/zorvel3_20261207213005.zip";

            archive::DefaultHost host;
            archive::TVCLZip zip(&host);
            ConfigureBackupWriter(zip);
            CreateCommand command(zip, r.registry, r.reporter);
            QString raised;
            try {
                command.Run({r.logger, r.backups, kTime});
            } catch (const std::exception& e) {
                raised = QString::fromUtf8(e.what());
            }
            if (c.raised.isEmpty()) {
                QVERIFY2(raised.isEmpty(), qPrintable(QString(c.name) + ": " + raised));
                QVERIFY2(r.reporter.said == QStringList{c.said.arg(expectedArchive)},
                         qPrintable(QString(c.name) + "\n" + r.reporter.said.join("\n---\n")));
                QStringList entries = UnzipEntries(expectedArchive);
                entries.sort();
                QVERIFY2(entries == c.entries, qPrintable(QString(c.name) + ": " + entries.join(' ')));
            } else {
                QVERIFY2(raised.startsWith(c.raised.contains("%1") ? c.raised.arg(r.logger) : c.raised), qPrintable(QString(c.name) + ": " + raised));
                QVERIFY2(r.reporter.said.isEmpty(), c.name);
                QVERIFY2(!QFileInfo::exists(expectedArchive), c.name);
            }
            // Nothing of ours left in tmp, the user's file untouched, wherever tmp leads.
            QVERIFY2(FilesIn(r.logger + "tmp").contains("notes.txt"), c.name);
            QVERIFY2(FileBytes(r.logger + "tmp/notes.txt") == "the user's", c.name);
            for (const char* ours : {"tmp/Backup.ini", kRegistrySnapshots[0].file, kRegistrySnapshots[1].file})
                if (!c.raised.startsWith("The folder")) QVERIFY2(!QFileInfo::exists(r.logger + ours), qPrintable(QString(c.name) + ": " + ours));
            QVERIFY2(ScratchFilesBelow({r.logger, r.root.Path().c_str()}).isEmpty(), c.name);
        }
    }

    // A backup never writes into an archive that is there: a name taken by any entry of the folder (in
    // any letter case) is passed over for the next second's; the earlier archive stays byte for byte.
    void everyBackupItsOwnArchive() {
        QVERIFY(NameTaken({"zorvel3_20261207213005.zip"}, "zorvel3_20261207213005.zip"));
        QVERIFY(NameTaken({"other", "ZORVEL3_20261207213005.ZIP"}, "zorvel3_20261207213005.zip"));
        QVERIFY(!NameTaken({"zorvel3_20261207213006.zip", "zorvel3_20261207213005.zip.bak"}, "zorvel3_20261207213005.zip"));
        QVERIFY(!NameTaken({}, "zorvel3_20261207213005.zip"));

        const struct {
            const char* name;
            std::function<void(const QString& taken)> there;  // what holds the name of kTime
        } cases[] = {
            {"a backup of the same second", nullptr},
            {"a file of another letter case", [](const QString& taken) { testing_support::WriteFile(QString(taken).replace("zorvel3_", "ZORVEL3_").toStdString(), "mine"); }},
            {"a folder", [](const QString& taken) { QDir().mkpath(taken); }},
            {"a link leading nowhere", [](const QString& taken) { QFile::link("/nonexistent/zbk", taken); }},
        };
        for (const auto& c : cases) {
            CommandRig r;
            WriteTree(r.logger, kFiles);
            archive::DefaultHost host;
            archive::TVCLZip zip(&host);
            ConfigureBackupWriter(zip);
            CreateCommand command(zip, r.registry, r.reporter);
            const QString first = r.backups + "/zorvel3_20261207213005.zip";
            CreateRequest request{r.logger, r.backups, kTime};
            if (c.there) c.there(first);
            else QCOMPARE(command.Run(request).archivePath, first);
            const QStringList before = FilesIn(r.backups);
            const QByteArray firstBytes = FileBytes(first);
            QFile::remove(r.logger + "Config.ini");  // gone since: the first backup must still hold it
            request.full = true;
            const CreateOutcome second = command.Run(request);
            QVERIFY2(second.archivePath == r.backups + "/zorvel3_20261207213006.zip", qPrintable(QString(c.name) + ": " + second.archivePath));
            QVERIFY2(FileBytes(first) == firstBytes, c.name);
            QVERIFY2(!UnzipEntries(second.archivePath).contains("Config.ini"), c.name);
            QVERIFY2(FilesIn(r.backups).size() == before.size() + 1, c.name);
        }
    }

    // A file the patterns select whose name no reader could give back is left out and named; the rest
    // is backed up and the backup reads back whole.
    void aNameNoReaderGivesBackIsLeftOut() {
        const struct {
            const char* name;
            QString file;
            QString said;
        } cases[] = {
            {"a backslash in DB", "DB/Logs\\Old.mdb", "DB/Logs\\Old.mdb: left out, because its name holds a backslash, which every ZIP reader takes for a folder separator"},
            {"a backslash at the top", "a\\b.ini", "a\\b.ini: left out, because its name holds a backslash, which every ZIP reader takes for a folder separator"},
            {"a control character", QString::fromLatin1("DB/Bad\x01name.mdb"), "DB/Bad\\x01name.mdb: left out, because its name holds control characters"},
            {"a wildcard character is no trouble", "DB/What?.mdb", ""},
        };
        for (const auto& c : cases) {
            CommandRig r;
            WriteTree(r.logger, kFiles);
            WriteTree(r.logger, {{c.file, "odd"}});
            archive::DefaultHost host;
            archive::TVCLZip zip(&host);
            ConfigureBackupWriter(zip);
            CreateCommand command(zip, r.registry, r.reporter);
            const CreateOutcome outcome = command.Run({r.logger, r.backups, kTime});
            QVERIFY2(outcome.created, c.name);
            QVERIFY2(outcome.lacking == (c.said.isEmpty() ? QStringList() : QStringList{c.said}),
                     qPrintable(QString(c.name) + ": " + outcome.lacking.join('|')));
            const Tree entries = PythonEntries(outcome.archivePath);
            for (const char* file : {"Config.ini", "DB/Awards.mdb", "DB/Logs.mdb"}) QVERIFY2(entries.contains(file), c.name);
            QVERIFY2(entries.contains(c.file) == c.said.isEmpty(), c.name);
            QVERIFY2(zip.ExcludeList.empty(), c.name);
            // The same files again: nothing changed.
            CreateRequest again{r.logger, r.backups, kTime.addSecs(60)};
            again.ifChanged = true;
            QVERIFY2(command.Run(again).unchanged, c.name);
        }
    }

    // A backup into a folder with an earlier one carries the unchanged files over from it, and is byte
    // for byte the backup that compresses every file; a later backup carries from the newest.
    void carriesOverWhatDidNotChange() {
        CommandRig r;
        // Files that compress (a file that would not get smaller is stored, and stored entries are not
        // carried into a deflated backup).
        Tree files;
        for (auto it = kFiles.cbegin(); it != kFiles.cend(); ++it) files[it.key()] = it.value().repeated(300);
        WriteTree(r.logger, files);
        r.registry.values = QByteArray("\"Call\"=\"OE1ABC\"\r\n").repeated(100);
        archive::DefaultHost host;
        archive::TVCLZip zip(&host);
        ConfigureBackupWriter(zip);
        CreateCommand command(zip, r.registry, r.reporter);
        const auto run = [&](int minute, bool full) {
            CreateRequest request{r.logger, r.backups, kTime.addSecs(60 * minute)};
            request.full = full;
            return command.Run(request).archivePath;
        };
        run(0, false);
        QCOMPARE(zip.FilesCarriedOver(), 0u);
        WriteTree(r.logger, {{"DB/Logs.mdb", QByteArray("LOGS").repeated(300)}});  // same size, other bytes
        const QString carried = run(1, false);
        QCOMPARE(zip.FilesCarriedOver(), 4u);  // all but the logs, the registry snapshots among them
        const QString full = run(2, true);
        QCOMPARE(zip.FilesCarriedOver(), 0u);
        QVERIFY(FileBytes(carried) == FileBytes(full));
        QCOMPARE(PythonEntries(carried).value("DB/Logs.mdb"), QByteArray("LOGS").repeated(300));
        run(3, false);
        QCOMPARE(zip.FilesCarriedOver(), 5u);
    }

    // --if-changed: which changes make a new backup, against the newest backup of the folder.
    void ifChangedMakesABackupOnlyWhenSomethingChanged() {
        const struct {
            const char* name;
            std::function<void(CommandRig&)> change;
            bool unchanged;
        } cases[] = {
            {"nothing", nullptr, true},
            {"only a file's time",
             [](CommandRig& r) { QFile(r.logger + "Config.ini").setFileTime(QDateTime::currentDateTime(), QFileDevice::FileModificationTime); },
             true},
            {"a newer archive that does not open is no backup",
             [](CommandRig& r) { testing_support::WriteFile((r.backups + "/zorvel3_20261207213500.zip").toStdString(), "junk"); },
             true},
            {"a byte of a file, same size and time",
             [](CommandRig& r) {
                 const QDateTime time = QFileInfo(r.logger + "DB/Logs.mdb").lastModified();
                 WriteTree(r.logger, {{"DB/Logs.mdb", "lOgs"}});
                 QFile(r.logger + "DB/Logs.mdb").setFileTime(time, QFileDevice::FileModificationTime);
             },
             false},
            {"a registry snapshot", [](CommandRig& r) { r.registry.values = "\"Call\"=\"DL9XYZ\"\r\n"; }, false},
            {"a file more", [](CommandRig& r) { WriteTree(r.logger, {{"DB/New.mdb", "new"}}); }, false},
            {"a file less", [](CommandRig& r) { QFile::remove(r.logger + "Config.ini"); }, false},
            {"a file gone and another come: as many files, one the backup does not hold",
             [](CommandRig& r) {
                 QFile::remove(r.logger + "DB/Awards.mdb");
                 WriteTree(r.logger, {{"DB/Awards.ldb", "awards"}});
             },
             false},
            {"the newest backup is damaged",
             [](CommandRig& r) {
                 const QString newest = r.backups + "/zorvel3_20261207213005.zip";
                 const auto [start, length] = EntryData(newest, "DB/Awards.mdb");
                 QByteArray bytes = FileBytes(newest);
                 bytes[start + length / 2] = static_cast<char>(bytes[start + length / 2] ^ 0x20);
                 testing_support::WriteFile(newest.toStdString(), bytes.toStdString());
             },
             false},
        };
        for (const auto& c : cases) {
            CommandRig r;
            WriteTree(r.logger, kFiles);
            archive::DefaultHost host;
            archive::TVCLZip zip(&host);
            ConfigureBackupWriter(zip);
            CreateCommand command(zip, r.registry, r.reporter);
            const QString first = command.Run({r.logger, r.backups, kTime}).archivePath;
            if (c.change) c.change(r);
            r.reporter.said.clear();
            CreateRequest request{r.logger, r.backups, kTime.addSecs(600)};
            request.ifChanged = true;
            const CreateOutcome outcome = command.Run(request);
            const QString second = r.backups + "/zorvel3_20261207214005.zip";
            QVERIFY2(outcome.created, c.name);
            QVERIFY2(outcome.unchanged == c.unchanged, c.name);
            QVERIFY2(QFileInfo::exists(second) != c.unchanged, c.name);
            QCOMPARE(outcome.archivePath, c.unchanged ? first : second);
            const QString said = c.unchanged ? UnchangedText(first) : QString::fromLatin1(kCreatedFile) + second;
            QVERIFY2(r.reporter.said == QStringList{"done: " + said}, qPrintable(c.name + ("\n" + r.reporter.said.join("\n"))));
            for (const char* ours : {kRegistrySnapshots[0].file, kRegistrySnapshots[1].file})
                QVERIFY2(!QFileInfo::exists(r.logger + ours), c.name);
        }
    }
};

QTEST_MAIN(CreateCommandTest)
#include "create_command_test.moc"
