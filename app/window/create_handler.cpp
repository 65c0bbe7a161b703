// The create command in the window (CreateBT, "Create ZORVEL_Log backup"): one new archive of the logger
// folder in the backup folder, named after the local time.
//
// The window's part: the guard (the logger still running ends the program); a missing backup folder
// opens the folder picker; the user confirms; the run locks of the logger folder and the backup folder
// are taken (another run of the program on them is waited for, for a bounded time); Panel3 is locked while CreateCommand does the work and
// reports into this window (status bar, boxes, catalogue); then the catalogue shows the new archive
// selected. Whatever fails, the window does not stay half-way: the catalogue is re-read so that it shows
// the folder as it really is, the bars go to 0 and Panel3 is unlocked, and only then does the error reach
// the error box.
#include "app/backup_layout.h"
#include "app/commands/create_command.h"
#include "app/window/main_window.h"

#include "ui/directory_edit.h"

#include <QProgressBar>

namespace app {

void TfmMain::CreateBTClick() {
    if (!CommandMayStart()) return;
    if (!services_.platform.dialogs->Confirm(QString::fromLatin1(kCreateQuestion))) return;
    RunLock lock(*services_.platform.sleeper);
    if (!TakeRunLock(lock, {{loggerFolder_, true}, {DirectoryEdit1->Text(), true}})) return;

    LockPanel();
    CreateCommand command(*Zip, *services_.platform.registry, *this);
    try {
        const CreateOutcome outcome = command.Run({loggerFolder_, DirectoryEdit1->Text(), Now()});
        UnlockPanel();
        if (outcome.created) ReReadCatalogue(true);
    } catch (...) {
        try {
            ReReadCatalogue(true);
        } catch (...) {
        }
        ProgressBar1->setValue(0);
        ProgressBar2->setValue(0);
        UnlockPanel();
        throw;
    }
}

}  // namespace app
