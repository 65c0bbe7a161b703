// TDirectoryTree: the folder tree of the folder dialog.
//
// One tree from "/" down, folders only; hidden folders (dot-folders, or hidden by their MS-DOS attribute)
// are left out unless they lie on the path the tree was opened at. A folder's children are read when it
// is first expanded, through archive/fs, and sorted ignoring case. Rows are 17 pixels high. Names are
// never cut to fit: the tree scrolls sideways, and each row's tooltip is the folder's whole path.
#pragma once

#include <QTreeWidget>

namespace ui {

class TDirectoryTree : public QTreeWidget {
    Q_OBJECT
public:
    explicit TDirectoryTree(QWidget* parent = nullptr);

    // Opens the tree at an existing folder (resolved, absolute) and makes it the current one.
    void SetDirectory(const QString& folder);
    // The current folder ("" before SetDirectory).
    QString Directory() const;
    // The item of a folder that is already in the tree, or nullptr.
    QTreeWidgetItem* FindItem(const QString& folder);

protected:
    void showEvent(QShowEvent* event) override;

signals:
    void DirectoryChanged(const QString& folder);

private:
    void Populate(QTreeWidgetItem* item);
    // Scrolls (also sideways) until the item's name can be read.
    void ShowItem(QTreeWidgetItem* item);
    QTreeWidgetItem* Child(QTreeWidgetItem* item, const QString& name, bool add);
    QTreeWidgetItem* root_;
};

}  // namespace ui
