// The schedule command; see schedule_command.h.
#include "app/commands/schedule_command.h"

#include "app/commands/systemd_units.h"
#include "app/platform/service_manager.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

namespace app {

namespace {

const char* const kUnits[] = {kBackupTimerUnit, kBackupServiceUnit, kWatchServiceUnit};

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool WriteText(const QString& path, const QString& text) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return false;
    file.write(text.toUtf8());
    return file.commit();
}

QString FirstLine(const QString& text) { return text.trimmed().section(QLatin1Char('\n'), 0, 0).trimmed(); }

}  // namespace

bool UserManagerAnswers(const platform::ManagerAnswer& answer) {
    if (!answer.started) return false;
    static const QStringList kRunning = {"initializing", "starting", "running", "degraded", "maintenance", "stopping"};
    return kRunning.contains(FirstLine(answer.out));
}

ScheduleCommand::ScheduleCommand(platform::ServiceManager& manager, QString unitFolder,
                                 std::function<void(const QString&)> out, std::function<void(const QString&)> err)
    : manager_(manager), unitFolder_(std::move(unitFolder)), out_(std::move(out)), err_(std::move(err)) {}

bool ScheduleCommand::ManagerThere() {
    const platform::ManagerAnswer answer = manager_.Systemctl({QStringLiteral("is-system-running")});
    if (UserManagerAnswers(answer)) return true;
    if (!answer.started)
        managerProblem_ = QStringLiteral("%1 cannot be started").arg(manager_.Program());
    else
        managerProblem_ = QStringLiteral("`%1 --user is-system-running` answers \"%2\"")
                              .arg(manager_.Program(), FirstLine(answer.out + QLatin1Char('\n') + answer.err));
    return false;
}

bool ScheduleCommand::Call(const QStringList& arguments) {
    const platform::ManagerAnswer answer = manager_.Systemctl(arguments);
    if (answer.started && answer.exitCode == 0) return true;
    err_(QStringLiteral("`%1 --user %2` failed%3")
             .arg(manager_.Program(), arguments.join(QLatin1Char(' ')),
                  answer.err.trimmed().isEmpty() ? QString() : QStringLiteral(": ") + answer.err.trimmed()));
    return false;
}

void ScheduleCommand::ShowCrontab(const ScheduleRequest& request) {
    QStringList lines;
    bool writable = true;
    if (request.nightly) {
        const auto line = CrontabLine(CrontabNightly(*request.nightly), request.program, request.backupArguments);
        writable = writable && line.has_value();
        if (line) lines << *line;
    }
    if (request.onLoggerExit) {
        const auto line = CrontabLine(QStringLiteral("@reboot"), request.program, request.watchArguments);
        writable = writable && line.has_value();
        if (line) lines << *line;
    }
    if (!writable) {
        err_(QStringLiteral("A crontab line cannot hold a line break, and a path here holds one; rename the folder "
                            "to schedule the backups with cron."));
        return;
    }
    err_(QStringLiteral("Add this to your crontab instead (crontab -e):"));
    for (const QString& line : lines) out_(line);
}

ScheduleResult ScheduleCommand::Install(const ScheduleRequest& request) {
    if (!ManagerThere()) {
        err_(QStringLiteral("There is no systemd user service manager here (%1); nothing was scheduled.")
                 .arg(managerProblem_));
        ShowCrontab(request);
        return ScheduleResult::NoManager;
    }
    struct Unit {
        const char* name;
        QString text;
        const char* started;  // the unit to enable and start
    };
    std::vector<Unit> units;
    if (request.nightly) {
        units.push_back({kBackupServiceUnit, BackupServiceUnit(request.program, request.backupArguments), nullptr});
        units.push_back({kBackupTimerUnit, BackupTimerUnit(*request.nightly), kBackupTimerUnit});
    }
    if (request.onLoggerExit)
        units.push_back({kWatchServiceUnit, WatchServiceUnit(request.program, request.watchArguments), kWatchServiceUnit});

    if (!QDir().mkpath(unitFolder_)) {
        err_(QStringLiteral("The folder %1 cannot be made; nothing was scheduled.").arg(unitFolder_));
        return ScheduleResult::Failed;
    }
    QStringList changed;
    for (const Unit& unit : units) {
        const QString path = unitFolder_ + QLatin1Char('/') + QLatin1String(unit.name);
        const bool existed = QFile::exists(path);
        if (existed && ReadText(path) == unit.text) continue;
        if (!WriteText(path, unit.text)) {
            err_(QStringLiteral("%1 cannot be written.").arg(path));
            return ScheduleResult::Failed;
        }
        out_(QStringLiteral("Wrote ") + path);
        if (existed) changed << QLatin1String(unit.name);
    }
    if (!Call({QStringLiteral("daemon-reload")})) return ScheduleResult::Failed;
    for (const Unit& unit : units) {
        if (!unit.started) continue;
        if (!Call({QStringLiteral("enable"), QStringLiteral("--now"), QLatin1String(unit.started)}))
            return ScheduleResult::Failed;
    }
    // A unit that was running with its older text takes the new one now (enable --now left it running).
    QStringList restart;
    if (changed.contains(QLatin1String(kBackupTimerUnit))) restart << QLatin1String(kBackupTimerUnit);
    if (changed.contains(QLatin1String(kWatchServiceUnit))) restart << QLatin1String(kWatchServiceUnit);
    if (!restart.isEmpty() && !Call(QStringList{QStringLiteral("try-restart")} + restart)) return ScheduleResult::Failed;

    if (request.nightly)
        out_(QStringLiteral("A backup is made every night at %1 (or at the next start after a night the machine was off).")
                 .arg(request.nightly->toString(QStringLiteral("HH:mm"))));
    if (request.onLoggerExit) out_(QStringLiteral("A backup is made each time ZORVEL_Log 3 closes."));
    return ScheduleResult::Done;
}

ScheduleResult ScheduleCommand::Remove() {
    QStringList installed;
    for (const char* unit : kUnits)
        if (QFile::exists(unitFolder_ + QLatin1Char('/') + QLatin1String(unit))) installed << QLatin1String(unit);
    if (installed.isEmpty()) {
        out_(QStringLiteral("No ZORVEL_Backup units are installed in %1.").arg(unitFolder_));
        return ScheduleResult::Done;
    }
    const bool manager = ManagerThere();
    QStringList started;
    for (const QString& unit : installed)
        if (unit != QLatin1String(kBackupServiceUnit)) started << unit;
    // Without a manager nothing runs them: the files only need to go.
    if (manager && !started.isEmpty() && !Call(QStringList{QStringLiteral("disable"), QStringLiteral("--now")} + started))
        return ScheduleResult::Failed;
    for (const QString& unit : installed) {
        const QString path = unitFolder_ + QLatin1Char('/') + unit;
        if (!QFile::remove(path)) {
            err_(QStringLiteral("%1 cannot be deleted.").arg(path));
            return ScheduleResult::Failed;
        }
        out_(QStringLiteral("Removed ") + path);
    }
    if (manager && !Call({QStringLiteral("daemon-reload")})) return ScheduleResult::Failed;
    return ScheduleResult::Done;
}

void ScheduleCommand::Show() {
    bool any = false;
    for (const char* unit : kUnits) {
        const QString path = unitFolder_ + QLatin1Char('/') + QLatin1String(unit);
        if (!QFile::exists(path)) continue;
        if (any) out_(QString());
        any = true;
        out_(QStringLiteral("# ") + path);
        QString text = ReadText(path);
        if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
        out_(text);
    }
    if (!any) out_(QStringLiteral("No ZORVEL_Backup units are installed in %1.").arg(unitFolder_));
}

}  // namespace app
