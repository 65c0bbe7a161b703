// The create command's own steps, after its face has run the guard, found the backup folder and had the
// user confirm: tmp made and emptied, the registry snapshots, the twelve patterns through the writer
// (which reads the archive back before it takes its name), the scratch files gone, and the outcome told.
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
    QDateTime localTime;       // the archive is named after it
};

struct CreateOutcome {
    bool created = false;  // false: tmp could not be made, and nothing was done
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

// The box text of a backup that lacks something.
QString IncompleteBackupText(const QString& archivePath, const QStringList& lacking);

}  // namespace app
