// How recent the backups are: which archive counts as the newest complete backup (newest by the time
// in its name, among those that read back whole; other names, names whose time is no date or lies in
// the far future, and the backups made before a restore never count), whose finding of "still current"
// counts for it, where the age allowed ends, and the notification each outcome of an unattended backup
// gets.
#include "app/commands/backup_status.h"
#include "app/commands/exit_codes.h"
#include "app/commands/unattended.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

#include <QtTest>

using namespace app;

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

std::string GoodArchive() { return testing_support::ZipBuilder().Stored("DB/Logs.mdb", "log").Build(); }

// Opens, but its entry's data fails the CRC check.
std::string DamagedArchive() {
    std::string bytes = GoodArchive();
    bytes[bytes.find("log")] = 'L';
    return bytes;
}

const QDateTime kNow(QDate(2026, 12, 7), QTime(12, 0));

}  // namespace

class BackupStatusTest : public QObject {
    Q_OBJECT

private slots:
    void newestCompleteBackup() {
        const std::string good = GoodArchive();
        const std::string truncated = good.substr(0, good.size() - 10);
        const struct {
            const char* name;
            std::vector<std::pair<const char*, std::string>> files;
            const char* newest;  // "" for none
            const char* passedOver = "";  // the start of what is said of a newer file passed over
        } cases[] = {
            {"empty folder", {}, ""},
            {"newest by the name's time, not by listing order",
             {{"zorvel3_20261203020000.zip", good}, {"zorvel3_20261130020000.zip", good}, {"zorvel3_20261201020000.zip", good}},
             "zorvel3_20261203020000.zip"},
            {"the newest does not open: the one before",
             {{"zorvel3_20261203020000.zip", truncated}, {"zorvel3_20261201020000.zip", good}}, "zorvel3_20261201020000.zip"},
            {"none opens", {{"zorvel3_20261203020000.zip", truncated}, {"zorvel3_20261201020000.zip", "junk"}}, ""},
            {"upper-case names are not the program's", {{"ZORVEL3_20261205020000.ZIP", good}, {"zorvel3_20261201020000.zip", good}},
             "zorvel3_20261201020000.zip"},
            {"the newest opens but does not read back whole",
             {{"zorvel3_20261203020000.zip", DamagedArchive()}, {"zorvel3_20261201020000.zip", good}}, "zorvel3_20261201020000.zip",
             "zorvel3_20261203020000.zip: does not read back whole (DB/Logs.mdb: "},
            {"a name from the far future", {{"zorvel3_20990101000000.zip", good}, {"zorvel3_20261201020000.zip", good}},
             "zorvel3_20261201020000.zip", "zorvel3_20990101000000.zip: named for 2099-01-01 00:00:00, later than tomorrow"},
            {"a name of tomorrow is a clock's error, not the future", {{"zorvel3_20261208110000.zip", good}, {"zorvel3_20261201020000.zip", good}},
             "zorvel3_20261208110000.zip"},
            {"a backup made before a restore", {{"zorvel3-before-restore-20261205020000.zip", good}, {"zorvel3_20261201020000.zip", good}},
             "zorvel3_20261201020000.zip"},
            {"other names never count",
             {{"zorvel3_20261201020000.zip", good}, {"zorvel3_20991301020000.zip", good}, {"zorvel3_2026120102000.zip", good},
              {"zorvel3_20261209020000.zip.bak", good}, {"other_20261209020000.zip", good}, {"zorvel3_20261209020000x.zip", good}},
             "zorvel3_20261201020000.zip"},
        };
        for (const auto& c : cases) {
            testing_support::TempDir dir;
            for (const auto& [name, bytes] : c.files) testing_support::WriteFile(dir / name, bytes);
            QStringList passedOver;
            const auto newest = NewestCompleteBackup(Q(dir.Path()), Q(dir / "Log/"), kNow, &passedOver);
            QVERIFY2(newest.has_value() == (*c.newest != '\0'), c.name);
            if (newest) QVERIFY2(newest->path == Q(dir / c.newest), qPrintable(c.name + (": " + newest->path)));
            if (*c.passedOver)
                QVERIFY2(passedOver.size() == 1 && passedOver[0].startsWith(Q(dir / c.passedOver)),
                         qPrintable(c.name + (": " + passedOver.join('|'))));
        }
    }

    // The finding of a run with --if-changed belongs to the backup it found current and to the logger
    // folder whose files it compared, and to no other.
    void stillCurrentIsTheFindingsBackupOnly() {
        testing_support::TempDir dir;
        qputenv("XDG_STATE_HOME", (dir / "state").c_str());
        const QString logger = Q(dir / "Log/"), otherLogger = Q(dir / "Other Log/");
        QDir().mkpath(logger);
        QDir().mkpath(otherLogger);
        testing_support::WriteFile(dir / "b/zorvel3_20261201020000.zip", GoodArchive());
        testing_support::WriteFile(dir / "b/zorvel3_20261130020000.zip", GoodArchive());
        const QDateTime found(QDate(2026, 12, 20), QTime(8, 0));
        const auto newest = [&](const QString& forLogger) { return NewestCompleteBackup(Q(dir / "b"), forLogger, found); };
        QVERIFY(!newest(logger)->stillCurrent);
        QVERIFY(RecordStillCurrent(logger, Q(dir / "b/zorvel3_20261130020000.zip"), found, nullptr));
        QVERIFY(!newest(logger)->stillCurrent);
        QVERIFY(RecordStillCurrent(otherLogger, Q(dir / "b/zorvel3_20261201020000.zip"), found, nullptr));
        QVERIFY(!newest(logger)->stillCurrent);
        QCOMPARE(newest(otherLogger)->stillCurrent, std::optional<QDateTime>(found));
        QVERIFY(!BackupStatus(Q(dir / "b"), logger, 7, found.addDays(1)).stale.isEmpty());
        QVERIFY(RecordStillCurrent(logger, Q(dir / "b/zorvel3_20261201020000.zip"), found, nullptr));
        QCOMPARE(newest(logger)->stillCurrent, std::optional<QDateTime>(found));
        QCOMPARE(newest(otherLogger)->stillCurrent, std::optional<QDateTime>(found));
        QVERIFY(BackupStatus(Q(dir / "b"), logger, 7, found.addDays(1)).stale.isEmpty());
        qunsetenv("XDG_STATE_HOME");
    }

    // What `status` says of the files it passed over, in the lines it prints.
    void statusNamesWhatItPassedOver() {
        testing_support::TempDir dir;
        qputenv("XDG_STATE_HOME", (dir / "state").c_str());
        testing_support::WriteFile(dir / "b/zorvel3_20261206020000.zip", GoodArchive());
        testing_support::WriteFile(dir / "b/zorvel3_20261207020000.zip", DamagedArchive());
        const StatusReport report = BackupStatus(Q(dir / "b"), Q(dir / "Log/"), 7, kNow);
        QCOMPARE(report.lines.value(1), "Newest complete backup: " + Q(dir / "b/zorvel3_20261206020000.zip") +
                                            ", made 2026-12-06 02:00:00, 1 day old");
        QVERIFY2(report.lines.value(2).startsWith("Not counted: " + Q(dir / "b/zorvel3_20261207020000.zip") +
                                                  ": does not read back whole (DB/Logs.mdb: "),
                 qPrintable(report.lines.join('\n')));
        QVERIFY(report.stale.isEmpty());
        qunsetenv("XDG_STATE_HOME");
    }

    void ageAllowed() {
        const QDateTime made(QDate(2026, 12, 1), QTime(2, 0));
        const struct {
            qint64 secondsLater;
            int maxAgeDays;
            std::optional<qint64> foundCurrentLater;  // a run with --if-changed found it still current then
            QString said;
        } cases[] = {
            {0, 7, std::nullopt, ""},
            {-3600, 7, std::nullopt, ""},  // made "in the future" (the clock was set back): not old
            {7 * 86400, 7, std::nullopt, ""},
            {7 * 86400 + 1, 7, std::nullopt, "The newest complete backup in /b is 7 days old, older than 7 days."},
            {86400 + 7200, 1, std::nullopt, "The newest complete backup in /b is 1 day old, older than 1 day."},
            {30 * 86400, 14, std::nullopt, "The newest complete backup in /b is 30 days old, older than 14 days."},
            // Old, but found current since: its age counts from that finding, and a watcher that stopped
            // finding (or working) lets it grow old again.
            {30 * 86400, 7, 29 * 86400, ""},
            {30 * 86400, 7, 22 * 86400, "The newest complete backup in /b was last found current 8 days ago, longer than 7 days."},
            {30 * 86400, 7, -86400, "The newest complete backup in /b is 30 days old, older than 7 days."},
        };
        for (const auto& c : cases) {
            CompleteBackup newest{"/b/zorvel3_20261201020000.zip", made, std::nullopt};
            if (c.foundCurrentLater) newest.stillCurrent = made.addSecs(*c.foundCurrentLater);
            QCOMPARE(StalenessText("/b/", newest, made.addSecs(c.secondsLater), c.maxAgeDays), c.said);
        }
        QCOMPARE(StalenessText("/b", std::nullopt, made, 7), QStringLiteral("There is no complete backup in /b."));
        QCOMPARE(AgeText(59), QStringLiteral("less than a minute"));
        QCOMPARE(AgeText(3599), QStringLiteral("59 minutes"));
        QCOMPARE(AgeText(7200), QStringLiteral("2 hours"));
        QCOMPARE(AgeText(86400 * 2 - 1), QStringLiteral("1 day"));
    }

    // Which outcome of an unattended backup shows which notification.
    void notificationPerOutcome() {
        const QStringList reasons{"The backup folder /b does not exist."};
        const struct {
            UnattendedKind kind;
            int exitCode;
            const char* summary;  // "" for none
        } cases[] = {
            {UnattendedKind::Backup, kExitOk, ""},
            {UnattendedKind::Backup, kExitFailed, kBackupFailedSummary},
            {UnattendedKind::Backup, kExitUsage, ""},
            {UnattendedKind::Backup, kExitLoggerRunning, kBackupFailedSummary},
            {UnattendedKind::Backup, kExitIncomplete, kBackupIncompleteSummary},
            {UnattendedKind::Backup, kExitBusy, kBackupFailedSummary},
            {UnattendedKind::Watch, kExitOk, ""},
            {UnattendedKind::Watch, kExitFailed, kBackupFailedSummary},
            {UnattendedKind::Watch, kExitLoggerRunning, ""},  // it backs up when the logger closes again
            {UnattendedKind::Watch, kExitIncomplete, kBackupIncompleteSummary},
            {UnattendedKind::Watch, kExitBusy, kBackupFailedSummary},
        };
        for (const auto& c : cases) {
            const auto notification = BackupNotification(c.kind, c.exitCode, reasons);
            const QString row = QStringLiteral("kind %1, exit %2").arg(int(c.kind)).arg(c.exitCode);
            QVERIFY2(notification.has_value() == (*c.summary != '\0'), qPrintable(row));
            if (!notification) continue;
            QCOMPARE(notification->summary, QString::fromLatin1(c.summary));
            QCOMPARE(notification->body, reasons.join('\n'));
            QCOMPARE(notification->urgent, c.exitCode != kExitIncomplete);
        }
    }
};

QTEST_MAIN(BackupStatusTest)
#include "backup_status_test.moc"
