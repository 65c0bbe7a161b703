// The folder listing rule of the file list, without a widget: the names of one folder that match a mask,
// sorted ignoring case, each shown once per mask it matches. The file list box shows them; the command
// line lists backups and applies --keep with the same rule, so both faces see one folder the same way.
//
// Entries with the hidden, system, volume or folder attribute appear only when the file type asks for
// them (folders as "[name]"). A folder that cannot be read raises archive::EInOutError.
#pragma once

#include <QFlags>
#include <QString>

#include <vector>

namespace ui {

enum TFileAttr {
    ftReadOnly = 0x01,
    ftHidden = 0x02,
    ftSystem = 0x04,
    ftVolumeID = 0x08,
    ftDirectory = 0x10,
    ftArchive = 0x20,
    ftNormal = 0x80,
};
Q_DECLARE_FLAGS(TFileType, TFileAttr)
Q_DECLARE_OPERATORS_FOR_FLAGS(TFileType)

// One item of a folder as a TFileListBox lists it.
struct ListedItem {
    QString text;     // the name, or "[name]" for a folder
    QString name;     // the name on disk
    bool folder = false;
};

// The items a TFileListBox with `mask` and `fileType` shows for `folder` (resolved), in its order: the
// rule the window's lists follow, for callers without a list box. EInOutError when the folder cannot be
// read.
std::vector<ListedItem> ListFolder(const QString& folder, const QString& mask, TFileType fileType = ftNormal);

}  // namespace ui
