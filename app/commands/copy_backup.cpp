// Copies of a new backup; see copy_backup.h.
#include "app/commands/copy_backup.h"

#include "app/commands/command_steps.h"
#include "app/native_path.h"
#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace app {

CopyOutcome CopyBackup(const QString& archivePath, const QString& copyFolder,
                       const std::function<void(const std::string& scratchPath)>& written) {
    namespace fs = archive::fs;
    CopyOutcome outcome;
    const QString name = QFileInfo(archivePath).fileName();
    const QString target = QDir(copyFolder).filePath(name);
    const auto fail = [&](const QString& why) {
        outcome.problem = QStringLiteral("The copy in %1 was not made: %2").arg(copyFolder, why);
        return outcome;
    };
    if (!fs::DirectoryExists(Native(copyFolder))) return fail(QStringLiteral("the folder does not exist."));
    const fs::HeldFolder folder = fs::HeldFolder::Open(Native(copyFolder));
    fs::ScratchFile scratch = fs::ScratchFile::CreateIn(folder);
    if (!scratch.Valid()) return fail(QStringLiteral("nothing can be written there."));
    if (!fs::CopyFileTo(Native(archivePath), scratch.Handle())) {
        const int error = errno;
        scratch.Discard();
        return fail(IsDiskFull(error) ? DiskOf(copyFolder) + QStringLiteral(" is full.")
                                      : QStringLiteral("it could not be written."));
    }
    if (written) written(scratch.Path());
    // Read back from the copy folder and the same bytes as the backup, which was read back whole itself.
    if (!fs::SameContents(Native(archivePath), scratch.Path())) {
        scratch.Discard();
        return fail(QStringLiteral("it did not read back as the backup."));
    }
    if (!scratch.PutInPlace(Native(name))) {
        scratch.Discard();
        return fail(QStringLiteral("it could not be put in its place."));
    }
    scratch.Release();
    fs::SyncFolder(folder);
    outcome.path = target;
    return outcome;
}

}  // namespace app
