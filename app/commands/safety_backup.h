// A restore can be undone: before it replaces anything, the logger folder as it is now goes into a
// verified backup of its own kind, zorvel3-before-restore-<yyyymmddhhnnss>.zip (backup_names.h), into
// the folder the restored archive lies in; where that folder cannot take it (read-only media, a full
// stick) into "before-restore" in the program's folder of the user's data directory. It holds what any
// backup holds and, whatever their names, every other file the restore is about to replace (a
// hand-made archive may hold the logger's program itself), so that restoring it with everything puts
// back each file the restore changed. The restore's report names it. When no such backup can be made
// at all, or it could not take one of the files to be replaced, the restore does not start.
//
// It is no backup like the others: nothing takes it for the newest backup of its folder, and --keep
// never deletes it. A folder keeps the newest kSafetyBackupsKept of them (retention.h): the oldest go
// once a new one is made there.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <functional>

namespace archive {
class TVCLZip;
}

namespace app {

namespace platform {
class RegistrySnapshot;
}

// The folder of the user's data directory that takes a safety backup the archive's folder cannot.
QString FallbackSafetyFolder();

// Makes the safety backup of `loggerFolder` before `archivePath` is restored, holding `replaced` (the
// files the restore replaces, relative to the logger folder) as well; returns its path. Raises, with
// why, when it could be made neither beside the archive nor in the fallback folder, or when it could
// not take one of `replaced`.
QString MakeSafetyBackup(archive::TVCLZip& zip, platform::RegistrySnapshot& registry, const QString& loggerFolder,
                         const QString& archivePath, const QStringList& replaced = {});

// "The files as they were before this restore are kept in <path>."
QString SafetyBackupText(const QString& path);

}  // namespace app
