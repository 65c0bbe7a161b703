// Retention; see retention.h.
#include "app/commands/retention.h"

#include <QRegularExpression>

namespace app {

bool IsBackupName(const QString& fileName) {
    static const QRegularExpression backupName(QStringLiteral("^zorvel3_\\d{14}\\.zip$"));
    return backupName.match(fileName).hasMatch();
}

QStringList DeleteOldBackups(QStringList fileNames, int keep, const QString& newName,
                             const std::function<bool(const QString& fileName)>& remove) {
    QStringList backups;
    for (const QString& name : fileNames)
        if (IsBackupName(name)) backups.append(name);
    backups.sort();  // the fixed-width time in the name: oldest first
    backups.removeDuplicates();
    QStringList deleted;
    qsizetype left = backups.size();
    for (const QString& name : backups) {
        if (left <= keep) break;
        if (name == newName || !remove(name)) continue;
        deleted.append(name);
        --left;
    }
    return deleted;
}

}  // namespace app
