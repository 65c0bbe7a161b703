// Notifications and the record of unattended backups; see unattended.h.
#include "app/commands/unattended.h"

#include "app/commands/exit_codes.h"
#include "archive/fs/fs.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QPair>
#include <QSettings>
#include <QVariant>

namespace app {

namespace {

QString Group(UnattendedKind kind) {
    return kind == UnattendedKind::Watch ? QStringLiteral("watch") : QStringLiteral("backup");
}

}  // namespace

std::optional<platform::Notification> BackupNotification(UnattendedKind kind, int exitCode, const QStringList& reasons) {
    if (exitCode == kExitOk || exitCode == kExitUsage) return std::nullopt;
    if (exitCode == kExitLoggerRunning && kind == UnattendedKind::Watch) return std::nullopt;
    platform::Notification notification;
    notification.urgent = exitCode != kExitIncomplete;
    notification.summary = QString::fromLatin1(notification.urgent ? kBackupFailedSummary : kBackupIncompleteSummary);
    notification.body = reasons.join(QLatin1Char('\n'));
    return notification;
}

QString NotShownText(const QString& problem) {
    return QStringLiteral("The desktop notification could not be shown: %1.").arg(problem);
}

QString UnattendedStateFile() {
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty()) state = QString::fromStdString(archive::fs::HomeDirectory()) + QStringLiteral("/.local/state");
    return state + QStringLiteral("/ZORVEL_Backup/unattended.ini");
}

namespace {

// Writes one group of the state file (made with its folder when missing); false with the problem when
// it cannot be written.
bool WriteStateGroup(const QString& group, const QList<QPair<QString, QVariant>>& values, QString* problem) {
    const QString file = UnattendedStateFile();
    if (!QDir().mkpath(QFileInfo(file).path())) {
        if (problem) *problem = QStringLiteral("the folder %1 cannot be made").arg(QFileInfo(file).path());
        return false;
    }
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(group);
    for (const auto& [key, value] : values) settings.setValue(key, value);
    settings.endGroup();
    settings.sync();
    if (settings.status() != QSettings::NoError) {
        if (problem) *problem = QStringLiteral("%1 cannot be written").arg(file);
        return false;
    }
    return true;
}

}  // namespace

bool RecordUnattendedRun(UnattendedKind kind, const UnattendedRun& run, QString* problem) {
    return WriteStateGroup(Group(kind),
                           {{QStringLiteral("time"), run.time.toString(Qt::ISODate)},
                            {QStringLiteral("exit"), run.exitCode},
                            {QStringLiteral("archive"), run.archive},
                            {QStringLiteral("reason"), run.reason},
                            {QStringLiteral("unchanged"), run.unchanged}},
                           problem);
}

namespace {

// The logger folder as the record names it: its real path, without the trailing '/'.
QString RecordedFolder(const QString& loggerFolder) {
    const QFileInfo info(loggerFolder);
    const QString real = info.canonicalFilePath();
    return QDir::cleanPath(real.isEmpty() ? info.absoluteFilePath() : real);
}

// The group of a logger folder's finding: a key made from its path (an INI group name cannot hold
// every character a path may).
QString CurrentGroup(const QString& recordedFolder) {
    return QStringLiteral("current ") +
           QString::fromLatin1(QCryptographicHash::hash(recordedFolder.toUtf8(), QCryptographicHash::Sha1).toHex().left(16));
}

}  // namespace

bool RecordStillCurrent(const QString& loggerFolder, const QString& archive, const QDateTime& time, QString* problem) {
    const QString folder = RecordedFolder(loggerFolder);
    return WriteStateGroup(CurrentGroup(folder),
                           {{QStringLiteral("logger"), folder},
                            {QStringLiteral("archive"), QFileInfo(archive).absoluteFilePath()},
                            {QStringLiteral("time"), time.toString(Qt::ISODate)}},
                           problem);
}

std::optional<StillCurrent> LastStillCurrent(const QString& loggerFolder) {
    const QString file = UnattendedStateFile();
    if (!QFileInfo::exists(file)) return std::nullopt;
    const QString folder = RecordedFolder(loggerFolder);
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(CurrentGroup(folder));
    if (settings.value(QStringLiteral("logger")).toString() != folder) return std::nullopt;
    StillCurrent current{settings.value(QStringLiteral("archive")).toString(),
                         QDateTime::fromString(settings.value(QStringLiteral("time")).toString(), Qt::ISODate)};
    if (current.archive.isEmpty() || !current.time.isValid()) return std::nullopt;
    return current;
}

std::optional<UnattendedRun> LastUnattendedRun(UnattendedKind kind) {
    const QString file = UnattendedStateFile();
    if (!QFileInfo::exists(file)) return std::nullopt;
    QSettings settings(file, QSettings::IniFormat);
    settings.beginGroup(Group(kind));
    UnattendedRun run;
    run.time = QDateTime::fromString(settings.value(QStringLiteral("time")).toString(), Qt::ISODate);
    if (!run.time.isValid()) return std::nullopt;
    bool ok = false;
    run.exitCode = settings.value(QStringLiteral("exit")).toInt(&ok);
    if (!ok) return std::nullopt;
    run.archive = settings.value(QStringLiteral("archive")).toString();
    run.reason = settings.value(QStringLiteral("reason")).toString();
    run.unchanged = settings.value(QStringLiteral("unchanged"), false).toBool();
    return run;
}

QString RunOutcomeText(const UnattendedRun& run) {
    const QString reason = run.reason.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(run.reason);
    switch (run.exitCode) {
        case kExitOk:
            return (run.unchanged ? QStringLiteral("nothing had changed, still current: ") : QStringLiteral("done: ")) +
                   run.archive;
        case kExitIncomplete: return QStringLiteral("done in part: ") + run.archive + reason;
        case kExitLoggerRunning: return QStringLiteral("not made: ZORVEL_Log 3 was running");
        case kExitBusy: return QStringLiteral("not made: another ZORVEL_Backup run was using the folders");
        default: return QStringLiteral("failed") + (run.reason.isEmpty() ? QString() : QStringLiteral(": ") + run.reason);
    }
}

QString OneLine(const QStringList& lines) { return lines.join(QLatin1Char(' ')).simplified(); }

}  // namespace app
