// ./run.sh on a machine without a display: it says so at once -- before set-up and the build, which take
// minutes -- and its advice names ways that really show the window (not a virtual display nobody sees).
#include "tests/support/test_support.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

class RunScriptTest : public QObject {
    Q_OBJECT

private slots:
    void noDisplayIsToldBeforeTheBuild() {
        QProcess run;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) env.remove(QLatin1String(name));
        // A folder that exists: the argument is checked first, and the advice repeats it.
        env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
        run.setProcessEnvironment(env);
        run.setProgram(QStringLiteral("bash"));
        run.setArguments({QString::fromStdString(testing_support::SourceDir() + "/run.sh"), QStringLiteral("/tmp")});
        QElapsedTimer timer;
        timer.start();
        run.start();
        QVERIFY(run.waitForFinished(20000));
        QVERIFY2(timer.elapsed() < 5000, "the display check comes after the build");
        QCOMPARE(run.exitCode(), 1);
        const QString said = QString::fromUtf8(run.readAllStandardError());
        QVERIFY2(said.contains("no display"), qPrintable(said));
        QVERIFY2(said.contains("ssh -X") && said.contains("QT_QPA_PLATFORM=vnc ./run.sh /tmp"), qPrintable(said));
        QVERIFY2(!said.contains("xvfb-run"), qPrintable(said));
        QVERIFY(run.readAllStandardOutput().isEmpty());  // no set-up, no cmake
    }
};

QTEST_MAIN(RunScriptTest)
#include "run_script_test.moc"
