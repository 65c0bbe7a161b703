// The automatic work on the command line; see automatic.h. The commands themselves (the watcher's
// states, the status, the unit texts) live in app/commands; here they get the real processes, waits,
// notifications and service manager, and report into the terminal.
#include "app/cli/automatic.h"

#include "app/backup_layout.h"
#include "app/cli/interrupts.h"
#include "app/cli/run_checks.h"
#include "app/commands/backup_status.h"
#include "app/commands/create_command.h"
#include "app/commands/exit_codes.h"
#include "app/commands/schedule_command.h"
#include "app/commands/systemd_units.h"
#include "app/commands/unattended.h"
#include "app/commands/watch_command.h"
#include "app/platform/dbus_notifier.h"
#include "app/platform/linux_process_list.h"
#include "app/platform/pidfd_waiter.h"
#include "app/platform/service_manager.h"
#include "app/startup_facts.h"

#include <QDateTime>
#include <QRegularExpression>

namespace app::cli {

namespace {

QString Stamped(const QString& line) {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) + line;
}

void Notify(platform::Notifier& notifier, const platform::Notification& notification, TerminalReporter& term) {
    if (!notifier.Notify(notification)) term.Err(NotShownText(notifier.LastProblem()));
}

// The end of an unattended backup: the notification when it failed or is incomplete, and the record.
void TellUnattended(UnattendedKind kind, const app::UnattendedBackup& backup, platform::Notifier& notifier,
                    TerminalReporter& term) {
    if (const auto notification = BackupNotification(kind, backup.exitCode, backup.reasons))
        Notify(notifier, *notification, term);
    QString problem;
    // The archive has a place of its own in the record: "Created file: <it>" need not be the reason too.
    QString reason = OneLine(backup.reasons);
    if (!backup.archivePath.isEmpty())
        reason = reason.remove(QString::fromLatin1(kCreatedFile) + backup.archivePath).simplified();
    if (backup.unchanged) reason = reason.remove(UnchangedText(backup.archivePath)).simplified();
    UnattendedRun run{QDateTime::currentDateTime(), backup.exitCode, backup.archivePath, reason};
    run.unchanged = backup.unchanged;
    if (!RecordUnattendedRun(kind, run, &problem))
        term.Err(QStringLiteral("The record of this backup for `ZORVEL_Backup status` could not be kept: %1.")
                     .arg(problem));
}

// One backup with its error lines kept; an error the create command raises ends it as failed.
app::UnattendedBackup CapturedBackup(const BackupOptions& options, const Context& ctx, const BackupWatch* watch) {
    app::UnattendedBackup backup;
    ctx.term.Capture(&backup.reasons);
    try {
        const BackupResult result = RunBackup(options, ctx, watch);
        backup.exitCode = result.exitCode;
        backup.archivePath = result.archivePath;
        backup.unchanged = result.unchanged;
    } catch (const std::exception& e) {
        ctx.term.Err(QString::fromUtf8(e.what()));
        backup.exitCode = kExitFailed;
    }
    ctx.term.Capture(nullptr);
    return backup;
}

// --max-age DAYS: kDefaultMaxAgeDays when not given; false after saying what is wrong.
bool ReadMaxAge(const QCommandLineParser& parser, const QString& command, TerminalReporter& term, int& days) {
    days = CountOption(parser, QStringLiteral("max-age"));
    if (days < 0) {
        term.Err(command + QStringLiteral(": --max-age needs a number of days, 1 or more"));
        return false;
    }
    if (days == 0) days = kDefaultMaxAgeDays;
    return true;
}

// HH:MM (or H:MM) of a day.
std::optional<QTime> TimeOfDay(const QString& text) {
    static const QRegularExpression kTime(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch match = kTime.match(text);
    if (!match.hasMatch()) return std::nullopt;
    const QTime time(match.captured(1).toInt(), match.captured(2).toInt());
    return time.isValid() ? std::optional<QTime>(time) : std::nullopt;
}

}  // namespace

void AddAutomaticOptions(QCommandLineParser& parser, const QString& command) {
    if (command == QLatin1String("watch") || command == QLatin1String("status") || command == QLatin1String("schedule"))
        parser.addOption({QStringLiteral("max-age"), QStringLiteral("days"), QStringLiteral("DAYS")});
    if (command == QLatin1String("watch") || command == QLatin1String("schedule"))
        parser.addOption(QCommandLineOption(QStringLiteral("always")));
    if (command == QLatin1String("status"))
        parser.addOption({QStringLiteral("in"), QStringLiteral("backup folder"), QStringLiteral("DIR")});
    if (command == QLatin1String("schedule")) {
        parser.addOption({QStringLiteral("nightly"), QStringLiteral("time of day"), QStringLiteral("HH:MM")});
        for (const char* flag : {"on-logger-exit", "remove", "show"})
            parser.addOption(QCommandLineOption(QString::fromLatin1(flag)));
    }
}

int UnattendedBackup(const BackupOptions& options, const Context& ctx) {
    const app::UnattendedBackup backup = CapturedBackup(options, ctx, nullptr);
    // Stopped by a signal (the machine going down, the service stopped): undone, nothing to report.
    if (Interrupts::Caught()) return backup.exitCode;
    platform::DBusNotifier notifier(QString::fromLatin1(kProgramTitle));
    TellUnattended(UnattendedKind::Backup, backup, notifier, ctx.term);
    return backup.exitCode;
}

int Watch(const QCommandLineParser& parser, const Context& startCtx) {
    TerminalReporter& term = startCtx.term;
    BackupOptions options;
    int maxAgeDays = 0;
    if (!ReadBackupOptions(parser, QStringLiteral("watch"), term, options) ||
        !ReadMaxAge(parser, QStringLiteral("watch"), term, maxAgeDays))
        return kExitUsage;
    if (!InLoggerFolder(startCtx)) return kExitFailed;
    // A logger that was only looked at changes nothing: no backup then, unless --always.
    options.ifChanged = !parser.isSet(QStringLiteral("always"));

    // Without --to each backup goes where the window last put one, as the window may change it meanwhile.
    Context ctx = startCtx;
    const auto backupFolder = [&] {
        if (options.folder.isEmpty()) ctx.storedBackupFolder = RememberedBackupFolder();
        return options.folder.isEmpty() ? ctx.storedBackupFolder : options.folder;
    };
    platform::LinuxProcessList processes;
    platform::PidfdWaiter waiter(Interrupts::StopFd());
    platform::DBusNotifier notifier(QString::fromLatin1(kProgramTitle));
    const auto log = [&](const QString& line) { term.Err(Stamped(line)); };

    WatchHooks hooks;
    hooks.log = log;
    hooks.backUp = [&](const BackupWatch& watch) {
        backupFolder();
        const app::UnattendedBackup backup = CapturedBackup(options, ctx, &watch);
        if (Interrupts::Caught() && backup.archivePath.isEmpty())
            term.Err(QStringLiteral("Stopped by a signal; the backups and the logger's files were left as they were."));
        return backup;
    };
    hooks.finished = [&](const app::UnattendedBackup& backup) {
        log(WatchedBackupLine(backup));
        TellUnattended(UnattendedKind::Watch, backup, notifier, term);
    };
    hooks.staleness = [&] {
        const QString folder = backupFolder();
        const QDateTime now = QDateTime::currentDateTime();
        return StalenessText(folder, NewestCompleteBackup(folder, ctx.loggerFolder, now), now, maxAgeDays);
    };
    hooks.tooOld = [&](const QString& why) {
        log(why);
        Notify(notifier, {QString::fromLatin1(kNoRecentBackupSummary), why, false}, term);
    };

    log(QStringLiteral("watching ZORVEL_Log 3 in %1; each time it closes, a backup goes to %2")
            .arg(ctx.loggerFolder, backupFolder()));
    WatchCommand(processes, waiter, hooks).Run();
    log(QStringLiteral("stopped watching"));
    return kExitOk;
}

int Status(const QCommandLineParser& parser, const Context& ctx) {
    int maxAgeDays = 0;
    if (!ReadMaxAge(parser, QStringLiteral("status"), ctx.term, maxAgeDays)) return kExitUsage;
    if (!parser.positionalArguments().mid(1).isEmpty()) {
        ctx.term.Err(QStringLiteral("status: unexpected argument ") + parser.positionalArguments().value(1));
        return kExitUsage;
    }
    const QString folder = parser.isSet(QStringLiteral("in")) ? Absolute(parser.value(QStringLiteral("in")))
                                                              : ctx.storedBackupFolder;
    const StatusReport report = BackupStatus(folder, ctx.loggerFolder, maxAgeDays, QDateTime::currentDateTime());
    for (const QString& line : report.lines) ctx.term.Out(line);
    if (!QFileInfo(folder).isDir()) ctx.term.Err(QStringLiteral("The backup folder %1 does not exist.").arg(folder));
    if (report.stale.isEmpty()) return kExitOk;
    ctx.term.Err(report.stale);
    return kExitNoRecentBackup;
}

int Schedule(const QCommandLineParser& parser, const Context& ctx) {
    TerminalReporter& term = ctx.term;
    const bool remove = parser.isSet(QStringLiteral("remove"));
    const bool show = parser.isSet(QStringLiteral("show"));
    const bool onLoggerExit = parser.isSet(QStringLiteral("on-logger-exit"));
    BackupOptions options;
    int maxAgeDays = 0;
    if (!ReadBackupOptions(parser, QStringLiteral("schedule"), term, options) ||
        !ReadMaxAge(parser, QStringLiteral("schedule"), term, maxAgeDays))
        return kExitUsage;
    std::optional<QTime> nightly;
    if (parser.isSet(QStringLiteral("nightly"))) {
        nightly = TimeOfDay(parser.value(QStringLiteral("nightly")));
        if (!nightly) {
            term.Err(QStringLiteral("schedule: --nightly needs a time of day as HH:MM, such as 02:30"));
            return kExitUsage;
        }
    }
    const bool installing = nightly || onLoggerExit;
    if (int(remove) + int(show) + int(installing) != 1) {
        term.Err(QStringLiteral("schedule: choose --nightly HH:MM, --on-logger-exit or both; or --remove; or --show"));
        return kExitUsage;
    }

    platform::SystemctlManager manager;
    ScheduleCommand command(manager, UserUnitFolder(), [&](const QString& line) { term.Out(line); },
                            [&](const QString& line) { term.Err(line); });
    if (show) {
        command.Show();
        return kExitOk;
    }
    if (remove) return command.Remove() == ScheduleResult::Done ? kExitOk : kExitFailed;

    if (!InLoggerFolder(ctx)) return kExitFailed;
    if (!options.folder.isEmpty() && !QFileInfo(options.folder).isDir()) {
        term.Err(QStringLiteral("The backup folder %1 does not exist; nothing was scheduled.").arg(options.folder));
        return kExitFailed;
    }
    ScheduleRequest request;
    request.program = QFileInfo(ctx.executablePath).absoluteFilePath();
    request.nightly = nightly;
    request.onLoggerExit = onLoggerExit;
    request.backupArguments = QStringList{QStringLiteral("backup"), QStringLiteral("--notify")} + options.Arguments();
    request.watchArguments = QStringList{QStringLiteral("watch")} + options.Arguments();
    request.watchArguments.removeAll(QStringLiteral("--if-changed"));  // the watcher's own way
    if (parser.isSet(QStringLiteral("always"))) request.watchArguments << QStringLiteral("--always");
    if (parser.isSet(QStringLiteral("max-age")))
        request.watchArguments << QStringLiteral("--max-age") << QString::number(maxAgeDays);
    return command.Install(request) == ScheduleResult::Done ? kExitOk : kExitFailed;
}

}  // namespace app::cli
