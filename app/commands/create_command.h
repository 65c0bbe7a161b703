// The create command's own steps, after its face has run the guard, found the backup folder and had the
// user confirm: tmp made and emptied, the registry snapshots, the twelve patterns through the writer
// (which reads the archive back before it takes its name), the scratch files gone, and the outcome told.
//
// When the backup folder holds earlier backups, the newest of them whose directory reads is given to the
// writer as its carry-over source: the files that did not change since are copied from it instead of
// compressed again, and the new archive is still byte for byte what a full compression makes (see
// archive/writer/carry_over.h). The source is not read back whole first: each entry the writer carries
// over is decoded whole, its CRC and size checked and every byte compared with the file's, in the same
// pass, just before it is copied (a damaged entry is compressed afresh), and the new archive is read
// back whole before it takes its name; a second full read of the source would cost a third of such a
// backup and make no entry safer. Every backup carries the note of how it was compressed as its archive
// comment, so that the next one can carry from it. `full` compresses every file anyway.
//
// A backup never writes into an archive that is there already: it takes the name of its time when no
// file of the folder has that name (letter case aside), else it waits for the next second and takes
// that one, so the name keeps its form and never runs ahead of the clock. Two backups in one second
// (a script's `backup` then `backup --full`, a clock set back) are two archives.
//
// A file the twelve patterns select whose name a ZIP archive cannot give back (a backslash in it, which
// every reader takes for a folder separator, or a control character) is left out and named, as a file
// that could not be read is; everything else is backed up.
//
// With `ifChanged`, no archive is made when the newest backup of the folder holds exactly the files a
// new one would (the registry snapshots among them), each byte for byte: the outcome names that backup
// and says it is still current.
//
// The outcome is "Created file: <path>" when the backup holds everything it should. When it lacks
// something the user expects (a registry key that could not be exported, a file that could not be read)
// the same line comes with the list of what is missing and why, as one report. A failure raises: the
// scratch files are gone by then and the backup folder holds what it held before; a full disk says which
// file and which disk, and that the existing backups are unchanged.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace archive {
class TVCLZip;
}

namespace app {

class Reporter;
namespace platform {
class RegistrySnapshot;
}

struct CreateRequest {
    QString loggerFolder;      // ends with exactly one '/'
    QString backupFolderText;  // as typed: a trailing '/' gives a doubled one before the name
    QDateTime localTime;       // the archive is named after it (or after the first free second from it)
    bool full = false;         // compress every file, carry nothing over
    bool ifChanged = false;    // no new archive when the newest backup still holds the same files
    bool beforeRestore = false;  // the backup made before a restore: named as such (backup_names.h)
    QStringList alsoFiles = {};  // files beyond the patterns (relative to the logger folder) it must hold too
};

struct CreateOutcome {
    bool created = false;  // false: tmp could not be made, and nothing was done
    bool unchanged = false;  // ifChanged, and nothing had changed: archivePath is the backup still current
    QString archivePath;
    QStringList lacking;   // what the backup lacks, each line saying why
};

class CreateCommand {
public:
    CreateCommand(archive::TVCLZip& zip, platform::RegistrySnapshot& registry, Reporter& reporter);
    CreateOutcome Run(const CreateRequest& request);

private:
    archive::TVCLZip& zip_;
    platform::RegistrySnapshot& registry_;
    Reporter& reporter_;
};

// The newest zorvel3_<yyyymmddhhnnss>.zip of `folder` (by the time in its name) whose directory reads,
// passing over names more than a day later than `now`; empty when there is none.
QString NewestOpeningBackup(const QString& folder, const QDateTime& now);

// Whether `fileName` is taken in a folder holding `entries` (every kind of entry: files, folders,
// links): by the same name, or by one that differs in letter case alone, which the engine would
// resolve to.
bool NameTaken(const QStringList& entries, const QString& fileName);

// Why a file stored as `storedName` (relative to the logger folder, '/'-separated) could not be given
// back by any reader, in words; "" when it can.
QString UnstorableName(const QString& storedName);

// "Nothing has changed since <path>: it still holds the logger's current state; no new backup was made."
QString UnchangedText(const QString& archivePath);

// The box text of a backup that lacks something.
QString IncompleteBackupText(const QString& archivePath, const QStringList& lacking);

}  // namespace app
