// The watcher: one verified backup each time ZORVEL_Log 3 closes, for as long as it runs.
//
// It moves between these states, until it is asked to stop (which cuts any wait short):
//
//   waiting for a start   no logger runs. The process list is looked at every 5 seconds: a start
//                         cannot be waited for without privileges (/proc gives no inotify events, and
//                         the kernel's process events need CAP_NET_ADMIN), and one look costs a few
//                         milliseconds.                                    -> waiting for the end
//   waiting for the end   a logger runs (one or more): its end is waited for with a pidfd, sleeping
//                         in the kernel; then the list is looked at again. Another logger still
//                         running keeps the watcher here; none           -> settling
//   settling              2 seconds' pause: when the logger's process has ended, Wine has not yet
//                         finished with it (the wineserver writes out the registry it held and goes
//                         a moment later, and a registry editor started then may meet a server on
//                         its way out). A logger started meanwhile      -> waiting for the end;
//                         else                                          -> backing up
//   backing up            one backup exactly as `backup --if-changed` makes it (none when nothing
//                         changed; always with --always, and after a backup done in part), with its
//                         options, guard and locks.
//                         While it works the list is looked at once a second; a logger started again
//                         meanwhile (the guard was passed at the backup's start) makes the backup
//                         "done in part", because the databases may have changed while they were
//                         read: no old backup is deleted after it, and it is reported as incomplete.
//                         A logger that came and went meanwhile            -> settling (another backup);
//                         one still running                              -> waiting for the end;
//                         else                                          -> waiting for a start
//
// Beside that, the newest complete backup's age is judged at the start, after each backup and once an
// hour; when it grows older than the days allowed, that is told once (not at every look), and told
// again only after it was young enough in between.
#pragma once

#include "app/commands/unattended.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace app {

namespace platform {
class ProcessList;
class ProcessWaiter;
}  // namespace platform

inline constexpr int kLoggerStartLookMs = 5000;
inline constexpr int kLoggerSettleMs = 2000;
inline constexpr int kLoggerLookWhileBackingUpMs = 1000;
inline constexpr int kBackupAgeLookMs = 3600 * 1000;

// "ZORVEL_Log 3 was started again while the backup was made; its databases may have changed during it"
inline constexpr char kLoggerStartedDuringBackup[] =
    "ZORVEL_Log 3 was started again while the backup was made; its databases may have changed during it";

// What the watcher hands the backup it asks for.
struct BackupWatch {
    // To be called now and then while the backup works (the watcher looks for the logger).
    std::function<void()> whileWorking;
    // Asked once the archive is made, before old backups would be deleted: what the backup lacks
    // because of what happened meanwhile (empty when nothing did).
    std::function<QStringList()> lacking;
    // A backup is made even when nothing changed since the newest one: the backup after one that was
    // done in part (a logger started during it), which is the whole one that follows it.
    bool evenIfUnchanged = false;
};

struct WatchHooks {
    // One backup, as `backup` makes it.
    std::function<UnattendedBackup(const BackupWatch& watch)> backUp;
    // Told after each backup that ran to its end (a stopped one is not told).
    std::function<void(const UnattendedBackup& backup)> finished;
    // A line for the log: what the watcher is doing.
    std::function<void(const QString& line)> log;
    // Empty while the newest complete backup is recent enough; else why not (StalenessText).
    std::function<QString()> staleness;
    // Told once when the backups grow too old.
    std::function<void(const QString& why)> tooOld;
};

class WatchCommand {
public:
    WatchCommand(platform::ProcessList& processes, platform::ProcessWaiter& waiter, WatchHooks hooks);
    // Watches until asked to stop.
    void Run();

private:
    std::vector<qint64> Loggers();
    void JudgeBackupAge(bool now);
    int MsToAgeLook();

    platform::ProcessList& processes_;
    platform::ProcessWaiter& waiter_;
    WatchHooks hooks_;
    qint64 lastAgeLookMs_ = 0;
    bool toldTooOld_ = false;
};

// The log lines (the caller puts the time in front).
QString WaitingForStartLine();
QString LoggerRunningLine();
// "backup after ZORVEL_Log 3 closed: <archive>", "... closed, done in part: <archive>", "... failed: <reason>",
// "no backup after ZORVEL_Log 3 closed: nothing had changed since <archive>"
QString WatchedBackupLine(const UnattendedBackup& backup);

}  // namespace app
