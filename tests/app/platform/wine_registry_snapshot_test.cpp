// The registry snapshot's command lines and file handling, with a recording runner standing in for
// Wine: what is run, in which prefix, and that a failed export never leaves a (partial) file.
#include "app/platform/wine_registry_snapshot.h"
#include "tests/app/support/fakes.h"
#include "tests/support/test_support.h"

#include <QtTest>
#include <sys/stat.h>

using namespace app::platform;
using app::fakes::RecordingProcessRunner;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const QString kKey = QStringLiteral("HKEY_CURRENT_USER\\Software\\ZORVEL_log3");
const std::string kExport = "\xff\xfeW\0i\0n\0d\0o\0w\0s\0";  // a UTF-16 start, enough to tell it from nothing

// A fake prefix with a logger folder whose name has a blank, and its tmp folder.
struct Fixture {
    TempDir dir;
    QString prefix;
    QString logger;
    QString tmp;
    Fixture() {
        WriteFile(dir / "pfx/system.reg", "");
        WriteFile(dir / "pfx/user.reg", "");
        MakeDirs(dir / "pfx/drive_c/ZORVEL Log3/tmp");
        prefix = QFileInfo(QString::fromStdString(dir / "pfx")).canonicalFilePath();
        logger = prefix + "/drive_c/ZORVEL Log3/";
        tmp = logger + "tmp/";
    }
    QStringList TmpFiles() const {
        return QDir(tmp).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }
};

// Makes the recording runner behave like regedit /E: writes `bytes` into the file argument.
void WritesExport(RecordingProcessRunner& runner, const std::string& bytes) {
    runner.onRun = [bytes](const RunRequest& request, RunResult&) {
        if (request.arguments.size() >= 3 && request.arguments[1] == QLatin1String("/E"))
            WriteFile(request.arguments[2].toStdString(), bytes);
    };
}

}  // namespace

class WineRegistrySnapshotTest : public QObject {
    Q_OBJECT

private slots:
    void exportRunsRegeditInTheLoggersPrefix() {
        Fixture f;
        RecordingProcessRunner runner;
        WritesExport(runner, kExport);
        WineRegistrySnapshot snapshot([&] { return f.logger; }, runner, "/usr/bin/wine");
        const QString file = f.tmp + "zorvel3_Registry.reg";

        QVERIFY(snapshot.ExportKey(kKey, file));

        QCOMPARE(runner.requests.size(), size_t(1));
        const RunRequest& run = runner.requests[0];
        QCOMPARE(run.program, QStringLiteral("/usr/bin/wine"));
        QCOMPARE(run.arguments.size(), 4);
        QCOMPARE(run.arguments[0], QStringLiteral("regedit"));
        QCOMPARE(run.arguments[1], QStringLiteral("/E"));
        QCOMPARE(run.arguments[3], kKey);
        // Written beside the target (same folder, so the rename is atomic), under another name.
        QCOMPARE(QFileInfo(run.arguments[2]).absolutePath() + "/", f.tmp);
        QVERIFY(run.arguments[2] != file);
        QCOMPARE(run.setEnv.value("WINEPREFIX"), f.prefix);
        QCOMPARE(run.setEnv.value("WINEDEBUG"), QStringLiteral("-all"));
        QCOMPARE(run.timeoutMs, -1);

        QCOMPARE(ReadFile(file.toStdString()), kExport);
        QCOMPARE(f.TmpFiles(), QStringList{"zorvel3_Registry.reg"});
        // Made with the usual permissions, not the scratch file's private ones.
        struct stat st {};
        QVERIFY(::stat(file.toLocal8Bit().constData(), &st) == 0);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(st.st_mode & 0777, 0666 & ~mask);
    }

    void exportReplacesAnOlderSnapshot() {
        Fixture f;
        RecordingProcessRunner runner;
        WritesExport(runner, kExport);
        const QString file = f.tmp + "ZORVEL_server_Registry.reg";
        WriteFile(file.toStdString(), "old snapshot");
        WineRegistrySnapshot snapshot([&] { return f.logger; }, runner, "/usr/bin/wine");
        QVERIFY(snapshot.ExportKey("HKEY_CURRENT_USER\\Software\\ZORVEL_server", file));
        QCOMPARE(ReadFile(file.toStdString()), kExport);
        QCOMPARE(f.TmpFiles().size(), 1);
    }

    // How the editor's run ended decides what is left: only a normal end with exit code 0 and some
    // output puts a file in place. A run that could not start or was cut short reports false. Each
    // says why, except a key that does not exist (`reg query` answers 1): nothing to save is no problem.
    void failedExportsLeaveNoFile_data() {
        QTest::addColumn<bool>("started");
        QTest::addColumn<bool>("exited");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<int>("queryExit");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QString>("problem");
        QTest::newRow("could not start") << false << false << -1 << QByteArray() << -1 << false
                                         << "regedit could not be started";
        QTest::newRow("killed half way") << true << false << -1 << QByteArray("\xff\xfeW\0i\0", 6) << -1 << false
                                         << "regedit did not end normally";
        QTest::newRow("failed half way") << true << true << 1 << QByteArray("\xff\xfeW\0i\0", 6) << -1 << true
                                         << "regedit failed with exit code 1";
        QTest::newRow("key does not exist: nothing written") << true << true << 0 << QByteArray() << 1 << true << "";
        QTest::newRow("key exists, nothing written") << true << true << 0 << QByteArray() << 0 << true
                                                     << "regedit wrote nothing";
    }
    void failedExportsLeaveNoFile() {
        QFETCH(bool, started);
        QFETCH(bool, exited);
        QFETCH(int, exitCode);
        QFETCH(QByteArray, written);
        QFETCH(int, queryExit);
        QFETCH(bool, result);
        QFETCH(QString, problem);
        Fixture f;
        RecordingProcessRunner runner;
        runner.onRun = [&](const RunRequest& request, RunResult& answer) {
            if (request.arguments.value(0) == "reg") {
                QCOMPARE(request.arguments, (QStringList{"reg", "query", kKey}));
                answer.exitCode = queryExit;
                return;
            }
            if (started && !written.isEmpty()) WriteFile(request.arguments[2].toStdString(), written.toStdString());
            answer.started = started;
            answer.exited = exited;
            answer.exitCode = exitCode;
        };
        WineRegistrySnapshot snapshot([&] { return f.logger; }, runner, "/usr/bin/wine");
        QCOMPARE(snapshot.ExportKey(kKey, f.tmp + "zorvel3_Registry.reg"), result);
        QCOMPARE(snapshot.LastProblem(), problem);
        QCOMPARE(runner.requests.size(), size_t(queryExit >= 0 ? 2 : 1));
        QCOMPARE(f.TmpFiles(), QStringList{});
    }

    void failedExportKeepsAnOlderFileUntouched() {
        Fixture f;
        RecordingProcessRunner runner;
        runner.onRun = [](const RunRequest& request, RunResult& answer) {
            WriteFile(request.arguments[2].toStdString(), "partial");
            answer.exited = false;
        };
        const QString file = f.tmp + "zorvel3_Registry.reg";
        WriteFile(file.toStdString(), "older");
        WineRegistrySnapshot snapshot([&] { return f.logger; }, runner, "/usr/bin/wine");
        QVERIFY(!snapshot.ExportKey(kKey, file));
        QCOMPARE(ReadFile(file.toStdString()), std::string("older"));
        QCOMPARE(f.TmpFiles(), QStringList{"zorvel3_Registry.reg"});
    }

    // Without a prefix or without wine nothing runs (so Wine can never create a prefix of its own)
    // and no file appears.
    void nothingRunsWithoutPrefixOrWine_data() {
        QTest::addColumn<bool>("inPrefix");
        QTest::addColumn<QString>("wine");
        QTest::newRow("no prefix") << false << "/usr/bin/wine";
        QTest::newRow("no wine") << true << "";
    }
    void nothingRunsWithoutPrefixOrWine() {
        QFETCH(bool, inPrefix);
        QFETCH(QString, wine);
        Fixture f;
        MakeDirs(f.dir / "plain/ZORVEL Log3/tmp");
        const QString logger = inPrefix ? f.logger : QString::fromStdString(f.dir / "plain/ZORVEL Log3/");
        RecordingProcessRunner runner;
        WritesExport(runner, kExport);
        WineRegistrySnapshot snapshot([&] { return logger; }, runner, wine);
        const QString file = logger + "tmp/zorvel3_Registry.reg";
        WriteFile((logger + "tmp/import.reg").toStdString(), kExport);

        QVERIFY(!snapshot.ExportKey(kKey, file));
        QVERIFY(!snapshot.LastProblem().isEmpty());
        snapshot.ImportFile(logger + "tmp/import.reg");
        QCOMPARE(snapshot.LastProblem(), inPrefix ? QString("the program wine was not found")
                                                  : "the logger folder " + logger + " lies in no Wine prefix");
        QVERIFY(runner.requests.empty());
        QVERIFY(!QFileInfo::exists(file));
        QCOMPARE(QDir(logger + "tmp").entryList(QDir::Files | QDir::Hidden), QStringList{"import.reg"});
    }

    void exportIntoAMissingFolderRunsNothing() {
        Fixture f;
        RecordingProcessRunner runner;
        WineRegistrySnapshot snapshot([&] { return f.logger; }, runner, "/usr/bin/wine");
        QVERIFY(!snapshot.ExportKey(kKey, f.logger + "no such folder/x.reg"));
        QVERIFY(runner.requests.empty());
    }

    void importRunsRegeditSilentlyWithTheFile() {
        Fixture f;
        const QString file = f.tmp + "zorvel3_Registry.reg";
        WriteFile(file.toStdString(), kExport);
        RecordingProcessRunner runner;
        runner.result.exitCode = 5;  // whatever the editor says, nothing is reported
        WineRegistrySnapshot snapshot([&] { return f.logger; }, runner, "/usr/bin/wine");
        snapshot.ImportFile(file);
        QCOMPARE(runner.requests.size(), size_t(1));
        QCOMPARE(runner.requests[0].arguments, (QStringList{"regedit", "/S", file}));
        QCOMPARE(runner.requests[0].setEnv.value("WINEPREFIX"), f.prefix);
        QCOMPARE(runner.requests[0].timeoutMs, -1);
        QCOMPARE(ReadFile(file.toStdString()), kExport);
    }

    void importOfAMissingFileDoesNothing() {
        Fixture f;
        RecordingProcessRunner runner;
        WineRegistrySnapshot snapshot([&] { return f.logger; }, runner, "/usr/bin/wine");
        snapshot.ImportFile(f.tmp + "zorvel3_Registry.reg");
        snapshot.ImportFile(f.tmp);  // a folder is no snapshot either
        QVERIFY(runner.requests.empty());
    }

    // The logger folder is asked on every call, so a changed folder moves to its own prefix.
    void followsTheLoggerFolder() {
        Fixture f;
        MakeDirs(f.dir / "plain/tmp");
        QString logger = QString::fromStdString(f.dir / "plain/");
        RecordingProcessRunner runner;
        WritesExport(runner, kExport);
        WineRegistrySnapshot snapshot([&] { return logger; }, runner, "/usr/bin/wine");
        QVERIFY(!snapshot.ExportKey(kKey, logger + "tmp/a.reg"));
        logger = f.logger;
        QVERIFY(snapshot.ExportKey(kKey, logger + "tmp/a.reg"));
        QCOMPARE(runner.requests.size(), size_t(1));
    }
};

QTEST_MAIN(WineRegistrySnapshotTest)
#include "wine_registry_snapshot_test.moc"
