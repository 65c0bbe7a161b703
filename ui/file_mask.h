// File-name masks as the logger's platform matches them when it searches a folder.
//
// '*' stands for any run of characters, '?' for one character, letters match ignoring case. A name
// without a dot is also tried with a dot appended, which is how that platform lets "*.*" match every
// name, "name.*" match "name" itself, and "*." match the names that have no extension. This is the
// folder-search rule of the file list; the archive engine's own wildcard rule (archive/select) differs.
#pragma once

#include <QString>
#include <QStringList>

namespace ui {

bool MatchesFileMask(const QString& mask, const QString& name);
bool HasWildcards(const QString& text);
// The masks of a ";"-separated mask list, in order; empty pieces are dropped.
QStringList SplitMasks(const QString& masks);

}  // namespace ui
