// Retention; see retention.h.
#include "app/commands/retention.h"

#include <QDate>
#include <QTime>
#include <QRegularExpression>
#include <QSet>

namespace app {

namespace {

QDate DateOf(const QString& backupName) { return QDate::fromString(backupName.mid(8, 8), QStringLiteral("yyyyMMdd")); }

}  // namespace

bool IsBackupName(const QString& fileName) {
    // The time must be one the program can have written: 14 digits that make a date and a time.
    static const QRegularExpression backupName(QStringLiteral("^zorvel3_\\d{14}\\.zip$"));
    return backupName.match(fileName).hasMatch() && DateOf(fileName).isValid() &&
           QTime::fromString(fileName.mid(16, 6), QStringLiteral("hhmmss")).isValid();
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

namespace {

// The newest backup of each of the last `count` periods that have one; `period` names a backup's period.
template <typename Period>
void KeepNewestOfPeriods(const QStringList& newestFirst, int count, Period period, QSet<QString>& kept) {
    QString last;
    int periods = 0;
    for (const QString& name : newestFirst) {
        const QString which = period(DateOf(name));
        if (which == last) continue;  // an older backup of a period already kept
        if (periods++ == count) return;
        last = which;
        kept.insert(name);
    }
}

}  // namespace

QStringList BackupsBeyondHistory(const QStringList& fileNames, const HistoryToKeep& history, const QString& newName) {
    QStringList backups;
    for (const QString& name : fileNames)
        if (IsBackupName(name)) backups.append(name);
    backups.sort();
    backups.removeDuplicates();
    QStringList newestFirst(backups.crbegin(), backups.crend());

    QSet<QString> kept{newName};
    for (int i = 0; i < history.newest && i < newestFirst.size(); ++i) kept.insert(newestFirst[i]);
    KeepNewestOfPeriods(newestFirst, history.days, [](const QDate& d) { return d.toString(Qt::ISODate); }, kept);
    KeepNewestOfPeriods(newestFirst, history.weeks, [](const QDate& d) {
        int year = 0;
        const int week = d.weekNumber(&year);
        return QStringLiteral("%1-W%2").arg(year).arg(week, 2, 10, QLatin1Char('0'));
    }, kept);
    KeepNewestOfPeriods(newestFirst, history.months, [](const QDate& d) { return d.toString(QStringLiteral("yyyy-MM")); }, kept);

    QStringList beyond;
    for (const QString& name : backups)
        if (!kept.contains(name)) beyond.append(name);
    return beyond;
}

}  // namespace app
