// The backups of a folder as the window's catalogue shows them: every name matching "zorvel3*.zip",
// sorted by name ignoring case (so the timestamped names come oldest first, after the backups made
// before a restore), each with its creation label, its size and whether its directory can be read.
#pragma once

#include <QString>

#include <vector>

namespace app {

struct BackupListing {
    QString path;
    QString label;     // BackupLabel: "dd.mm.yyyy at hh:nn", as the window shows it
    qint64 size = 0;
    bool opens = false;
    QString problem;   // why it does not open
};

// What the window and the listing say of a name: its creation label, taken by position as the window
// always has ("dd.mm.yyyy at hh:nn"); for a backup made before a restore, its time and that it was made
// before a restore ("dd.mm.yyyy at hh:nn, made before a restore").
QString BackupLabel(const QString& fileName);

// EInOutError when the folder cannot be read.
std::vector<BackupListing> ListBackups(const QString& folder);

// One line of the listing: path, label, size in bytes and "opens" or "does not open: <why>", separated
// by tabs.
QString ListingLine(const BackupListing& backup);

}  // namespace app
