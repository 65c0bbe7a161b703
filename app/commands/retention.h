// Which old backups a backup deletes after it: `--keep N`, and the history kept by calendar
// (`--keep-daily D --keep-weekly W --keep-monthly M`).
//
// Only the program's own backups are ever candidates: names of the exact form
// zorvel3_<yyyymmddhhnnss>.zip (letter case included; anything else in the folder is somebody else's).
// They are taken oldest first by the time in their names, the time the program recorded when it made
// them, which is also the order the window and `list` show them in. So a backup made while the clock
// was ahead counts by the time it was given and goes only when it is the oldest left; the backup just
// made is never a candidate, wherever its name sorts. A file that cannot be deleted (read-only, gone
// meanwhile) is passed over and does not count as deleted: the next oldest goes instead, until N of
// the folder's backups remain.
//
// The calendar rules keep, besides the new backup, the newest backup of each of the last D days, of
// each of the last W ISO weeks and of each of the last M months that have backups (a day, week or month
// without one does not count), read from the names; with --keep N as well, also the N newest. Every
// other backup goes; one that cannot be deleted simply stays.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace app {

// Whether a file name is one of the program's backups.
bool IsBackupName(const QString& fileName);

// Deletes through `remove` (true when the file went) the oldest of `fileNames` (the names in the
// backup folder) until `keep` backups remain, never `newName`; returns the names that went, in order.
QStringList DeleteOldBackups(QStringList fileNames, int keep, const QString& newName,
                             const std::function<bool(const QString& fileName)>& remove);

// How much history the calendar rules keep; 0 keeps none by that rule.
struct HistoryToKeep {
    int newest = 0;  // --keep N
    int days = 0;
    int weeks = 0;
    int months = 0;
    bool ByCalendar() const { return days > 0 || weeks > 0 || months > 0; }
};

// The backups among `fileNames` that `history` does not keep (never `newName`, never another name than
// a backup's), oldest first.
QStringList BackupsBeyondHistory(const QStringList& fileNames, const HistoryToKeep& history, const QString& newName);

}  // namespace app
