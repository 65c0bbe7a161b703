// A restore can be undone: before it replaces anything, the logger folder as it is now goes into a normal
// verified backup, named as every backup is, into the folder the restored archive lies in; where that
// folder cannot take it (read-only media, a full stick) into "before-restore" in the program's folder of
// the user's data directory. The restore's report names it. When no such backup can be made at all, the
// restore does not start.
#pragma once

#include <QDateTime>
#include <QString>

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

// Makes the safety backup of `loggerFolder` before `archivePath` is restored; returns its path. Raises,
// with why, when it could be made neither beside the archive nor in the fallback folder. Never takes the
// name of the archive being restored (a backup of the same second waits for the next).
QString MakeSafetyBackup(archive::TVCLZip& zip, platform::RegistrySnapshot& registry, const QString& loggerFolder,
                         const QString& archivePath);

// "The files as they were before this restore are kept in <path>."
QString SafetyBackupText(const QString& path);

}  // namespace app
