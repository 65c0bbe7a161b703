// Which old backups `--keep N` deletes after a new backup.
//
// Only the program's own backups are ever candidates: names of the exact form
// zorvel3_<yyyymmddhhnnss>.zip (letter case included; anything else in the folder is somebody else's).
// They are taken oldest first by the time in their names, the time the program recorded when it made
// them, which is also the order the window and `list` show them in. So a backup made while the clock
// was ahead counts by the time it was given and goes only when it is the oldest left; the backup just
// made is never a candidate, wherever its name sorts. A file that cannot be deleted (read-only, gone
// meanwhile) is passed over and does not count as deleted: the next oldest goes instead, until N of
// the folder's backups remain.
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

}  // namespace app
