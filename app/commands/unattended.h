// What unattended work adds to the commands it runs: the desktop notification of a backup that failed
// or is incomplete, and a record of the last unattended backup for `status`.
//
// Unattended work is the watcher and `backup --notify` (what the nightly timer runs). Its backups say
// what every backup says, in the same texts, on standard error; the notification repeats that reason
// where someone will see it, and the exit codes stay those of `backup`, so the service manager sees them.
//
// The record is one small INI file, ${XDG_STATE_HOME:-~/.local/state}/ZORVEL_Backup/unattended.ini, with
// a group per kind of unattended work holding the last backup's time, exit code, archive and reason.
#pragma once

#include "app/platform/notifier.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace app {

inline constexpr char kBackupFailedSummary[] = "ZORVEL_Backup: backup failed";
inline constexpr char kBackupIncompleteSummary[] = "ZORVEL_Backup: backup incomplete";
inline constexpr char kNoRecentBackupSummary[] = "ZORVEL_Backup: no recent backup";

enum class UnattendedKind {
    Backup,  // `backup --notify`: the nightly timer, or a crontab line
    Watch,   // the watcher's backups after the logger closed
};

// One unattended backup's end, as the notification, the log and the record tell it.
struct UnattendedBackup {
    int exitCode = 0;      // as `backup` ends
    QString archivePath;   // the backup made; empty when none was
    QStringList reasons;   // what the terminal showed as the reason (its error lines)
    bool unchanged = false;  // --if-changed found nothing changed: no backup was made
};

// The notification for a backup that ended with `exitCode`, its body the reasons the terminal showed;
// none for a backup done as asked, for a command line that was wrong (no backup was tried), and for
// the watcher's backup refused because the logger runs again (the watcher makes it when it closes).
std::optional<platform::Notification> BackupNotification(UnattendedKind kind, int exitCode, const QStringList& reasons);

// "The desktop notification could not be shown: <why>."
QString NotShownText(const QString& problem);

struct UnattendedRun {
    QDateTime time;    // when it ended
    int exitCode = 0;
    QString archive;   // the backup made; empty when none was
    QString reason;    // what the terminal showed as the reason, lines joined with blanks
    bool unchanged = false;  // --if-changed found nothing changed: `archive` is the backup still current
};

// ${XDG_STATE_HOME:-$HOME/.local/state}/ZORVEL_Backup/unattended.ini
QString UnattendedStateFile();
// Records the run as the last of its kind; false (and why) when the file cannot be written.
bool RecordUnattendedRun(UnattendedKind kind, const UnattendedRun& run, QString* problem);
// The last run of that kind, when one was recorded.
std::optional<UnattendedRun> LastUnattendedRun(UnattendedKind kind);

// A run with --if-changed that found nothing changed made no backup, but it found the newest one still
// current at that time: `status` counts that backup's age from then (backup_status.h). The finding is
// about one logger folder's files: the record keeps the last finding of each logger folder, in the same
// file (a group "current <key>" per folder, which names the folder too). A finding of another logger
// folder, even about the same backup folder, says nothing about this one's files.
bool RecordStillCurrent(const QString& loggerFolder, const QString& archive, const QDateTime& time, QString* problem);
struct StillCurrent {
    QString archive;
    QDateTime time;
};
std::optional<StillCurrent> LastStillCurrent(const QString& loggerFolder);

// What a run came to, as `status` says it: "done: <archive>", "done in part: <archive> (<reason>)",
// "failed: <reason>", ...
QString RunOutcomeText(const UnattendedRun& run);

// Lines of a reason as one line: each line break becomes a blank, runs of blanks one.
QString OneLine(const QStringList& lines);

}  // namespace app
