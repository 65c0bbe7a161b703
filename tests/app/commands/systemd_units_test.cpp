// The units' command lines and the crontab lines, read back by their real readers: each ExecStart=
// by a real systemd user manager that runs it (a recorder program in a folder of the case's name keeps
// the arguments it got), each crontab line by cron's rule for "%" and then a real /bin/sh; and the three
// unit files as `schedule` writes them by `systemd-analyze verify`, which also finds the program by the
// path written. The words cover what a folder or a file name may hold: blanks, "&", "%" and specifier
// look-alikes, "$" and variable look-alikes, both quotes, backslashes, non-ASCII letters, tabs, line
// breaks and a control character, and words a command line gives meaning to (";", "-", "@", "!").
#include "app/commands/systemd_units.h"
#include "tests/app/support/user_manager.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace app;
using namespace app::testing;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

struct Words {
    const char* name;
    QString folder;  // the recorder's folder name
    QStringList arguments;
};

const QList<Words>& Cases() {
    static const QList<Words> cases = {
        {"plain", "Log", {"backup", "--keep", "14"}},
        {"blanks and ampersand", "My Log & Co", {"--to", "/b/x y&z", "  "}},
        {"percent and specifiers", "100% Log %h %n %%", {"%n", "%%", "50%", "%"}},
        {"dollar and variables", "$HOME Log ${X} $$", {"$HOME", "${PATH}", "$$", "a$", "$"}},
        {"quotes", "Op's \"Log\"", {"it's", "\"quoted\"", "'single'", "\"", "'"}},
        {"backslashes", "C:\\Log\\ \\n", {"\\", "a\\nb", "\\\\", "\\x41", "\\\""}},
        {"non-ASCII", QString::fromUtf8("J\u00fcrgen \u00d8ster \u03a9 \u65e5\u672c"), {QString::fromUtf8("\u03a9mega"), QString::fromUtf8("\u00fc")}},
        {"tab, line break, control character", "tab\there\nnext", {"line\nbreak", "tab\tchar", QString("bell") + QChar(7)}},
        {"words with a meaning", "semi;colon", {";", "-", "@x", "+", "!", ":"}},
    };
    return cases;
}

// A program that writes its argv[0] and arguments, each followed by NUL, to `record`.
QString WriteRecorder(const QString& folder, const QString& record) {
    QDir().mkpath(folder);
    const QString program = folder + QStringLiteral("/ZORVEL_Backup");
    testing_support::WriteFile(program.toStdString(),
                               "#!/bin/sh\nprintf '%s\\0' \"$0\" \"$@\" > '" + record.toStdString() + "'\n");
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    return program;
}

QStringList Recorded(const QString& record) {
    QFile file(record);
    if (!file.open(QIODevice::ReadOnly)) return {QStringLiteral("<nothing recorded>")};
    QStringList words;
    for (const QByteArray& word : file.readAll().split('\0')) words << QString::fromUtf8(word);
    words.removeLast();  // after the last NUL
    return words;
}

// What cron hands /bin/sh from a crontab line (crontab(5)): the command after the time fields (one
// word here: "@reboot"), each "\%" made "%", and everything from the first other "%" on sent as input
// instead. Other backslashes stay.
QString CronCommand(const QString& line) {
    const QString command = line.section(QLatin1Char(' '), 1);
    QString out;
    for (qsizetype i = 0; i < command.size(); ++i) {
        if (command[i] == QLatin1Char('\\') && i + 1 < command.size() && command[i + 1] == QLatin1Char('%')) {
            out += QLatin1Char('%');
            ++i;
        } else if (command[i] == QLatin1Char('%')) {
            break;
        } else {
            out += command[i];
        }
    }
    return out;
}

}  // namespace

class SystemdUnitsTest : public QObject {
    Q_OBJECT

    testing_support::TempDir dir_;

private slots:
    // Every case as a oneshot unit under a real user manager: the program must get exactly its path
    // and the arguments.
    void execStartReadBySystemd() {
        const QString home = Q(dir_ / "home");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        UserManager manager(env, Q(dir_ / "runtime"));
        if (!manager.skip.isEmpty()) QSKIP(qPrintable(manager.skip));
        const QString units = home + "/.config/systemd/user";
        QDir().mkpath(units);
        const QString record = Q(dir_ / "record");

        int i = 0;
        for (const Words& c : Cases()) {
            const QString program = WriteRecorder(Q(dir_ / "units") + "/" + c.folder, record);
            const QString unit = QStringLiteral("zb-words-%1.service").arg(++i);
            testing_support::WriteFile((units + "/" + unit).toStdString(),
                                       ("[Service]\nType=oneshot\nExecStart=" + ExecStartCommand(program, c.arguments) + "\n")
                                           .toUtf8()
                                           .toStdString());
            QFile::remove(record);
            int code = -1;
            manager.Systemctl({"daemon-reload"});
            manager.Systemctl({"start", unit}, &code);
            QVERIFY2(code == 0, qPrintable(QString(c.name) + ": " + ExecStartCommand(program, c.arguments)));
            QCOMPARE(Recorded(record), QStringList{program} + c.arguments);
        }
    }

    // The three units as `schedule` writes them pass systemd's own check, the program found by the
    // path written (for a program systemd takes directly) or through /bin/sh.
    void unitsPassVerify() {
        const QString analyze = QStandardPaths::findExecutable("systemd-analyze");
        if (analyze.isEmpty()) QSKIP("systemd is not installed (scripts/setup.sh installs it)");
        for (const QString& folder : {QString::fromUtf8("Log 100% & J\u00fcrgen \u03a9"), QString("Op's \"Log\" \\ $x")}) {
            const QString program = WriteRecorder(Q(dir_ / "verify") + "/" + folder, Q(dir_ / "unused"));
            const QString units = Q(dir_ / "verify-units");
            QDir(units).removeRecursively();
            QDir().mkpath(units);
            const QStringList arguments{"--to", "/b/x \"y\" 50% $z", "--keep", "14"};
            testing_support::WriteFile((units + "/" + kBackupServiceUnit).toStdString(),
                                       BackupServiceUnit(program, QStringList{"backup", "--notify"} + arguments).toUtf8().toStdString());
            testing_support::WriteFile((units + "/" + kBackupTimerUnit).toStdString(),
                                       BackupTimerUnit(QTime(2, 30)).toUtf8().toStdString());
            testing_support::WriteFile((units + "/" + kWatchServiceUnit).toStdString(),
                                       WatchServiceUnit(program, QStringList{"watch"} + arguments).toUtf8().toStdString());
            QProcess verify;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_RUNTIME_DIR", Q(dir_ / "runtime-verify"));
            QDir().mkpath(Q(dir_ / "runtime-verify"));
            verify.setProcessEnvironment(env);
            verify.setProcessChannelMode(QProcess::MergedChannels);
            verify.start(analyze, {"--user", "verify", units + "/" + kBackupServiceUnit, units + "/" + kBackupTimerUnit,
                                   units + "/" + kWatchServiceUnit});
            QVERIFY(verify.waitForFinished(60000));
            QVERIFY2(verify.exitCode() == 0, qPrintable(folder + ": " + verify.readAll()));

            // And it does find a program that is not where the unit says.
            QVERIFY(QFile::rename(program, program + ".moved"));
            verify.start(analyze, {"--user", "verify", units + "/" + kBackupServiceUnit});
            QVERIFY(verify.waitForFinished(60000));
            if (!folder.contains('"')) QVERIFY2(verify.exitCode() != 0, qPrintable(folder));
        }
    }

    // Every case as a crontab line, read by cron's rule and run by /bin/sh; a line break cannot be
    // written in a crontab line at all.
    void crontabReadByCronAndShell() {
        const QString record = Q(dir_ / "cron-record");
        for (const Words& c : Cases()) {
            const QString program = WriteRecorder(Q(dir_ / "cron") + "/" + c.folder, record);
            const std::optional<QString> line = CrontabLine("@reboot", program, c.arguments);
            const bool breaks = (c.folder + c.arguments.join(' ')).contains('\n');
            QVERIFY2(line.has_value() == !breaks, c.name);
            if (!line) continue;
            QVERIFY2(!line->contains('\n'), c.name);
            QFile::remove(record);
            QProcess shell;
            shell.start("/bin/sh", {"-c", CronCommand(*line)});
            QVERIFY(shell.waitForFinished(30000));
            QVERIFY2(shell.exitCode() == 0, qPrintable(QString(c.name) + ": " + *line));
            QCOMPARE(Recorded(record), QStringList{program} + c.arguments);
        }
        QCOMPARE(CrontabNightly(QTime(2, 30)), QStringLiteral("30 2 * * *"));
        QCOMPARE(CrontabNightly(QTime(0, 5)), QStringLiteral("5 0 * * *"));
    }
};

QTEST_MAIN(SystemdUnitsTest)
#include "systemd_units_test.moc"
