// Verifying a backup: every entry read back and decoded, its CRC and size compared with the directory,
// like `unzip -t` (archive/reader/archive_check.h does the reading).
#pragma once

#include <QString>
#include <QStringList>

namespace archive {
class Host;
}

namespace app {

struct VerifyReport {
    QString archive;
    bool opened = false;   // its directory could be read
    bool damaged = false;  // some problem is damage, not merely something this program does not read
    int entries = 0;
    QStringList problems;  // "<entry>: <what>", or the reason the archive does not open
    bool Ok() const { return problems.isEmpty(); }
};

VerifyReport VerifyBackup(const QString& archivePath, archive::Host* host = nullptr);

// "<archive>: OK, <n> entries"; "<archive>: damaged" when an entry is; "<archive>: does not open" when
// its directory cannot be read; "<archive>: cannot be checked" when all that stands in the way is a
// kind of archive or entry this program does not read (it may well be whole). The problems go on lines
// of their own.
QString VerifySummary(const VerifyReport& report);

}  // namespace app
