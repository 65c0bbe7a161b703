// `setup` on the real program's command line: it runs from a program that stands in no logger folder
// (where every other command refuses, pointing to setup), it is refused with exit code 2 when the folder is not named
// once, and the link it makes works: a backup started through it backs up the link's folder. The
// setup command's own decisions are tested in commands/setup_command_test.cpp.
#include "tests/app/support/cli_rig.h"

#include <QtTest>

using namespace app::testing;

namespace {

// The built program run where it was built, outside any logger folder, with the rig's home.
CliRun RunInstalled(const CliRig& rig, const QStringList& arguments) {
    QProcess process;
    process.setProcessEnvironment(rig.Environment({{"XDG_DATA_HOME", rig.home + "/.local/share"}}));
    process.start(qEnvironmentVariable("ZORVEL_BACKUP"), arguments);
    return CliRig::Finish(process, 60000);
}

}  // namespace

class SetupCliTest : public QObject {
    Q_OBJECT

private slots:
    void commandLine() {
        CliRig rig;
        if (!rig.skip.isEmpty()) QSKIP(qPrintable(rig.skip));
        const QString folder = rig.root() + "/Logger Folder";
        testing_support::WriteFile((folder + "/ZORVEL_Log3.exe").toStdString(), "MZ stand-in");
        QDir().mkpath(folder + "/DB");
        testing_support::WriteFile((folder + "/DB/Logs.mdb").toStdString(), "log");

        const struct {
            QStringList arguments;
            int exit;
            const char* says;
        } usage[] = {
            {{"setup"}, 2, "name one ZORVEL_Log 3 folder"},
            {{"setup", folder, folder}, 2, "name one ZORVEL_Log 3 folder"},
            {{"setup", "--frob", folder}, 2, "Unknown option 'frob'"},
            {{"setup", rig.root() + "/none"}, 1, "does not exist"},
            {{"--help"}, 0, "setup --remove LOGGER_FOLDER"},
            // Any other command refuses outside a logger folder, and says how to get into one.
            {{"backup", "--to", rig.backups}, 1, "ZORVEL_Backup setup LOGGER_FOLDER"},
        };
        for (const auto& c : usage) {
            const CliRun run = RunInstalled(rig, c.arguments);
            QVERIFY2(run.exitCode == c.exit && (run.out + run.err).contains(c.says), qPrintable(run.Text()));
        }

        const CliRun made = RunInstalled(rig, {"setup", folder});
        QVERIFY2(made.exitCode == 0, qPrintable(made.Text()));
        const QString link = folder + "/ZORVEL_Backup";
        QCOMPARE(QFileInfo(link).symLinkTarget(), QFileInfo(qEnvironmentVariable("ZORVEL_BACKUP")).canonicalFilePath());
        QCOMPARE(QDir(rig.home + "/.local/share/applications").entryList({"zorvel-backup-*.desktop"}).size(), 1);

        // Through the link the program works on the link's folder (outside a Wine prefix: no registry,
        // so done in part).
        QProcess process;
        process.setProcessEnvironment(rig.Environment());
        process.start(link, {"backup", "--to", rig.backups});
        const CliRun backup = CliRig::Finish(process);
        QVERIFY2(backup.exitCode == 4, qPrintable(backup.Text()));
        QVERIFY2(backup.out.trimmed().startsWith(rig.backups + "/zorvel3_"), qPrintable(backup.Text()));
        QVERIFY(QFileInfo::exists(backup.out.trimmed()));

        const CliRun removed = RunInstalled(rig, {"setup", "--remove", folder});
        QVERIFY2(removed.exitCode == 0, qPrintable(removed.Text()));
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(QDir(rig.home + "/.local/share/applications").entryList({"zorvel-backup-*.desktop"}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(SetupCliTest)
#include "setup_cli_test.moc"
