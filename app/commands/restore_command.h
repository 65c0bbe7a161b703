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
// The outcome is "Restore backup" when every chosen part was restored. Otherwise one report names each
// file that was not restored and why (damaged in the backup, an unsafe name refused, a read-only target,
// a file that cannot be written), each file kept because its part could not be restored whole, and each
// chosen part the backup does not hold. A full disk raises, naming the file and the disk and saying that
// the part's files were left unchanged.
#pragma once

#include <QString>
#include <QStringList>

namespace archive {
class TVCLUnZip;
}

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

    bool AnyChosen() const { return awards || database || logs || configuration; }
};

class RestoreCommand {
public:
    RestoreCommand(archive::TVCLUnZip& unzip, platform::RegistrySnapshot& registry, Reporter& reporter);
    // Returns the lines of what was not restored (empty when everything was).
    QStringList Run(const RestoreRequest& request);

private:
    struct Part;
    Part RunPart(const RestoreRequest& request, const RestoreCategory& category);

    archive::TVCLUnZip& unzip_;
    platform::RegistrySnapshot& registry_;
    Reporter& reporter_;
    QString currentFile_;  // the file being unpacked, for a failure that ends the command
};

// The report of a restore that left something undone.
QString IncompleteRestoreText(const QStringList& notRestored);

}  // namespace app
