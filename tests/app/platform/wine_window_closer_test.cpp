// The close request for the logger's QSO-entry window: what is run (with a recording runner), and,
// against a real Wine, that the Win32 helper reaches a window of class "TfmEditNewQso" in the
// logger's prefix and that the guard then sees the logger end.
#include "app/logger_guard.h"
#include "app/platform/qt_process_runner.h"
#include "app/platform/wine_prefix.h"
#include "app/platform/wine_window_closer.h"
#include "tests/app/support/fakes.h"
#include "tests/app/support/own_processes.h"
#include "tests/app/support/wine_test_prefix.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <memory>

using namespace app::platform;
using namespace app::fakes;
using testing_support::MakeDirs;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

QString HelperPath() {
    return QString::fromStdString(testing_support::BinaryDir()) + "/" + QLatin1String(kCloseWindowHelper);
}

// A fake prefix, a logger folder inside it and a stand-in helper file.
struct FakeSetup {
    TempDir dir;
    QString logger;
    QString helper;
    FakeSetup() {
        WriteFile(dir / "pfx/system.reg", "");
        WriteFile(dir / "pfx/user.reg", "");
        MakeDirs(dir / "pfx/drive_c/ZORVEL Log3");
        WriteFile(dir / "bin dir/zb_close_window.exe", "MZ");
        logger = QString::fromStdString(dir / "pfx/drive_c/ZORVEL Log3/");
        helper = QString::fromStdString(dir / "bin dir/zb_close_window.exe");
    }
};

// Sleeps for real, one second a time as the guard asks, and counts.
class CountingRealSleeper : public Sleeper {
public:
    void Sleep(int ms) override {
        ++count;
        QThread::msleep(ms);
    }
    int count = 0;
};

// Passes requests on to the real closer and remembers the answers.
class ObservedCloser : public WindowCloser {
public:
    explicit ObservedCloser(WindowCloser& inner) : inner_(inner) {}
    bool RequestClose(const QString& windowClass) override {
        answers.push_back(inner_.RequestClose(windowClass));
        return answers.back();
    }
    std::vector<bool> answers;

private:
    WindowCloser& inner_;
};

}  // namespace

class WineWindowCloserTest : public QObject {
    Q_OBJECT

    std::unique_ptr<WineTestPrefix> wine_;

private slots:
    void runsTheHelperInTheLoggersPrefix() {
        FakeSetup f;
        RecordingProcessRunner runner;
        WineWindowCloser closer([&] { return f.logger; }, runner, "/usr/bin/wine", f.helper);
        QVERIFY(closer.RequestClose("TfmEditNewQso"));
        QCOMPARE(runner.requests.size(), size_t(1));
        const RunRequest& run = runner.requests[0];
        QCOMPARE(run.program, QStringLiteral("/usr/bin/wine"));
        QCOMPARE(run.arguments, (QStringList{f.helper, "TfmEditNewQso"}));
        QCOMPARE(run.setEnv.value("WINEPREFIX"), QFileInfo(QString::fromStdString(f.dir / "pfx")).canonicalFilePath());
        QCOMPARE(run.setEnv.value("WINEDEBUG"), QStringLiteral("-all"));
        QCOMPARE(run.timeoutMs, WineWindowCloser::kHelperTimeoutMs);
    }

    void answerFollowsTheHelper_data() {
        QTest::addColumn<bool>("exited");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<bool>("posted");
        QTest::newRow("posted") << true << 0 << true;
        QTest::newRow("no such window") << true << 1 << false;
        QTest::newRow("posting failed") << true << 3 << false;
        QTest::newRow("hung and was cut off") << false << -1 << false;
    }
    void answerFollowsTheHelper() {
        QFETCH(bool, exited);
        QFETCH(int, exitCode);
        QFETCH(bool, posted);
        FakeSetup f;
        RecordingProcessRunner runner;
        runner.result.exited = exited;
        runner.result.exitCode = exitCode;
        WineWindowCloser closer([&] { return f.logger; }, runner, "/usr/bin/wine", f.helper);
        QCOMPARE(closer.RequestClose("TfmEditNewQso"), posted);
    }

    void nothingRunsWithoutHelperPrefixOrWine_data() {
        QTest::addColumn<QString>("what");
        QTest::newRow("no helper") << "helper";
        QTest::newRow("no prefix") << "prefix";
        QTest::newRow("no wine") << "wine";
    }
    void nothingRunsWithoutHelperPrefixOrWine() {
        QFETCH(QString, what);
        FakeSetup f;
        MakeDirs(f.dir / "plain");
        const QString logger = what == "prefix" ? QString::fromStdString(f.dir / "plain") : f.logger;
        const QString helper = what == "helper" ? f.helper + ".missing" : f.helper;
        const QString wine = what == "wine" ? QString() : QStringLiteral("/usr/bin/wine");
        RecordingProcessRunner runner;
        WineWindowCloser closer([&] { return logger; }, runner, wine, helper);
        QVERIFY(!closer.RequestClose("TfmEditNewQso"));
        QVERIFY(runner.requests.empty());
    }

    // The 29 seconds count from the answer: the close request (Wine may take seconds to start the
    // helper; here a "wine" that takes 4 s) runs beside the wait instead of before it, and the window
    // goes on repainting all through. The logger ends after 1.5 s, so the guard is done after two
    // one-second sleeps while the request is still on its way.
    void waitCountsFromTheAnswerWhileTheRequestRunsBeside() {
        FakeSetup f;
        WriteFile(f.dir / "slow wine", "#!/bin/sh\nsleep 4\n");
        const QString slowWine = QString::fromStdString(f.dir / "slow wine");
        QVERIFY(QFile::setPermissions(slowWine, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QProcess logger;
        logger.start("bash", {"-c", "exec -a \"$0\" sleep 1.5", "C:\\ZORVEL Log3\\ZORVEL_Log3.exe"});
        QVERIFY(logger.waitForStarted(5000));
        OwnProcessList processes;
        QTRY_VERIFY(app::IsProcessRunning(processes, "ZORVEL_Log3.exe"));

        QtProcessRunner runner;
        WineWindowCloser closer([&] { return f.logger; }, runner, slowWine, f.helper);
        ScriptedDialogs dialogs({true});
        EventLoopSleeper sleeper;
        struct PaintCounter : QWidget {
            int paints = 0;
            void paintEvent(QPaintEvent*) override { ++paints; }
        } window;
        window.show();
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, &window, [&] { window.update(); });
        repaint.start(50);
        QCoreApplication::processEvents();
        const int paintsBefore = window.paints;

        QElapsedTimer timer;
        timer.start();
        app::LoggerGuard guard(processes, dialogs, closer, sleeper);
        QVERIFY(guard.Guard());
        const qint64 took = timer.elapsed();
        QVERIFY2(took >= 1000 && took < 3900, qPrintable(QString::number(took)));
        QCOMPARE(runner.Running(), 1);  // the request is still being delivered
        QVERIFY2(window.paints - paintsBefore >= 5, qPrintable(QString::number(window.paints - paintsBefore)));
        QTRY_COMPARE_WITH_TIMEOUT(runner.Running(), 0, 10000);
        logger.waitForFinished(5000);
    }

    // The whole road under Wine: a stand-in logger named ZORVEL_Log3.exe with an open QSO-entry
    // window runs in the prefix; the guard sees it in /proc, asks, has the helper post WM_CLOSE, and
    // sees the logger end within a few of its one-second sleeps.
    void guardClosesARealWineLogger() {
        if (!QFileInfo(HelperPath()).isFile()) QSKIP("the close-request helper was not built (no mingw-w64)");
        if (!testing_support::HaveTool("x86_64-w64-mingw32-gcc")) QSKIP("no mingw-w64 to build the stand-in logger");
        wine_ = std::make_unique<WineTestPrefix>(/*headlessWindows=*/true);
        if (!wine_->SkipReason().isEmpty()) QSKIP(qPrintable(wine_->SkipReason()));
        qInfo("Wine prefix made in %lld ms", wine_->BootMs());

        const QString logger = wine_->Prefix() + "/drive_c/ZORVEL Log3/";
        QVERIFY(QDir().mkpath(logger));
        const auto build = testing_support::Run(
            "x86_64-w64-mingw32-gcc -O2 -o " + testing_support::ShellQuote((logger + "ZORVEL_Log3.exe").toStdString()) + " " +
            testing_support::ShellQuote(testing_support::SourceDir() + "/tests/app/platform/win32/qso_window.c"));
        QVERIFY2(build.exitCode == 0, build.output.c_str());

        QProcess loggerProcess;
        loggerProcess.setProcessEnvironment(wine_->Environment());
        loggerProcess.setStandardInputFile(QProcess::nullDevice());
        loggerProcess.start(wine_->WineProgram(), {"C:\\ZORVEL Log3\\ZORVEL_Log3.exe"});
        QVERIFY(loggerProcess.waitForStarted(30000));
        QByteArray said;
        QElapsedTimer timer;
        timer.start();
        while (!said.contains('\n') && timer.elapsed() < 60000 && loggerProcess.state() == QProcess::Running) {
            loggerProcess.waitForReadyRead(1000);
            said += loggerProcess.readAllStandardOutput();
        }
        if (said.startsWith("nowin")) QSKIP("Wine cannot make windows without a display here");
        QVERIFY2(said.startsWith("ready"), said.constData());

        OwnProcessList processes;
        QVERIFY(app::IsProcessRunning(processes, "ZORVEL_Log3.exe"));

        QtProcessRunner runner;
        WineWindowCloser realCloser([&] { return logger; }, runner, FindWineProgram(), HelperPath());
        ObservedCloser closer(realCloser);
        ScriptedDialogs dialogs({true});
        CountingRealSleeper sleeper;
        app::LoggerGuard guard(processes, dialogs, closer, sleeper);
        QVERIFY(guard.Guard());
        QCOMPARE(dialogs.Questions().size(), 1);
        QCOMPARE(closer.answers, std::vector<bool>{true});
        QVERIFY(sleeper.count < 29);
        qInfo("the logger ended after %d sleeps", sleeper.count);

        // The runner's wait serves events, so the logger's end may already have been seen there.
        QVERIFY(loggerProcess.state() == QProcess::NotRunning || loggerProcess.waitForFinished(30000));
        said += loggerProcess.readAllStandardOutput();
        QVERIFY2(said.contains("closed"), said.constData());
        QCOMPARE(loggerProcess.exitCode(), 0);

        // With the window gone there is nothing left to ask.
        QVERIFY(!realCloser.RequestClose("TfmEditNewQso"));
    }

    void cleanupTestCase() { wine_.reset(); }
};

QTEST_MAIN(WineWindowCloserTest)
#include "wine_window_closer_test.moc"
