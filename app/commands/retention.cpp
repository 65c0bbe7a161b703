// Retention; see retention.h.
#include "app/commands/retention.h"

#include <QDate>
#include <QSet>

#include <algorithm>

namespace app {

namespace {

QDate DateOf(const QString& backupName) { return QDate::fromString(backupName.mid(8, 8), QStringLiteral("yyyyMMdd")); }

bool FarFuture(const QString& name, const NameTime& now) {
    const auto parsed = ParseArchiveName(name.toStdString());
    return parsed && IsFarFuture(parsed->time, now);
}

// The backups among `fileNames` that take places, oldest first (the fixed-width time in the name).
QStringList Candidates(const QStringList& fileNames, const QDateTime& now) {
    const NameTime current = NameTimeOf(now);
    QStringList backups;
    for (const QString& name : fileNames)
        if (IsBackupName(name) && !FarFuture(name, current)) backups.append(name);
    backups.sort();
    backups.removeDuplicates();
    return backups;
}

}  // namespace

NameTime NameTimeOf(const QDateTime& localTime) {
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
}

bool IsBackupName(const QString& fileName) { return IsBackupName(std::string_view(fileName.toStdString())); }

bool IsSafetyBackupName(const QString& fileName) { return IsSafetyBackupName(std::string_view(fileName.toStdString())); }

QStringList FarFutureBackups(const QStringList& fileNames, const QDateTime& now) {
    const NameTime current = NameTimeOf(now);
    QStringList ahead;
    for (const QString& name : fileNames)
        if (IsBackupName(name) && FarFuture(name, current)) ahead.append(name);
    ahead.sort();
    ahead.removeDuplicates();
    return ahead;
}

QStringList DeleteOldBackups(QStringList fileNames, int keep, const QString& newName, const QDateTime& now,
                             const std::function<bool(const QString& fileName)>& remove) {
    const QStringList backups = Candidates(fileNames, now);
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

QStringList BackupsBeyondHistory(const QStringList& fileNames, const HistoryToKeep& history, const QString& newName,
                                 const QDateTime& now) {
    const QStringList backups = Candidates(fileNames, now);
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

QStringList BackupsTheHistoryDeletes(const QStringList& fileNames, const HistoryToKeep& history,
                                     const QString& newName, const QDateTime& now) {
    QStringList names = fileNames;
    if (!names.contains(newName)) names.append(newName);
    if (history.ByCalendar()) return BackupsBeyondHistory(names, history, newName, now);
    if (history.newest <= 0) return {};
    return DeleteOldBackups(names, history.newest, newName, now, [](const QString&) { return true; });
}

std::vector<std::string> SafetyBackupsBeyond(const std::vector<std::string>& fileNames, int keep,
                                             const std::string& newName) {
    std::vector<std::string> safety;
    for (const std::string& name : fileNames)
        if (IsSafetyBackupName(std::string_view(name)) && name != newName) safety.push_back(name);
    std::sort(safety.begin(), safety.end());
    safety.erase(std::unique(safety.begin(), safety.end()), safety.end());
    // The new one is among the kept, wherever its name sorts.
    const size_t others = keep > 0 ? size_t(keep - 1) : 0;
    if (safety.size() <= others) return {};
    safety.resize(safety.size() - others);
    return safety;
}

std::vector<std::string> BackupsToMakeRoom(const std::vector<std::pair<std::string, uint64_t>>& candidates,
                                           uint64_t freeBytes, uint64_t neededBytes) {
    std::vector<std::string> chosen;
    uint64_t room = freeBytes;
    for (const auto& [name, size] : candidates) {
        if (room >= neededBytes) break;
        chosen.push_back(name);
        room += size;
    }
    if (room < neededBytes) return {};
    return chosen;
}

}  // namespace app
