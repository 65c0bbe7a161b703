// The backup catalogue's steps; see catalogue.h for what each guarantees.
//
// Refresh: SetPathText points the list at the typed folder and ReloadFiles re-reads it (each re-read
// clears the selection and reports a change with nothing selected). When the folder cannot be listed the
// field's browse action runs instead, without a message: the folder picker opens, and a folder chosen
// there changes the field's text, which runs this refresh again from inside the picker's return. Either
// way the refresh then selects the last item -- after a cancelled picker that is the newest backup of
// the folder the list still shows.
#include "app/window/catalogue.h"
#include "app/native_path.h"

#include "app/commands/list_command.h"
#include "app/commands/retention.h"
#include "archive/fs/fs.h"
#include "ui/directory_edit.h"
#include "ui/file_list_box.h"
#include "ui/form_storage.h"

#include <QAbstractButton>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

namespace app {

namespace fs = archive::fs;

Catalogue::Catalogue(ui::TDirectoryEdit& folderField, ui::TFileListBox& list, QAbstractButton& restoreButton,
                     QLabel& createdLabel, ui::TFormStorage& storage)
    : folderField_(folderField), list_(list), restoreButton_(restoreButton), createdLabel_(createdLabel),
      storage_(storage) {}

void Catalogue::StartStep() {
    const QString folder = storage_.ReadStoredValue(QString::fromLatin1(kSelectedPathName)).ToString();
    if (folderField_.Text() != folder) {
        folderField_.SetText(folder);  // the field's change runs Refresh
    } else {
        Refresh();  // an unchanged text raises no change, but the list must still show the folder
    }
}

void Catalogue::ClosingStep() {
    storage_.WriteStoredValue(QString::fromLatin1(kSelectedPathName), folderField_.Text());
}

void Catalogue::Refresh() {
    try {
        list_.SetPathText(folderField_.Text());
        list_.ReloadFiles();
    } catch (...) {
        folderField_.PerformButtonClick();
    }
    // The newest backup: the last item, passing over the backups made before a restore (they sort
    // first, so only a folder that holds nothing else leaves nothing selected).
    int newest = list_.Count() - 1;
    while (newest >= 0 && IsSafetyBackupName(list_.ItemText(newest))) --newest;
    list_.SetItemIndex(newest);
    SelectionChanged();
}

void Catalogue::SelectionChanged() {
    const QString selected = list_.SelectedFileName();
    const bool restorable = !selected.isEmpty() && fs::FileExists(Native(selected));
    restoreButton_.setEnabled(restorable);
    if (!restorable) {
        createdLabel_.clear();
        return;
    }
    createdLabel_.setText(BackupLabel(QFileInfo(selected).fileName()));
    storage_.WriteStoredValue(QString::fromLatin1(kSelectedPathName), folderField_.Text());
}

void Catalogue::DeleteSelected() {
    try {
        const int index = list_.ItemIndex();
        const QString selected = list_.SelectedFileName();
        // A read-only archive stays, as the logger's platform refuses to delete one.
        if (!selected.isEmpty()) {
            const auto attributes = fs::GetAttributes(Native(selected));
            if (attributes && !(*attributes & fs::faReadOnly)) fs::DeleteFile(Native(selected));
        }
        list_.ReloadFiles();
        list_.SetItemIndex(index);
    } catch (...) {
        // Nothing to report: the list shows the folder's current state.
    }
    // Also after a failed re-read, so that the button never offers a file that is gone.
    try {
        SelectionChanged();
    } catch (...) {
    }
}

void Catalogue::Reload() {
    try {
        list_.ReloadFiles();
    } catch (...) {
        // The folder itself is gone: the items stay, and the button goes off with the file.
    }
    SelectionChanged();
}

}  // namespace app
