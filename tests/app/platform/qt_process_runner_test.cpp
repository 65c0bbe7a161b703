// Starting and waiting for real programs: arguments arrive unchanged (no shell), the environment is
// changed as asked, exit codes and abnormal ends are told apart, and a time limit kills the child.
#include "app/platform/qt_process_runner.h"
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

using namespace app::platform;

class QtProcessRunnerTest : public QObject {
    Q_OBJECT

private slots:
    void argumentsArriveUnchanged() {
        testing_support::TempDir dir;
        const QString out = QString::fromStdString(dir / "args.txt");
        QtProcessRunner runner;
        RunRequest request;
        request.program = "bash";
        request.arguments = {"-c", "printf '%s\\n' \"$@\" > \"$0\"", out, "a b", "\"quoted\"", "$HOME", "C:\\ZORVEL Log3\\x.reg", "*"};
        const RunResult result = runner.RunAndWait(request);
        QVERIFY(result.started && result.exited);
        QCOMPARE(result.exitCode, 0);
        QCOMPARE(QString::fromStdString(testing_support::ReadFile(out.toStdString())),
                 QStringLiteral("a b\n\"quoted\"\n$HOME\nC:\\ZORVEL Log3\\x.reg\n*\n"));
    }

    void environmentIsSetAndUnset() {
        testing_support::TempDir dir;
        const QString out = QString::fromStdString(dir / "env.txt");
        qputenv("ZB_RUNNER_KEEP", "kept");
        qputenv("ZB_RUNNER_DROP", "dropped");
        QtProcessRunner runner;
        RunRequest request;
        request.program = "bash";
        request.arguments = {"-c", "echo \"$ZB_RUNNER_KEEP|${ZB_RUNNER_DROP-unset}|$ZB_RUNNER_NEW\" > \"$0\"", out};
        request.setEnv = {{"ZB_RUNNER_NEW", "new value"}};
        request.unsetEnv = {"ZB_RUNNER_DROP"};
        QVERIFY(runner.RunAndWait(request).exited);
        QCOMPARE(testing_support::ReadFile(out.toStdString()), std::string("kept|unset|new value\n"));
        qunsetenv("ZB_RUNNER_KEEP");
        qunsetenv("ZB_RUNNER_DROP");
    }

    void endsAreToldApart_data() {
        QTest::addColumn<QString>("script");
        QTest::addColumn<bool>("exited");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("success") << "exit 0" << true << 0;
        QTest::newRow("failure code") << "exit 3" << true << 3;
        QTest::newRow("killed by a signal") << "kill -9 $$" << false << -1;
        QTest::newRow("reads no input") << "cat; exit 0" << true << 0;
    }
    void endsAreToldApart() {
        QFETCH(QString, script);
        QFETCH(bool, exited);
        QFETCH(int, exitCode);
        QtProcessRunner runner;
        const RunResult result = runner.RunAndWait({"bash", {"-c", script}, {}, {}, -1});
        QVERIFY(result.started);
        QCOMPARE(result.exited, exited);
        if (exited) QCOMPARE(result.exitCode, exitCode);
    }

    void missingProgramDoesNotStart() {
        QtProcessRunner runner;
        const RunResult result = runner.RunAndWait({"/nonexistent/zb-no-such-program", {}, {}, {}, -1});
        QVERIFY(!result.started);
        QVERIFY(!result.exited);
    }

    void timeLimitKillsTheChild() {
        QtProcessRunner runner;
        QElapsedTimer timer;
        timer.start();
        const RunResult result = runner.RunAndWait({"sleep", {"20"}, {}, {}, 300});
        QVERIFY(result.started);
        QVERIFY(!result.exited);
        QVERIFY(timer.elapsed() < 10000);
    }

    // The wait keeps the caller's thread serving its timers (so a window repaints) until the program
    // ends; a program started beside the caller returns at once and is still ended by its time limit.
    void waitServesTheCallerAndStartRunsBeside() {
        QtProcessRunner runner;
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start(20);
        QElapsedTimer timer;
        timer.start();
        const RunResult waited = runner.RunAndWait({"sleep", {"0.5"}, {}, {}, -1});
        QVERIFY(waited.exited && timer.elapsed() >= 450);
        QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));

        timer.restart();
        QVERIFY(runner.Start({"sleep", {"20"}, {}, {}, 300}));
        QVERIFY(timer.elapsed() < 1000);
        QCOMPARE(runner.Running(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(runner.Running(), 0, 5000);
        QVERIFY(timer.elapsed() < 10000);
        QVERIFY(!runner.Start({"/nonexistent/zb-no-such-program", {}, {}, {}, -1}));
    }
};

QTEST_MAIN(QtProcessRunnerTest)
#include "qt_process_runner_test.moc"
