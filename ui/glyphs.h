// The small pictures of the file list and the folder field's button, drawn once in code.
//
// "EXECUTABLE", "CLOSEDFOLDER" and "UNKNOWNFILE" are 16 by 15 pixels, so a list that shows them has rows
// at least 16 pixels high; "FEDITBMP" (the folder on the browse button) is 14 by 12, so the button stays
// 21 pixels wide. Their backgrounds are transparent.
#pragma once

#include <QPixmap>

namespace ui {

enum class Glyph { None, Executable, ClosedFolder, UnknownFile, FolderButton };

// The picture of a glyph; a null pixmap for Glyph::None.
QPixmap GlyphPixmap(Glyph glyph);

}  // namespace ui
