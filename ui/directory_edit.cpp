// The folder field's button action.
#include "ui/directory_edit.h"

#include "archive/fs/fs.h"
#include "ui/glyphs.h"

#include <QFileDialog>

namespace ui {

namespace fs = archive::fs;

TDirectoryEdit::TDirectoryEdit(QWidget* parent) : TCustomComboEdit(parent) {
    const QPixmap glyph = GlyphPixmap(Glyph::FolderButton);
    SetGlyph(glyph);
    SetButtonWidth(qMax(glyph.width() + 6, ButtonWidth()));
}

void TDirectoryEdit::ButtonClick() {
    TCustomComboEdit::ButtonClick();
    ChooseFolder();
}

void TDirectoryEdit::ChooseFolder() {
    QString start = text();
    bool proceed = true;
    if (OnBeforeDialog) OnBeforeDialog(this, start, proceed);
    if (!proceed) return;

    if (start.isEmpty()) start = initialDir_;
    // An empty start opens the dialog at the process's current folder.
    if (!start.isEmpty() && !fs::DirectoryExists(start.toStdString())) start.clear();
    if (dialogKind_ == dkWin32) {
        const QString chosen = QFileDialog::getExistingDirectory(
            this, dialogText_,
            start.isEmpty() ? QString::fromStdString(fs::CurrentDirectory())
                            : QString::fromStdString(fs::Resolve(start.toStdString())));
        proceed = !chosen.isEmpty();
        if (proceed) start = QString::fromStdString(fs::ExcludeTrailingSeparator(chosen.toStdString()));
    } else {
        proceed = RunSelectDirDialog(start, dialogOptions_, helpContext_, this);
    }

    if (isVisible() && isEnabled() && focusPolicy() != Qt::NoFocus) setFocus();
    if (OnAfterDialog) OnAfterDialog(this, start, proceed);
    if (!proceed) return;

    const QString before = text();
    if (hasSelectedText()) {
        QString rest = text();
        rest.remove(selectionStart(), selectedText().size());
        setText(rest);
    }
    if (multipleDirs_ && !text().isEmpty())
        setText(text() + QLatin1Char(';') + start);
    else
        setText(start);
    // Typed text that the picker confirmed as it stood changed nothing just now, but was never announced.
    if (text() == before && TypedBeforeButton() && OnChange) OnChange(this);
    if (!start.isEmpty() && fs::DirectoryExists(start.toStdString())) initialDir_ = start;
}

}  // namespace ui
