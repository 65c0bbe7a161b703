// The schedule command at its decisions, with a recording service manager: whether a manager is there
// (from what `is-system-running` answers), that only a unit whose text changed is restarted, what a
// refusal of the manager says, and that --remove asks nothing when nothing is installed. The real
// manager reads the same texts in systemd_units_test.cpp, and the real program drives a recording
// systemctl (and meets no manager) in cli/automatic_test.cpp.
#include "app/commands/schedule_command.h"
#include "app/commands/systemd_units.h"
#include "app/platform/service_manager.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace app;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

class RecordingManager : public platform::ServiceManager {
public:
    platform::ManagerAnswer Systemctl(const QStringList& arguments) override {
        calls << arguments.join(' ');
        if (arguments.value(0) == "is-system-running") return state;
        platform::ManagerAnswer answer{true, failing.contains(arguments.value(0)) ? 1 : 0, {}, "refused"};
        return answer;
    }
    QString Program() const override { return "systemctl"; }

    platform::ManagerAnswer state{true, 0, "running\n", {}};
    QStringList failing;  // the verbs that fail
    QStringList calls;
};

}  // namespace

class ScheduleCommandTest : public QObject {
    Q_OBJECT

private slots:
    void isThereAManager() {
        const struct {
            platform::ManagerAnswer answer;
            bool there;
        } cases[] = {
            {{true, 0, "running\n", ""}, true},
            {{true, 1, "degraded\n", ""}, true},  // a failed unit somewhere: the manager runs all the same
            {{true, 1, "starting\n", ""}, true},
            {{true, 1, "maintenance\n", ""}, true},
            {{true, 1, "offline\n", ""}, false},  // not booted with systemd (a container, WSL)
            {{true, 1, "unknown\n", ""}, false},
            {{true, 1, "", "Failed to connect to bus: No such file or directory\n"}, false},
            {{false, -1, "", ""}, false},  // no systemctl
        };
        for (const auto& c : cases)
            QVERIFY2(UserManagerAnswers(c.answer) == c.there, qPrintable(c.answer.out + c.answer.err));
    }

    void installAndRemove() {
        testing_support::TempDir dir;
        const QString units = Q(dir / "units");
        RecordingManager manager;
        QStringList out, err;
        ScheduleCommand command(manager, units, [&](const QString& l) { out << l; }, [&](const QString& l) { err << l; });
        ScheduleRequest request{"/L/ZORVEL_Backup", QTime(2, 30), true, {"backup", "--notify"}, {"watch"}};

        QCOMPARE(command.Install(request), ScheduleResult::Done);
        QCOMPARE(manager.calls, QStringList({"is-system-running", "daemon-reload", "enable --now zorvel-backup.timer",
                                             "enable --now zorvel-backup-watch.service"}));
        QCOMPARE(QDir(units).entryList(QDir::Files), QStringList({kWatchServiceUnit, kBackupServiceUnit, kBackupTimerUnit}));

        // The same again changes nothing and restarts nothing; a new time restarts the timer only.
        manager.calls.clear();
        QCOMPARE(command.Install(request), ScheduleResult::Done);
        QCOMPARE(manager.calls, QStringList({"is-system-running", "daemon-reload", "enable --now zorvel-backup.timer",
                                             "enable --now zorvel-backup-watch.service"}));
        manager.calls.clear();
        request.nightly = QTime(3, 15);
        request.onLoggerExit = false;
        QCOMPARE(command.Install(request), ScheduleResult::Done);
        QCOMPARE(manager.calls, QStringList({"is-system-running", "daemon-reload", "enable --now zorvel-backup.timer",
                                             "try-restart zorvel-backup.timer"}));
        QVERIFY(testing_support::ReadFile((units + "/" + kBackupTimerUnit).toStdString()).find("OnCalendar=*-*-* 03:15:00") !=
                std::string::npos);

        // A manager that refuses: the command says what was refused and fails.
        manager.failing = {"enable"};
        err.clear();
        request.onLoggerExit = true;
        QCOMPARE(command.Install(request), ScheduleResult::Failed);
        QCOMPARE(err, QStringList{"`systemctl --user enable --now zorvel-backup.timer` failed: refused"});
        manager.failing.clear();

        manager.calls.clear();
        QCOMPARE(command.Remove(), ScheduleResult::Done);
        QCOMPARE(manager.calls, QStringList({"is-system-running", "disable --now zorvel-backup.timer zorvel-backup-watch.service",
                                             "daemon-reload"}));
        QCOMPARE(QDir(units).entryList(QDir::Files), QStringList{});
        manager.calls.clear();
        QCOMPARE(command.Remove(), ScheduleResult::Done);  // nothing left: nothing asked
        QCOMPARE(manager.calls, QStringList{});
    }
};

QTEST_MAIN(ScheduleCommandTest)
#include "schedule_command_test.moc"
