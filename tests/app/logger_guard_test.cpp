// The logger guard over scripted fakes (question, close request, the 29-sleep wait), and once over the
// real /proc list with a real process that carries the logger's name as a Windows path.
#include "app/logger_guard.h"
#include "app/platform/linux_process_list.h"
#include "tests/app/support/fakes.h"
#include "tests/app/support/own_processes.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

using namespace app;
using namespace app::fakes;

namespace {

// A process that shows up in /proc as `argv0` (bash replaces itself with `sleep`, keeping the pid).
bool StartNamed(QProcess& process, const QString& argv0, int seconds) {
    process.start(QStringLiteral("bash"),
                  {QStringLiteral("-c"), QStringLiteral("exec -a \"$0\" sleep %1").arg(seconds), argv0});
    return process.waitForStarted(5000);
}

// Waits (briefly) until the real list shows a process with that pid, and returns its name.
QString NameOfPid(qint64 pid, int timeoutMs = 5000) {
    platform::LinuxProcessList list;
    QElapsedTimer timer;
    timer.start();
    QString last;
    while (timer.elapsed() < timeoutMs) {
        for (const auto& entry : list.ListProcesses()) {
            if (entry.pid == pid) last = entry.name;
        }
        if (last == QLatin1String("ZORVEL_Log3.exe")) return last;  // exec done
        QThread::msleep(20);
    }
    return last;
}

// Really sleeps (shortened) and counts.
class ShortRealSleeper : public platform::Sleeper {
public:
    void Sleep(int) override {
        ++count;
        QThread::msleep(200);
    }
    int count = 0;
};

}  // namespace

class LoggerGuardTest : public QObject {
    Q_OBJECT

private slots:
    void namesCountOnlyAsAWholeIgnoringCase_data() {
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("isLogger");
        QTest::newRow("exact") << "ZORVEL_Log3.exe" << true;
        QTest::newRow("other case") << "zorvel_log3.EXE" << true;
        QTest::newRow("upper case") << "ZORVEL_LOG3.EXE" << true;
        QTest::newRow("backup copy") << "ZORVEL_Log3.exe.bak" << false;
        QTest::newRow("longer name") << "MyZORVEL_Log3.exe" << false;
        QTest::newRow("no extension") << "ZORVEL_Log3" << false;
        QTest::newRow("cut by the kernel") << "ZORVEL_Log3.ex" << false;
        QTest::newRow("blank before") << " ZORVEL_Log3.exe" << false;
        QTest::newRow("empty") << "" << false;
    }
    void namesCountOnlyAsAWholeIgnoringCase() {
        QFETCH(QString, running);
        QFETCH(bool, isLogger);
        auto list = FakeProcessList::Always({{QStringLiteral("init"), 1}, {running, 77}, {QStringLiteral("bash"), 90}});
        QCOMPARE(IsProcessRunning(list, QStringLiteral("ZORVEL_Log3.exe")), isLogger);
        QCOMPARE(list.Calls(), 1);
    }

    void emptyListRunsNothing() {
        FakeProcessList list;
        QVERIFY(!IsProcessRunning(list, QStringLiteral("ZORVEL_Log3.exe")));
    }

    // looks: how many looks at the process list see the logger. The first look is the guard's opening
    // check; the wait looks before each sleep and once more after the 29th (then the counter is spent);
    // the answer comes from one final look.
    void guard_data() {
        QTest::addColumn<int>("looks");
        QTest::addColumn<bool>("answerYes");
        QTest::addColumn<bool>("result");
        QTest::addColumn<int>("sleeps");
        QTest::addColumn<bool>("asked");
        QTest::newRow("not running: no question") << 0 << true << true << 0 << false;
        QTest::newRow("running, No: false at once") << 1000 << false << false << 0 << true;
        QTest::newRow("No, though it ended meanwhile") << 1 << false << true << 0 << true;
        QTest::newRow("gone right after the request") << 1 << true << true << 0 << true;
        QTest::newRow("ends after 5 sleeps") << 6 << true << true << 5 << true;
        QTest::newRow("ends during the last sleep") << 30 << true << true << 29 << true;
        QTest::newRow("gone at the look after the last sleep") << 31 << true << true << 29 << true;
        QTest::newRow("still there at the final look") << 32 << true << false << 29 << true;
        QTest::newRow("never ends") << 1000 << true << false << 29 << true;
    }
    void guard() {
        QFETCH(int, looks);
        QFETCH(bool, answerYes);
        QFETCH(bool, result);
        QFETCH(int, sleeps);
        QFETCH(bool, asked);
        FakeServices s;
        s.processes = FakeProcessList::LoggerFor(looks);
        s.dialogs.answers = {answerYes};
        bool postedBeforeSleeping = false;
        s.windowCloser.onRequest = [&](const QString&) { postedBeforeSleeping = s.sleeper.Count() == 0; };

        LoggerGuard guard(s.processes, s.dialogs, s.windowCloser, s.sleeper);
        QCOMPARE(guard.Guard(), result);

        QCOMPARE(s.sleeper.Count(), sleeps);
        for (int ms : s.sleeper.sleeps) QCOMPARE(ms, 1000);
        QCOMPARE(s.dialogs.Questions(),
                 asked ? QStringList{QStringLiteral("You must be close \"ZORVEL_Log 3\" program")} : QStringList{});
        QVERIFY(s.dialogs.Informations().isEmpty());
        if (asked && answerYes) {
            QCOMPARE(s.windowCloser.requests, QStringList{QStringLiteral("TfmEditNewQso")});
            QVERIFY(postedBeforeSleeping);
        } else {
            QVERIFY(s.windowCloser.requests.isEmpty());
        }
    }

    void closeRequestThatFindsNoWindowStillWaits() {
        FakeServices s;
        s.processes = FakeProcessList::LoggerFor(4);
        s.windowCloser.posted = false;
        LoggerGuard guard(s.processes, s.dialogs, s.windowCloser, s.sleeper);
        QVERIFY(guard.Guard());
        QCOMPARE(s.sleeper.Count(), 3);
    }

    void realProcessWithAWindowsPathIsSeenUntilItEnds() {
        QProcess logger;
        QVERIFY(StartNamed(logger, QStringLiteral("C:\\Windows\\ZORVEL_Log3.exe"), 30));
        const qint64 pid = logger.processId();
        QCOMPARE(NameOfPid(pid), QStringLiteral("ZORVEL_Log3.exe"));
        platform::LinuxProcessList list;
        QVERIFY(IsProcessRunning(list, QStringLiteral("zorvel_log3.exe")));

        logger.kill();
        QVERIFY(logger.waitForFinished(5000));
        for (const auto& entry : list.ListProcesses()) QVERIFY(entry.pid != pid);
    }

    // A logger that has ended but was not yet collected by its parent (a zombie) is gone: `sleep`
    // never collects children, so the renamed child stays a zombie while its parent sleeps on.
    void zombieLoggerIsNotRunning() {
        QProcess parent;
        parent.start(QStringLiteral("bash"),
                     {QStringLiteral("-c"), QStringLiteral("(exec -a 'C:\\ZORVEL_Log3.exe' sleep 0.3) & exec sleep 4")});
        QVERIFY(parent.waitForStarted(5000));
        platform::LinuxProcessList list;
        qint64 child = 0;
        QElapsedTimer timer;
        timer.start();
        while (child == 0 && timer.elapsed() < 3000) {
            for (const auto& entry : list.ListProcesses())
                if (entry.name == QLatin1String("ZORVEL_Log3.exe") && ParentPid(entry.pid) == parent.processId())
                    child = entry.pid;
            if (child == 0) QThread::msleep(10);
        }
        QVERIFY2(child != 0, "the renamed child never showed up");
        QByteArray stat;
        while (timer.elapsed() < 3500) {
            QFile file(QStringLiteral("/proc/%1/stat").arg(child));
            QVERIFY(file.open(QIODevice::ReadOnly));
            stat = file.readAll();
            if (stat.contains(") Z ")) break;
            QThread::msleep(20);
        }
        QVERIFY2(stat.contains(") Z "), stat.constData());
        for (const auto& entry : list.ListProcesses()) QVERIFY(entry.pid != child);
        OwnProcessList own;
        QVERIFY(!IsProcessRunning(own, QStringLiteral("ZORVEL_Log3.exe")));
        parent.kill();
        parent.waitForFinished(5000);
    }

    // The guard over the real list: the logger ends after about a second while the guard sleeps
    // (shortened here); the guard then answers true.
    void guardOverTheRealListWaitsForARealLoggerToEnd() {
        OwnProcessList list;  // other tests may run loggers of their own meanwhile
        QProcess logger;
        QVERIFY(StartNamed(logger, QStringLiteral("Z:\\opt\\ZORVEL Log 3\\ZORVEL_Log3.exe"), 1));
        QCOMPARE(NameOfPid(logger.processId()), QStringLiteral("ZORVEL_Log3.exe"));
        ScriptedDialogs dialogs({true});
        RecordingWindowCloser closer;
        ShortRealSleeper sleeper;
        LoggerGuard guard(list, dialogs, closer, sleeper);
        QVERIFY(guard.Guard());
        QVERIFY(sleeper.count >= 1);
        QVERIFY(sleeper.count < 29);
        QCOMPARE(dialogs.Questions().size(), 1);
        logger.waitForFinished(5000);
    }
};

QTEST_MAIN(LoggerGuardTest)
#include "logger_guard_test.moc"
