// The restore command (RectoreBT, "Restore ZORVEL_Log backup"): chosen parts of the selected archive
// back into the logger folder.
//
// In order: the guard (the logger still running ends the program); a missing backup folder opens the
// folder picker; nothing chosen ends the command silently; the guard again (this time the window stays
// open); the user confirms; the selected archive must still exist; Panel3 is locked and the directory
// read. Then each chosen database category unpacks its entries straight into db (which the engine
// finds as the existing DB folder, whatever its case on disk), the registry snapshots always go into
// tmp, and the configuration files keep their stored folders below the logger folder, after which both
// snapshots are imported. RecreateDirs is set for every category, so nothing carries over from an
// earlier restore. The user is told "Restore backup", tmp is emptied and Panel3 unlocked.
//
// The reader writes every entry to a scratch file beside its target and renames it over the target
// only after its CRC matched, so a damaged entry leaves the old file exactly as it was; such entries
// (and targets that could not be written) are named to the user after the command instead of passing
// for restored. A damaged or foreign archive raises from the reader: tmp is emptied and Panel3
// unlocked before the error reaches the window's error box.
#include "app/backup_layout.h"
#include "app/native_path.h"
#include "app/main_window.h"
#include "archive/fs/fs.h"
#include "archive/reader/vcl_unzip.h"
#include "ui/directory_edit.h"
#include "ui/file_list_box.h"

#include <QCheckBox>
#include <QFile>
#include <QProgressBar>

namespace app {

void TfmMain::RectoreBTClick() {
    if (!CommandMayStart()) return;
    if (!cbAwards->isChecked() && !cbDB->isChecked() && !cbLogs->isChecked() && !cbConfiguration->isChecked()) return;
    if (!guard_.Guard()) return;
    if (!services_.platform.dialogs->Confirm(QString::fromLatin1(kRestoreQuestion))) return;

    UnZip1->SetZipName(Native(FileListBox1->SelectedFileName()));
    if (!archive::fs::FileExists(UnZip1->ZipName())) return;

    Panel3->setEnabled(false);
    CollectSkippedFiles();
    try {
        UnZip1->ReadCentralDirectory();
        UnZip1->OverwriteMode = archive::Always;

        const auto chosen = [this](RestoreCategory::Box box) {
            switch (box) {
                case RestoreCategory::Awards: return cbAwards->isChecked();
                case RestoreCategory::Database: return cbDB->isChecked();
                case RestoreCategory::Logs: return cbLogs->isChecked();
                case RestoreCategory::Always: return true;
                case RestoreCategory::Configuration: return cbConfiguration->isChecked();
            }
            return false;
        };
        for (const RestoreCategory& category : RestoreCategories()) {
            if (!chosen(category.box)) continue;
            UnZip1->FilesList.clear();
            for (const char* pattern : category.patterns) UnZip1->FilesList.emplace_back(pattern);
            UnZip1->SetDestDir(Native(loggerFolder_ + QLatin1String(category.destination)));
            UnZip1->RecreateDirs = category.recreateDirs;
            UnZip1->ReadCentralDirectory();  // read again only when the archive changed
            UnZip1->UnZip();
        }
        if (cbConfiguration->isChecked()) {
            for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots)
                services_.platform.registry->ImportFile(loggerFolder_ + QString::fromLatin1(snapshot.file));
        }

        services_.platform.dialogs->Inform(QString::fromLatin1(kRestoreDone));
        EmptyTmpFolder();
        Panel3->setEnabled(true);
    } catch (...) {
        StopCollectingSkippedFiles();
        try {
            EmptyTmpFolder();
        } catch (...) {
        }
        ProgressBar1->setValue(0);
        ProgressBar2->setValue(0);
        Panel3->setEnabled(true);
        throw;
    }
    ReportSkippedFiles(QStringLiteral("These files were not restored (damaged in the backup, or not writable):"),
                       StopCollectingSkippedFiles());
}

}  // namespace app
