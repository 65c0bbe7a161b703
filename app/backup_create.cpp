// The create command (CreateBT, "Create ZORVEL_Log backup"): one new archive of the logger folder in
// the backup folder, named after the local time.
//
// In order: the guard (the logger still running ends the program); a missing backup folder opens the
// folder picker; the user confirms; Panel3 is locked; tmp is made and emptied; the archive path is
// formed; the two registry keys are exported into tmp; the writer takes the twelve non-recursive
// patterns under the logger folder, with stored names relative to it; then the scratch files go, the
// user is told the archive's path, and the catalogue shows the new archive selected.
//
// Whatever fails after Panel3 was locked (the writer's ENotEnoughRoom on a full disk, a registry or
// file error), the command does not leave the window half-way: the scratch files are deleted, the
// catalogue is re-read so that it shows the folder as it really is, Panel3 is unlocked, and only then
// does the error reach the window's error box. The writer builds the archive under a scratch name
// ("zbk" + six characters, never matching "zorvel3*.zip") beside the final one and renames it at the
// very end, so the catalogue never lists a partial archive, and a failed rebuild leaves an archive of
// the same name as it was.
#include "app/backup_layout.h"
#include "app/native_path.h"
#include "app/main_window.h"
#include "archive/fs/fs.h"
#include "archive/writer/vcl_zip.h"
#include "ui/directory_edit.h"
#include "ui/file_list_box.h"

#include <QFile>
#include <QProgressBar>

namespace app {

namespace {


void DeleteFiles(const QStringList& files) {
    for (const QString& file : files) archive::fs::DeleteFile(Native(file));
}

}  // namespace

QStringList TfmMain::ScratchFiles() const {
    QStringList files{Ini1.FileName};
    for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots)
        files.append(loggerFolder_ + QString::fromLatin1(snapshot.file));
    return files;
}

void TfmMain::CreateBTClick() {
    if (!CommandMayStart()) return;
    if (!services_.platform.dialogs->Confirm(QString::fromLatin1(kCreateQuestion))) return;

    Panel3->setEnabled(false);
    const QString tmpFolder = loggerFolder_ + QString::fromLatin1(kTmpFolder);
    if (!archive::fs::DirectoryExists(Native(tmpFolder))) archive::fs::ForceDirectories(Native(tmpFolder));
    if (!archive::fs::DirectoryExists(Native(tmpFolder))) {
        Panel3->setEnabled(true);
        return;
    }

    CollectSkippedFiles();
    try {
        EmptyTmpFolder();
        const QString archivePath = BackupArchivePath(DirectoryEdit1->Text(), Now());
        archive::fs::DeleteFile(Native(Ini1.FileName));

        Zip->SetZipName(Native(archivePath));
        Zip->FilesList.clear();
        const QStringList deleteAfter = ScratchFiles();
        for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots) {
            // A failed export is not reported: the archive is then made without that file.
            services_.platform.registry->ExportKey(QString::fromLatin1(snapshot.key),
                                                    loggerFolder_ + QString::fromLatin1(snapshot.file));
        }

        for (const QString& entry : BackupFileList(loggerFolder_)) Zip->FilesList.push_back(Native(entry));
        Zip->Recurse = true;
        Zip->SetRootDir(Native(loggerFolder_));
        Zip->SetRelativePaths(true);
        Zip->Zip();

        ReReadCatalogue(false);
        DeleteFiles(deleteAfter);
        ReReadCatalogue(false);

        const QString created = QString::fromLatin1(kCreatedFile) + archivePath;
        SetStatusText(created);
        services_.platform.dialogs->Inform(created);
        Panel3->setEnabled(true);
        ReReadCatalogue(true);
    } catch (...) {
        // The scratch files of this run (Backup.ini and the snapshots) go, whatever else happened;
        // then the catalogue shows what the folder really holds and the window takes commands again.
        StopCollectingSkippedFiles();
        try {
            DeleteFiles(ScratchFiles());
        } catch (...) {
        }
        try {
            ReReadCatalogue(true);
        } catch (...) {
        }
        ProgressBar1->setValue(0);
        ProgressBar2->setValue(0);
        Panel3->setEnabled(true);
        throw;
    }
    ReportSkippedFiles(QStringLiteral("These files could not be read and are not in the backup:"),
                       StopCollectingSkippedFiles());
}

}  // namespace app
