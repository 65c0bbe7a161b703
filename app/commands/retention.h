// Which old backups a backup deletes after it: `--keep N`, and the history kept by calendar
// (`--keep-daily D --keep-weekly W --keep-monthly M`); how many backups made before a restore a folder
// keeps; and which old backups go to make room for a copy.
//
// Only the program's own backups are ever candidates: names of the exact form
// zorvel3_<yyyymmddhhnnss>.zip (letter case included; anything else in the folder is somebody else's,
// and the backups made before a restore have a rule of their own). They are taken oldest first by the
// time in their names, the time the program recorded when it made them, which is also the order the
// window and `list` show them in. So a backup made while the clock was ahead counts by the time it was
// given and goes only when it is the oldest left; the backup just made is never a candidate, wherever
// its name sorts. A name more than a day later than now (backup_names.h) takes no place at all: it is
// neither kept in place of a real backup nor deleted, and the caller names it in a warning. A file that
// cannot be deleted (read-only, gone meanwhile) is passed over and does not count as deleted: the next
// oldest goes instead, until N of the folder's backups remain. The caller leaves out the files that are
// no ZIP archive at all: they are neither counted nor deleted.
//
// The calendar rules keep, besides the new backup, the newest backup of each of the last D days, of
// each of the last W ISO weeks and of each of the last M months that have backups (a day, week or month
// without one does not count), read from the names; with --keep N as well, also the N newest. Every
// other backup goes; one that cannot be deleted simply stays.
#pragma once

#include "app/commands/backup_names.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace app {

// The local time as a name holds it.
NameTime NameTimeOf(const QDateTime& localTime);

// Whether a file name is one of the program's backups; one of its backups made before a restore.
bool IsBackupName(const QString& fileName);
bool IsSafetyBackupName(const QString& fileName);

// The backups among `fileNames` named more than a day after `now`, oldest first: retention leaves them.
QStringList FarFutureBackups(const QStringList& fileNames, const QDateTime& now);

// Deletes through `remove` (true when the file went) the oldest of `fileNames` (the names in the
// backup folder) until `keep` backups remain, never `newName`; returns the names that went, in order.
QStringList DeleteOldBackups(QStringList fileNames, int keep, const QString& newName, const QDateTime& now,
                             const std::function<bool(const QString& fileName)>& remove);

// How much history the calendar rules keep; 0 keeps none by that rule.
struct HistoryToKeep {
    int newest = 0;  // --keep N
    int days = 0;
    int weeks = 0;
    int months = 0;
    bool ByCalendar() const { return days > 0 || weeks > 0 || months > 0; }
    bool Prunes() const { return newest > 0 || ByCalendar(); }
};

// The backups among `fileNames` that `history` does not keep (never `newName`, never another name than
// a backup's, never one from the far future), oldest first.
QStringList BackupsBeyondHistory(const QStringList& fileNames, const HistoryToKeep& history, const QString& newName,
                                 const QDateTime& now);

// What `history` deletes of `fileNames` once `newName` is among them, oldest first: --keep alone
// deletes the oldest until N remain, the calendar rules what they do not keep.
QStringList BackupsTheHistoryDeletes(const QStringList& fileNames, const HistoryToKeep& history,
                                     const QString& newName, const QDateTime& now);

// A folder keeps this many of the backups made before a restore: the newest, the one just made
// among them.
inline constexpr int kSafetyBackupsKept = 5;

// The backups made before a restore among `fileNames` beyond the `keep` newest, oldest first; never
// `newName`.
std::vector<std::string> SafetyBackupsBeyond(const std::vector<std::string>& fileNames, int keep,
                                             const std::string& newName);

// Room for a copy of `neededBytes` in a folder with `freeBytes` free: the fewest of `candidates` (old
// backups the history deletes anyway, oldest first, with their sizes) that make it, oldest first. None
// when there is room already, and none when deleting all of them would still not make it (then nothing
// is gained by deleting any).
std::vector<std::string> BackupsToMakeRoom(const std::vector<std::pair<std::string, uint64_t>>& candidates,
                                           uint64_t freeBytes, uint64_t neededBytes);

}  // namespace app
