// Reading, sorting, drawing and selecting the names of TFileListBox.
#include "ui/file_list_box.h"

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "ui/file_mask.h"

#include <QEvent>
#include <QPainter>
#include <QScopedValueRollback>
#include <QStyleOptionFocusRect>
#include <QStyledItemDelegate>

#include <algorithm>
#include <cerrno>

namespace ui {

namespace fs = archive::fs;

namespace {

constexpr int kGlyphRole = Qt::UserRole + 1;

std::string Std(const QString& s) { return s.toStdString(); }
QString Qs(const std::string& s) { return QString::fromStdString(s); }

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

QString Join(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

// The existing folder that part names, relative to base, as the file system spells it.
QString EnterFolder(const QString& base, const QString& part) {
    const QString full = part.startsWith(QLatin1Char('/')) ? part : Join(base, part);
    const std::string resolved = fs::ExcludeTrailingSeparator(fs::Resolve(fs::ExpandFileName(Std(full))));
    if (!fs::DirectoryExists(resolved)) {
        if (fs::Exists(resolved))
            throw archive::EInOutError(archive::Format("\"%s\" is not a folder", resolved.c_str()), ENOTDIR);
        throw archive::EInOutError(archive::Format("The folder \"%s\" does not exist", resolved.c_str()), ENOENT);
    }
    return Qs(resolved);
}

Glyph FileGlyph(const QString& name) {
    const QString ext = Qs(fs::ExtractFileExt(Std(name))).toLower();
    if (ext == QLatin1String(".exe") || ext == QLatin1String(".com") || ext == QLatin1String(".bat") ||
        ext == QLatin1String(".pif"))
        return Glyph::Executable;
    return Glyph::UnknownFile;
}

// Rows: the glyph 2 pixels from the left, centred; the text after it (glyph width + 6), or 2 pixels from
// the left at the top of the row without glyphs. Height: the text height, or glyph height + 1 if larger.
class FileItemDelegate : public QStyledItemDelegate {
public:
    FileItemDelegate(TFileListBox* list) : QStyledItemDelegate(list), list_(list) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        const bool selected = option.state & QStyle::State_Selected;
        const QPalette& pal = option.palette;
        painter->fillRect(option.rect, selected ? pal.highlight() : pal.base());
        int x = option.rect.left() + 2;
        if (list_->ShowGlyphs()) {
            // A file that is no program shows the icon of its type, as the desktop's file manager does.
            const auto kind = static_cast<Glyph>(index.data(kGlyphRole).toInt());
            const QPixmap glyph = kind == Glyph::UnknownFile ? FileTypePixmap(index.data().toString()) : GlyphPixmap(kind);
            if (!glyph.isNull()) {
                painter->drawPixmap(x, option.rect.top() + (option.rect.height() - glyph.height()) / 2, glyph);
                x = option.rect.left() + glyph.width() + 6;
            }
        }
        painter->setPen(selected ? pal.color(QPalette::HighlightedText) : pal.color(QPalette::Text));
        painter->setFont(option.font);
        const QRect text(x, option.rect.top(), option.rect.right() - x, option.rect.height());
        painter->drawText(text, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, index.data().toString());
        if (option.state & QStyle::State_HasFocus) {
            // The style's own focus frame.
            QStyleOptionFocusRect focus;
            focus.QStyleOption::operator=(option);
            focus.backgroundColor = selected ? pal.color(QPalette::Highlight) : pal.color(QPalette::Base);
            list_->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, list_);
        }
    }

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override {
        int height = QFontMetrics(list_->font()).height();
        if (list_->ShowGlyphs()) height = std::max(height, GlyphPixmap(Glyph::UnknownFile).height() + 1);
        return QSize(option.rect.width(), height);
    }

private:
    TFileListBox* list_;
};

}  // namespace

TFileListBox::TFileListBox(QWidget* parent) : QListWidget(parent) {
    folder_ = Qs(fs::ExcludeTrailingSeparator(fs::CurrentDirectory()));
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setItemDelegate(new FileItemDelegate(this));
    resize(145, height());
    // A selection the user changed is always reported, even back to the item last reported or to none:
    // code may have selected another item meanwhile (reporting nothing), and the owner shows that one.
    connect(this, &QListWidget::itemSelectionChanged, this, [this] {
        if (!fromCode_) Change();
    });
    connect(this, &QListWidget::itemClicked, this, [this] { Click(); });
}

void TFileListBox::SetFolder(const QString& folder) {
    const QString entered = EnterFolder(folder_, folder);
    if (SameName(entered, folder_)) return;
    folder_ = entered;
    ReloadFiles();
}

void TFileListBox::SetMask(const QString& mask) {
    if (mask == mask_) return;
    mask_ = mask;
    ReloadFiles();
}

void TFileListBox::SetFileType(TFileType fileType) {
    if (fileType == fileType_) return;
    fileType_ = fileType;
    ReloadFiles();
}

void TFileListBox::SetShowGlyphs(bool show) {
    if (show == showGlyphs_) return;
    showGlyphs_ = show;
    doItemsLayout();
    viewport()->update();
}

void TFileListBox::HandleNeeded() {
    if (handle_) return;
    handle_ = true;
    ReloadFiles();
}


void TFileListBox::ReloadFiles() {
    if (!handle_) return;
    const std::vector<ListedItem> rows = ListFolder(folder_, mask_, fileType_);

    {
        QScopedValueRollback<bool> guard(fromCode_, true);
        clear();
        for (const ListedItem& row : rows) {
            auto* item = new QListWidgetItem(row.text);
            item->setData(kGlyphRole, static_cast<int>(row.folder ? Glyph::ClosedFolder : FileGlyph(row.name)));
            addItem(item);
        }
        setCurrentRow(-1);
        clearSelection();
    }
    Change();
}

QString TFileListBox::SelectedFileName() {
    if (!handle_) return QString();  // nothing can be selected before the list was read
    const int index = ItemIndex();
    if (index < 0) return QString();
    return Join(folder_, item(index)->text());
}

int TFileListBox::Count() {
    HandleNeeded();
    return count();
}

QString TFileListBox::ItemText(int index) {
    HandleNeeded();
    const QListWidgetItem* it = item(index);
    return it ? it->text() : QString();
}

Glyph TFileListBox::ItemGlyph(int index) {
    HandleNeeded();
    const QListWidgetItem* it = item(index);
    return it ? static_cast<Glyph>(it->data(kGlyphRole).toInt()) : Glyph::None;
}

int TFileListBox::ItemIndex() {
    HandleNeeded();
    const QList<QListWidgetItem*> selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void TFileListBox::SetItemIndex(int index) {
    HandleNeeded();
    QScopedValueRollback<bool> guard(fromCode_, true);
    if (index >= 0 && index < count()) {
        setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    } else {
        clearSelection();
        setCurrentRow(-1);
    }
}

int TFileListBox::FindExact(const QString& text) {
    for (int i = 0; i < Count(); ++i)
        if (SameName(item(i)->text(), text)) return i;
    return -1;
}

void TFileListBox::SplitPathText(const QString& text, QString& folder, QString& filePart) const {
    QString folderPart = text;
    if (text.size() >= 2 && text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']')))
        folderPart = text.mid(1, text.size() - 2);
    const qsizetype cut = folderPart.lastIndexOf(QLatin1Char('/'));
    filePart = folderPart.mid(cut + 1);
    if (cut == 0)
        folderPart = QStringLiteral("/");
    else if (cut > 0)
        folderPart = folderPart.left(cut);
    else
        folderPart = folder_;
    folder = EnterFolder(folder_, folderPart);
    if (!filePart.isEmpty() && !HasWildcards(filePart) && !fs::FileExists(Std(Join(folder, filePart)))) {
        folder = EnterFolder(folder, filePart);
        filePart.clear();
    }
}

void TFileListBox::SetPathText(const QString& text) {
    if (text.isEmpty() || SameName(text, SelectedFileName())) return;
    QString folder, filePart;
    SplitPathText(text, folder, filePart);
    SetFolder(folder);
    if (HasWildcards(filePart)) {
        SetMask(filePart);
        return;
    }
    if (filePart.isEmpty()) return;
    const int current = ItemIndex();
    if (current < 0 || !SameName(ItemText(current), filePart)) {
        SetItemIndex(FindExact(filePart));
        Change();
    }
    if (!fs::FileExists(Std(Join(folder_, filePart))))
        throw archive::Exception(Std(QStringLiteral("Invalid file name - %1").arg(text)));
    if (ItemIndex() < 0) {
        // The mask hides the file: show it by its own name.
        SetMask(filePart);
        SetItemIndex(FindExact(filePart));
        Change();
    }
}

void TFileListBox::Change() {
    lastReported_ = ItemIndex();
    if (OnChange) OnChange(this);
}

void TFileListBox::Click() {
    if (lastReported_ != ItemIndex()) Change();
}

void TFileListBox::showEvent(QShowEvent* event) {
    QListWidget::showEvent(event);
    try {
        HandleNeeded();
    } catch (const std::exception&) {
        // A folder that vanished before the list was first shown: the list stays empty until the next
        // explicit ReloadFiles, which reports the failure to its caller.
    }
}

void TFileListBox::changeEvent(QEvent* event) {
    QListWidget::changeEvent(event);
    if (event->type() == QEvent::FontChange) doItemsLayout();
}

}  // namespace ui
