// The copy of a backup at its decision: it is read back from the copy folder and compared with the
// backup, so a copy that does not read back as the backup (spoiled after it was written, as a failing
// disk would) is not put in place and leaves nothing behind; a whole one is.
#include "app/commands/copy_backup.h"
#include "tests/app/support/command_rig.h"

#include <QtTest>

#include <functional>

using namespace app;
using namespace app::testing;

class CopyBackupTest : public QObject {
    Q_OBJECT

private slots:
    void aCopyThatDoesNotReadBackIsNotKept() {
        const struct {
            const char* name;
            std::function<void(QFile&)> spoil;  // the written copy, open for reading and writing
            bool kept;
        } cases[] = {
            {"whole", nullptr, true},
            {"a byte changed",
             [](QFile& copy) {
                 copy.seek(copy.size() / 2);
                 const char byte = copy.read(1)[0];
                 copy.seek(copy.size() / 2);
                 copy.write(QByteArray(1, char(byte ^ 0x40)));
             },
             false},
            {"cut short", [](QFile& copy) { copy.resize(copy.size() - 1); }, false},
            {"a byte more", [](QFile& copy) { copy.seek(copy.size()), copy.write("x"); }, false},
        };
        for (const auto& c : cases) {
            CommandRig r;
            const QString archive = r.backups + "/zorvel3_20261207213005.zip";
            QVERIFY(MakeArchive(archive, {{"DB/Logs.mdb", QByteArray("logs").repeated(5000)}}));
            const QByteArray bytes = FileBytes(archive);
            const QString copyFolder = r.root.Path().c_str() + QStringLiteral("/stick");
            QDir().mkpath(copyFolder);
            const CopyOutcome outcome = CopyBackup(archive, copyFolder, [&](const std::string& scratch) {
                if (!c.spoil) return;
                QFile copy(QString::fromStdString(scratch));
                QVERIFY(copy.open(QIODevice::ReadWrite));
                c.spoil(copy);
            });
            QVERIFY2(outcome.path.isEmpty() != c.kept, c.name);
            if (c.kept) {
                QCOMPARE(outcome.path, copyFolder + "/zorvel3_20261207213005.zip");
                QCOMPARE(FileBytes(outcome.path), bytes);
            } else {
                QCOMPARE(outcome.problem, "The copy in " + copyFolder + " was not made: it did not read back as the backup.");
            }
            QVERIFY2(FilesIn(copyFolder) == (c.kept ? QStringList{"zorvel3_20261207213005.zip"} : QStringList{}), c.name);
            QVERIFY2(FileBytes(archive) == bytes, c.name);
        }
    }
};

QTEST_MAIN(CopyBackupTest)
#include "copy_backup_test.moc"
