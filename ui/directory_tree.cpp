// Lazy reading and opening of the folder tree.
#include "ui/directory_tree.h"

#include "archive/fs/fs.h"
#include "ui/glyphs.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QTimer>
#include <QStyledItemDelegate>

#include <algorithm>

namespace ui {

namespace fs = archive::fs;

namespace {

constexpr int kPathRole = Qt::UserRole + 1;
constexpr int kPopulatedRole = Qt::UserRole + 2;

class RowHeightDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QSize(QStyledItemDelegate::sizeHint(option, index).width(), 17);
    }
};

QString JoinPath(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// Folders sort ignoring case, as the file list does.
class FolderItem : public QTreeWidgetItem {
public:
    using QTreeWidgetItem::QTreeWidgetItem;
    bool operator<(const QTreeWidgetItem& other) const override {
        return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
    }
};

QTreeWidgetItem* MakeItem(const QString& text, const QString& path) {
    auto* item = new FolderItem(QStringList(text));
    item->setData(0, kPathRole, path);
    item->setToolTip(0, path);
    item->setIcon(0, QIcon(GlyphPixmap(Glyph::ClosedFolder)));
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    return item;
}

}  // namespace

TDirectoryTree::TDirectoryTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setUniformRowHeights(true);
    setItemDelegate(new RowHeightDelegate(this));
    setSelectionMode(QAbstractItemView::SingleSelection);
    // Deep folders keep their whole names: the column is as wide as its widest name and the tree scrolls
    // sideways, so "Program Files" and "Programs" four levels down are still told apart. Should a name be
    // cut after all, it loses its middle, and the tooltip gives the whole path.
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setTextElideMode(Qt::ElideMiddle);
    root_ = MakeItem(QStringLiteral("/"), QStringLiteral("/"));
    addTopLevelItem(root_);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) { Populate(item); });
    connect(this, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* current) {
        if (current) emit DirectoryChanged(current->data(0, kPathRole).toString());
    });
}

void TDirectoryTree::Populate(QTreeWidgetItem* item) {
    if (item->data(0, kPopulatedRole).toBool()) return;
    item->setData(0, kPopulatedRole, true);
    const QString path = item->data(0, kPathRole).toString();
    std::vector<fs::DirEntry> entries;
    fs::ListDirectory(path.toStdString(), entries);
    QStringList names;
    for (const fs::DirEntry& e : entries)
        if ((e.attributes & fs::faDirectory) && !(e.attributes & fs::faHidden)) names << QString::fromStdString(e.name);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    // Folders added earlier because they lie on an opened path stay where they are.
    for (const QString& name : names)
        if (!Child(item, name, false)) item->addChild(MakeItem(name, JoinPath(path, name)));
    item->sortChildren(0, Qt::AscendingOrder);
    item->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

QTreeWidgetItem* TDirectoryTree::Child(QTreeWidgetItem* item, const QString& name, bool add) {
    for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->text(0) == name) return item->child(i);
    if (!add) return nullptr;
    QTreeWidgetItem* child = MakeItem(name, JoinPath(item->data(0, kPathRole).toString(), name));
    item->addChild(child);
    item->sortChildren(0, Qt::AscendingOrder);
    return child;
}

QTreeWidgetItem* TDirectoryTree::FindItem(const QString& folder) {
    QTreeWidgetItem* item = root_;
    for (const QString& part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        item = Child(item, part, false);
        if (!item) return nullptr;
    }
    return item;
}

void TDirectoryTree::SetDirectory(const QString& folder) {
    QTreeWidgetItem* item = root_;
    for (const QString& part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        Populate(item);
        item->setExpanded(true);
        item = Child(item, part, true);
    }
    Populate(item);
    setCurrentItem(item);
    ShowItem(item);
}

void TDirectoryTree::showEvent(QShowEvent* event) {
    QTreeWidget::showEvent(event);
    // Opened before it was shown: the sizes are known only now.
    QTimer::singleShot(0, this, [this] {
        if (QTreeWidgetItem* item = currentItem()) ShowItem(item);
    });
}

void TDirectoryTree::ShowItem(QTreeWidgetItem* item) {
    executeDelayedItemsLayout();
    updateGeometries();
    scrollToItem(item);
    // Sideways: the opened folder's picture and name from their start, with a little of the levels above.
    QScrollBar* bar = horizontalScrollBar();
    const QRect shown = visualItemRect(item);  // starts after the indentation
    const int needed = iconSize().width() + 8 + fontMetrics().horizontalAdvance(item->text(0));
    if (shown.left() < 0 || shown.left() + needed > viewport()->width())
        bar->setValue(qMax(0, shown.left() + bar->value() - 2 * indentation()));
}


QString TDirectoryTree::Directory() const {
    const QTreeWidgetItem* item = currentItem();
    return item ? item->data(0, kPathRole).toString() : QString();
}

}  // namespace ui
