// The catalogue's "Backup created:" text, read from a backup's file name.
//
// Backups are named "zorvel3_" + yyyymmddhhnnss + ".zip" in local time, so the name itself tells when the
// backup was made; the file's own time is not used (a copied backup keeps its name, not its time). The
// label is cut out by position: after taking out the first "zorvel3_" and then the first ".zip" (both
// case-sensitive) the rest is s, and the label is s[7..8] "." s[5..6] "." s[1..4] " at " s[9..10] ":"
// s[11..12], counting from 1; a piece past the end of s comes out short or empty. Names that merely match
// the list's mask get the same treatment, so "zorvel3x.zip" reads "3x.el.zorv at :" -- the label never
// guesses, it shows what stands in the name. Seconds are not shown.
#pragma once

#include <QString>

namespace app {

// "dd.mm.yyyy at hh:nn" from a backup's file name (no folder part).
QString CreationLabel(const QString& fileName);

}  // namespace app
