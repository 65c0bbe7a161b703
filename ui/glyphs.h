// The small pictures of the file list, the folder tree and the folder field's button.
//
// They come from the desktop's icon theme ("application-x-executable", "folder", "text-x-generic",
// "folder-open"), and where the theme has none, from the widget style's standard pictures, so the
// program looks like the other tools on the same desktop. Their sizes stay those of the design:
// "EXECUTABLE", "CLOSEDFOLDER" and "UNKNOWNFILE" are 16 by 15 pixels, so a list that shows them has rows
// at least 16 pixels high; "FEDITBMP" (the folder on the browse button) is 14 by 12, so the button stays
// 21 pixels wide. The picture sits centred on a transparent canvas of that size.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QStyle>

namespace ui {

enum class Glyph { None, Executable, ClosedFolder, UnknownFile, FolderButton };

// The picture of a glyph; a null pixmap for Glyph::None.
QPixmap GlyphPixmap(Glyph glyph);

// The theme's icon `name`, else the current style's standard picture `fallback`.
QIcon ThemedIcon(const QString& name, QStyle::StandardPixmap fallback);

// `icon` drawn centred, as large as fits, on a transparent canvas of `size`.
QPixmap CanvasPixmap(const QIcon& icon, QSize size);

// The picture of a file in the desktop's way: the icon of its type (a .zip shows as an archive), else
// the UNKNOWNFILE glyph.
QPixmap FileTypePixmap(const QString& fileName);

}  // namespace ui
