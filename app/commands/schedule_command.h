// Installing, removing and showing the units of the automatic backups (see systemd_units.h).
//
// Installing asks the user's service manager first whether it is there at all (`systemctl --user
// is-system-running`); without one (no systemctl, or no manager answering, as in a container or under
// WSL) nothing is written, and the crontab lines that would do the same are shown instead. Otherwise
// the unit files are written (each replaced whole, never left half-written), the manager reloads them,
// and the timer and the watcher are enabled and started; a watcher or timer that ran with an older text
// is restarted, so that the new options hold from now on. Units that were not asked for are left as
// they are.
#pragma once

#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>
#include <optional>

namespace app {

namespace platform {
class ServiceManager;
struct ManagerAnswer;
}  // namespace platform

struct ScheduleRequest {
    QString program;               // the program in the logger folder, absolute
    std::optional<QTime> nightly;  // the nightly timer's time, when asked for
    bool onLoggerExit = false;     // the watcher
    QStringList backupArguments;   // after the program, for the nightly backup: "backup", "--notify", ...
    QStringList watchArguments;    // after the program, for the watcher: "watch", ...
};

enum class ScheduleResult {
    Done,
    NoManager,  // no user service manager: nothing was written; the crontab lines were shown
    Failed,     // a unit file could not be written, or the manager refused: said why
};

class ScheduleCommand {
public:
    // `out` and `err` take the lines for standard output and standard error.
    ScheduleCommand(platform::ServiceManager& manager, QString unitFolder, std::function<void(const QString&)> out,
                    std::function<void(const QString&)> err);

    ScheduleResult Install(const ScheduleRequest& request);
    // Stops, disables and deletes whichever of the three units are installed.
    ScheduleResult Remove();
    // Prints the installed units, each after a line naming its file.
    void Show();

private:
    bool ManagerThere();
    bool Call(const QStringList& arguments);
    void ShowCrontab(const ScheduleRequest& request);

    platform::ServiceManager& manager_;
    QString unitFolder_;
    std::function<void(const QString&)> out_;
    std::function<void(const QString&)> err_;
    QString managerProblem_;
};

// Whether `systemctl --user is-system-running` came from a manager that runs: its answer names a state
// of a running manager ("running", "degraded", "starting"...); "offline", "unknown" or none is no manager.
bool UserManagerAnswers(const platform::ManagerAnswer& answer);

}  // namespace app
