// How recent the backups are, as `status` tells it and the watcher keeps an eye on it.
//
// The newest complete backup of a folder is the newest zorvel3_<yyyymmddhhnnss>.zip (newest by the
// time in its name, which is when it was made; the exact lower-case form the program writes) that
// reads back whole: every entry decodes with its CRC and size, as `verify` checks it. A newer archive
// that does not is no backup to count on, and neither is a name more than a day later than now (a
// clock that was far ahead, or a name made up) nor a backup made before a restore: each such newer
// file is named as passed over. Its age is counted from that time to now; a folder whose newest
// complete backup is older than the days allowed (7 unless said otherwise), or that has none, needs
// attention.
//
// A backup that a later run with --if-changed for the same logger folder found still current (nothing
// had changed, so that run made none) is as good as one made then: its age is counted from that
// finding. A watcher that stopped working makes no such findings, so its backups still grow old and
// are told.
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

// The newest complete backup of `folder` at `now`, with the finding of `loggerFolder`'s runs; the newer
// files passed over, each with why, go into `passedOver` when given.
std::optional<CompleteBackup> NewestCompleteBackup(const QString& folder, const QString& loggerFolder,
                                                   const QDateTime& now, QStringList* passedOver = nullptr);

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

// The backup folder, its newest complete backup and that backup's age (for `loggerFolder`), the newer
// files passed over, and for the nightly timer and the watcher whether their units are installed and
// what their last backup came to.
StatusReport BackupStatus(const QString& folder, const QString& loggerFolder, int maxAgeDays, const QDateTime& now);

}  // namespace app
