// The backup catalogue: the archives of the chosen backup folder, which of them is selected, when it was
// made, whether it can be restored, and the backup folder remembered between runs.
//
// The catalogue owns no widgets: it works on the window's backup-folder field, its list (mask
// "zorvel3*.zip"), the restore button, the creation label and the form-state store. Backups are
// recognised by name only; the list is sorted by name, so with the fixed timestamped names the last item
// is the newest backup and a refresh selects it. The backups made before a restore
// (zorvel3-before-restore-<time>.zip) sort first and are never selected by a refresh; selected by the
// user, the label says that one was made before a restore.
//
// Invariants after every step: the restore button is enabled exactly when the selected item names an
// existing file; the label is empty whenever the button is disabled; the stored folder
// ("SelectedPathName") is rewritten only when a real backup is selected, so looking into an empty or
// wrong folder never replaces a good remembered folder. Stored values change in memory only; the form
// store carries them to disk when the window closes.
#pragma once

#include "app/backup_layout.h"

#include <QString>

class QAbstractButton;
class QLabel;

namespace ui {
class TDirectoryEdit;
class TFileListBox;
class TFormStorage;
}  // namespace ui

namespace app {


class Catalogue {
public:
    Catalogue(ui::TDirectoryEdit& folderField, ui::TFileListBox& list, QAbstractButton& restoreButton,
              QLabel& createdLabel, ui::TFormStorage& storage);

    // At first showing: the stored backup folder goes into the field and the list is refreshed.
    void StartStep();
    // When the window closes: the field's text becomes the stored folder.
    void ClosingStep();
    // The field's text changed: list that folder (or open the folder picker when it cannot be listed),
    // select the newest backup and update the button and label.
    void Refresh();
    // The selection changed (also after a refresh, a backup and a deletion).
    void SelectionChanged();
    // Deletes the selected archive without asking and selects what moved into its place. A failure
    // (a read-only archive, one that vanished meanwhile) changes nothing and says nothing: the list
    // simply shows the folder as it is.
    void DeleteSelected();
    // Re-reads the listed folder, leaving nothing selected: after an archive the list showed turned out to
    // be gone. A folder that cannot be read keeps its items; the button and label then follow whatever
    // is still selected.
    void Reload();

private:
    ui::TDirectoryEdit& folderField_;
    ui::TFileListBox& list_;
    QAbstractButton& restoreButton_;
    QLabel& createdLabel_;
    ui::TFormStorage& storage_;
};

}  // namespace app
