// The restore command in the window (RectoreBT, "Restore ZORVEL_Log backup"): chosen parts of the
// selected archive back into the logger folder.
//
// The window's part: the archive is the one the catalogue shows selected at the press, taken before
// anything is asked (the event loop runs through the guard's wait and the question); then the guard
// (the logger still running ends the program); a missing folder of that archive opens the folder
// picker; nothing chosen ends the command silently; the guard again (this time the window stays open);
// the user confirms; an archive gone by then is named in a warning and the catalogue re-read, so that
// a Yes is never followed by silence; the run locks of the logger folder and the archive's folder are
// taken (another run of the program on them is waited for, for a bounded time); Panel3 is locked while RestoreCommand does the work and reports
// into this window, the logger folder as it is backed up first beside the archive so that the restore
// can be undone (the report names that backup); the list is then re-read, so that it shows that backup
// when it went into the listed folder, with the selected row kept. After a failure the bars go to 0 and Panel3 is unlocked before the error reaches the
// error box.
#include "app/backup_layout.h"
#include "app/commands/restore_command.h"
#include "app/window/main_window.h"
#include "app/native_path.h"
#include "archive/fs/fs.h"
#include "archive/reader/vcl_unzip.h"
#include "ui/file_list_box.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QProgressBar>

namespace app {

void TfmMain::RectoreBTClick() {
    RestoreRequest request;
    request.archivePath = FileListBox1->SelectedFileName();
    if (request.archivePath.isEmpty()) {
        // The button is off while nothing is selected; should it not be, it goes off now.
        catalogue_->SelectionChanged();
        return;
    }
    if (!CommandMayStart(FileListBox1->Folder())) return;
    request.awards = cbAwards->isChecked();
    request.database = cbDB->isChecked();
    request.logs = cbLogs->isChecked();
    request.configuration = cbConfiguration->isChecked();
    if (!request.AnyChosen()) return;
    if (!LoggerMayBeTouched()) return;
    if (!services_.platform.dialogs->Confirm(QString::fromLatin1(kRestoreQuestion))) return;

    request.loggerFolder = loggerFolder_;
    UnZip1->SetZipName(Native(request.archivePath));
    if (!archive::fs::FileExists(UnZip1->ZipName())) {
        catalogue_->Reload();
        services_.platform.dialogs->Warn(QStringLiteral("The backup %1 no longer exists.").arg(request.archivePath));
        return;
    }
    RunLock lock(*services_.platform.sleeper);
    if (!TakeRunLock(lock, {{loggerFolder_, true}, {QFileInfo(request.archivePath).absolutePath(), true}})) return;

    LockPanel();
    RestoreCommand command(*UnZip1, *services_.platform.registry, *this, Zip.get());
    try {
        command.Run(request);
    } catch (...) {
        ProgressBar1->setValue(0);
        ProgressBar2->setValue(0);
        UnlockPanel();
        ReReadCatalogueKeepingSelection();
        throw;
    }
    UnlockPanel();
    ReReadCatalogueKeepingSelection();
}

}  // namespace app
