// The restore command's own steps, after its face has run the guard, found the archive and had the user
// confirm: the chosen parts of the archive back into the logger folder, the registry snapshots through
// tmp, and the outcome told.
//
// Each part (awards, callbook, logs, the snapshots, configuration) is all or nothing: its files are first
// unpacked into scratch files beside their targets and checked, and only when every one of them is whole
// do they replace the logger's files. A part that cannot be restored whole leaves all of its files as they
// were; the parts are independent of each other, except that the registry is imported only when the
// configuration files were restored. Parts run in the table's order, so a part that failed does not stop
// the ones after it, but an error that ends the command (a damaged archive, a full disk) does.
//
// Every folder a part renamed files into is flushed to the disk before the outcome is told, so that
// "Restore backup" is not followed by a power cut that takes the renames back.
//
// The outcome is "Restore backup" when every chosen part was restored. Otherwise one report names each
// file that was not restored and why (damaged in the backup, an unsafe name refused, a read-only target,
// a file that cannot be written), each file kept because its part could not be restored whole, and each
// chosen part the backup does not hold. A full disk raises, naming the file and the disk and saying that
// the part's files were left unchanged.
#pragma once

#include <QString>
#include <QMap>
#include <QStringList>

#include <stdexcept>
#include <vector>

namespace archive {
class TVCLUnZip;
class TVCLZip;
}  // namespace archive

namespace app {

class Reporter;
struct RestoreCategory;
namespace platform {
class RegistrySnapshot;
}

struct RestoreRequest {
    QString archivePath;
    QString loggerFolder;  // ends with exactly one '/'
    bool awards = false;
    bool database = false;
    bool logs = false;
    bool configuration = false;
    bool everything = false;  // every entry of the backup, then the registry as with the configuration
    bool safetyBackup = true; // the logger folder backed up first, when the command has a writer for it

    bool AnyChosen() const { return awards || database || logs || configuration || everything; }
    bool ImportsRegistry() const { return configuration || everything; }
};

class RestoreCommand {
public:
    // `safetyWriter`: the writer of the safety backup made before anything is replaced (safety_backup.h);
    // none makes none.
    RestoreCommand(archive::TVCLUnZip& unzip, platform::RegistrySnapshot& registry, Reporter& reporter,
                   archive::TVCLZip* safetyWriter = nullptr);
    // Returns the lines of what was not restored (empty when everything was).
    QStringList Run(const RestoreRequest& request);

private:
    // What one part did: the entries it matched, the files it started on and those that failed, with why.
    struct Part {
        int matched = 0;
        QStringList started;
        QMap<QString, QString> failed;
    };
    struct Outcome {
        const RestoreCategory* category;
        Part part;
    };

    // The steps of Run: every chosen part, each all or nothing, into outcomes_; the registry keys from
    // the snapshots when the configuration came back whole; the lines of what was not restored; and an
    // error that ends the command told with which file, which disk and which parts were done.
    void RunParts(const RestoreRequest& request);
    Part RunPart(const RestoreRequest& request, const RestoreCategory& category);
    QStringList ImportRegistrySnapshots(const RestoreRequest& request);
    QStringList NotRestored(const RestoreRequest& request) const;
    std::runtime_error FailureWithDetails(const std::exception& e, const RestoreRequest& request) const;
    void FlushFolders() const;
    bool Whole(int box) const;

    archive::TVCLUnZip& unzip_;
    platform::RegistrySnapshot& registry_;
    Reporter& reporter_;
    archive::TVCLZip* safetyWriter_;
    QString safetyBackup_;  // the safety backup made for this run, "" when none
    std::vector<Outcome> outcomes_;
    const RestoreCategory* current_ = nullptr;  // the part being restored, for a failure that ends the command
    QString currentFile_;                       // the file being unpacked, likewise
};

// The files of the logger folder that a restore of `request` replaces (relative to it, as the disk spells
// them), from the directory `unzip` has loaded: the target of every entry a chosen part selects where
// a file is now. The program's own files in tmp (the snapshots, Backup.ini) are not among them.
QStringList FilesARestoreReplaces(archive::TVCLUnZip& unzip, const RestoreRequest& request);

// The report of a restore that left something undone.
QString IncompleteRestoreText(const QStringList& notRestored);

}  // namespace app
