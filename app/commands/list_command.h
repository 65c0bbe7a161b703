// The backups of a folder as the window's catalogue shows them: every name matching "zorvel3*.zip",
// sorted by name ignoring case (so the timestamped names come oldest first), each with its creation
// label, its size and whether its directory can be read.
#pragma once

#include <QString>

#include <vector>

namespace app {

struct BackupListing {
    QString path;
    QString label;     // "dd.mm.yyyy at hh:nn", taken from the name by position as the window does
    qint64 size = 0;
    bool opens = false;
    QString problem;   // why it does not open
};

// EInOutError when the folder cannot be read.
std::vector<BackupListing> ListBackups(const QString& folder);

// One line of the listing: path, label, size in bytes and "opens" or "does not open: <why>", separated
// by tabs.
QString ListingLine(const BackupListing& backup);

}  // namespace app
