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
    int entries = 0;
    QStringList problems;  // "<entry>: <what>", or the reason the archive does not open
    bool Ok() const { return problems.isEmpty(); }
};

VerifyReport VerifyBackup(const QString& archivePath, archive::Host* host = nullptr);

// "<archive>: OK, <n> entries" or "<archive>: damaged"; the problems go on lines of their own.
QString VerifySummary(const VerifyReport& report);

}  // namespace app
