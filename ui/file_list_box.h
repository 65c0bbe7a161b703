// TFileListBox: the names of one folder's files that match a mask, sorted, with the selected file's path.
//
// The list shows Folder (a full path as the file system spells it, no trailing separator except for the
// root) filtered by Mask ("*.*" by default; several masks separated by ";", a file matching two of them
// is listed twice). Names keep their case on disk and are sorted ignoring case, so the catalogue's
// timestamped archive names come out oldest first. Entries with the hidden, system, volume or folder
// attribute appear only when FileType asks for them (folders as "[name]").
//
// Like a list box of the logger's platform, the list reads its folder only once it "has a window": when
// it is first shown or when its items are first asked for (Count, ItemText, ItemIndex...). Setting Mask
// or Folder before that causes no search. Every ReloadFiles leaves nothing selected and raises OnChange
// once; setting ItemIndex from code raises nothing (its caller updates what depends on it). The user's
// selection raises OnChange whenever it changes -- also when a click on the empty area below the rows
// clears it, or when it goes back to the item last reported after code selected another -- and a click
// on the selected item raises it when that item differs from the last one reported.
//
// Folder names typed in another case find the folder (archive/fs resolves them). The process's current
// folder is never changed: relative texts are taken relative to Folder, which is where the platform's
// list would have left the current folder.
#pragma once

#include "ui/folder_listing.h"
#include "ui/glyphs.h"

#include <QListWidget>

#include <functional>
#include <vector>

namespace ui {

class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    QString Folder() const { return folder_; }
    // Enters another folder (relative to Folder) and re-reads it; nothing happens when it is the folder
    // already shown, ignoring case. A missing folder raises archive::EInOutError and changes nothing.
    void SetFolder(const QString& folder);
    QString Mask() const { return mask_; }
    void SetMask(const QString& mask);
    TFileType FileType() const { return fileType_; }
    void SetFileType(TFileType fileType);
    bool ShowGlyphs() const { return showGlyphs_; }
    void SetShowGlyphs(bool show);

    // Applies a typed path: a folder, a folder and a file name, or a folder and a mask.
    void SetPathText(const QString& text);
    // Splits a typed path into the folder it names (resolved, existing) and a file part.
    void SplitPathText(const QString& text, QString& folder, QString& filePart) const;
    // Re-reads Folder. Raises archive::EInOutError when it cannot be listed (the items stay as they were).
    void ReloadFiles();
    // Folder + "/" + the selected item's text; empty when nothing is selected.
    QString SelectedFileName();

    int Count();
    QString ItemText(int index);
    int ItemIndex();
    void SetItemIndex(int index);
    Glyph ItemGlyph(int index);

    std::function<void(QObject* sender)> OnChange;

    bool HandleAllocated() const { return handle_; }
    // Gives the list its "window" now, reading the folder if that has not happened yet.
    void HandleNeeded();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Change();
    void Click();
    int FindExact(const QString& text);

    QString folder_;
    QString mask_ = QStringLiteral("*.*");
    TFileType fileType_ = ftNormal;
    bool showGlyphs_ = false;
    bool handle_ = false;
    int lastReported_ = -1;
    bool fromCode_ = false;
};

}  // namespace ui
