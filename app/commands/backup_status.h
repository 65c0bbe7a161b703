// How recent the backups are, as `status` tells it and the watcher keeps an eye on it.
//
// The newest complete backup of a folder is the newest zorvel3_<yyyymmddhhnnss>.zip (newest by the
// time in its name, which is when it was made) whose directory can be read: a newer archive that does
// not open is no backup to count on. Its age is counted from that time to now; a folder whose newest
// complete backup is older than the days allowed (7 unless said otherwise), or that has none, needs
// attention.
//
// A backup that a later run with --if-changed found still current (nothing had changed, so that run made
// none) is as good as one made then: its age is counted from that finding. A watcher that stopped
// working makes no such findings, so its backups still grow old and are told.
#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace app {

inline constexpr int kDefaultMaxAgeDays = 7;

struct CompleteBackup {
    QString path;
    QDateTime made;  // local time, from the name
    // When a run with --if-changed last found it still holding the logger's current state (none: never).
    std::optional<QDateTime> stillCurrent;
    // Since when the backup is known to be current: the later of the two.
    QDateTime CurrentSince() const { return stillCurrent && *stillCurrent > made ? *stillCurrent : made; }
};

std::optional<CompleteBackup> NewestCompleteBackup(const QString& folder);

// "3 days", "1 hour", "12 minutes", "less than a minute" (whole units, rounded down).
QString AgeText(qint64 seconds);

// Empty while the newest complete backup is no older than `maxAgeDays`; else why it needs attention:
// "There is no complete backup in <folder>." or "The newest complete backup in <folder> is <age> old,
// older than <n> days."
QString StalenessText(const QString& folder, const std::optional<CompleteBackup>& newest, const QDateTime& now,
                      int maxAgeDays);

struct StatusReport {
    QStringList lines;  // for standard output
    QString stale;      // StalenessText: empty when all is well
};

// The backup folder, its newest complete backup and that backup's age, and for the nightly timer and
// the watcher whether their units are installed and what their last backup came to.
StatusReport BackupStatus(const QString& folder, int maxAgeDays, const QDateTime& now);

}  // namespace app
