// Backup status; see backup_status.h.
#include "app/commands/backup_status.h"

#include "app/commands/systemd_units.h"
#include "app/commands/unattended.h"
#include "app/native_path.h"
#include "app/commands/retention.h"
#include "archive/reader/archive_check.h"
#include "archive/records/printable_name.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace app {

namespace {

QString Plural(qint64 count, const char* unit) {
    return QStringLiteral("%1 %2%3").arg(count).arg(QLatin1String(unit)).arg(count == 1 ? "" : "s");
}

QString TimeText(const QDateTime& time) { return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString UnitLine(const char* what, const char* unit, UnattendedKind kind) {
    const bool installed = QFileInfo::exists(UserUnitFolder() + QLatin1Char('/') + QLatin1String(unit));
    QString line = QStringLiteral("%1 (%2): %3")
                       .arg(QLatin1String(what), QLatin1String(unit),
                            installed ? QStringLiteral("installed") : QStringLiteral("not installed"));
    if (const auto run = LastUnattendedRun(kind))
        line += QStringLiteral(", last backup %1: %2").arg(TimeText(run->time), RunOutcomeText(*run));
    else if (installed)
        line += QStringLiteral(", no backup yet");
    return line;
}

}  // namespace

std::optional<CompleteBackup> NewestCompleteBackup(const QString& folder, const QString& loggerFolder,
                                                   const QDateTime& now, QStringList* passedOver) {
    std::vector<CompleteBackup> candidates;
    const QDir dir(folder);
    const NameTime current = NameTimeOf(now);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        const auto parsed = ParseArchiveName(name.toStdString());
        if (!parsed || parsed->kind != ArchiveKind::Backup) continue;
        const NameTime& t = parsed->time;
        const QDateTime made(QDate(t.year, t.month, t.day), QTime(t.hour, t.minute, t.second));
        if (IsFarFuture(t, current)) {
            if (passedOver)
                passedOver->append(QStringLiteral("%1: named for %2, later than tomorrow")
                                       .arg(dir.filePath(name), TimeText(made)));
            continue;
        }
        candidates.push_back({dir.filePath(name), made, std::nullopt});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const CompleteBackup& a, const CompleteBackup& b) { return a.made > b.made; });
    for (CompleteBackup& candidate : candidates) {
        const archive::CheckResult check = archive::CheckArchive(Native(candidate.path));
        if (!check.Ok()) {
            if (passedOver) {
                QString why = QStringLiteral("does not read back whole");
                if (!check.problems.empty()) {
                    const archive::CheckProblem& first = check.problems.front();
                    why += QStringLiteral(" (") +
                           (first.entry.empty() ? QString()
                                                : QString::fromStdString(archive::PrintableName(first.entry)) + QStringLiteral(": ")) +
                           QString::fromStdString(first.what) + QLatin1Char(')');
                }
                passedOver->append(candidate.path + QStringLiteral(": ") + why);
            }
            continue;
        }
        const std::optional<StillCurrent> found = LastStillCurrent(loggerFolder);
        if (found && found->archive == QFileInfo(candidate.path).absoluteFilePath()) candidate.stillCurrent = found->time;
        return candidate;
    }
    return std::nullopt;
}

QString AgeText(qint64 seconds) {
    if (seconds >= 86400) return Plural(seconds / 86400, "day");
    if (seconds >= 3600) return Plural(seconds / 3600, "hour");
    if (seconds >= 60) return Plural(seconds / 60, "minute");
    return QStringLiteral("less than a minute");
}

QString StalenessText(const QString& folder, const std::optional<CompleteBackup>& newest, const QDateTime& now,
                      int maxAgeDays) {
    const QString shown = QDir::cleanPath(folder);
    if (!newest) return QStringLiteral("There is no complete backup in %1.").arg(shown);
    const qint64 age = std::max<qint64>(0, newest->CurrentSince().secsTo(now));
    if (age <= qint64(maxAgeDays) * 86400) return {};
    if (newest->CurrentSince() != newest->made)
        return QStringLiteral("The newest complete backup in %1 was last found current %2 ago, longer than %3.")
            .arg(shown, AgeText(age), Plural(maxAgeDays, "day"));
    return QStringLiteral("The newest complete backup in %1 is %2 old, older than %3.")
        .arg(shown, AgeText(age), Plural(maxAgeDays, "day"));
}

StatusReport BackupStatus(const QString& folder, const QString& loggerFolder, int maxAgeDays, const QDateTime& now) {
    StatusReport report;
    QStringList passedOver;
    const std::optional<CompleteBackup> newest = NewestCompleteBackup(folder, loggerFolder, now, &passedOver);
    report.lines << QStringLiteral("Backup folder: ") + QDir::cleanPath(folder);
    if (newest) {
        report.lines << QStringLiteral("Newest complete backup: %1, made %2, %3 old")
                            .arg(newest->path, TimeText(newest->made),
                                 AgeText(std::max<qint64>(0, newest->made.secsTo(now))));
        if (newest->CurrentSince() != newest->made) {
            report.lines.last() += QStringLiteral("; still current at %1 (nothing had changed)")
                                       .arg(TimeText(*newest->stillCurrent));
        }
    } else {
        report.lines << QStringLiteral("Newest complete backup: none");
    }
    for (const QString& file : passedOver) report.lines << QStringLiteral("Not counted: ") + file;
    report.lines << UnitLine("Nightly backup", kBackupTimerUnit, UnattendedKind::Backup)
                 << UnitLine("Backup when ZORVEL_Log 3 closes", kWatchServiceUnit, UnattendedKind::Watch);
    report.stale = StalenessText(folder, newest, now, maxAgeDays);
    return report;
}

}  // namespace app
