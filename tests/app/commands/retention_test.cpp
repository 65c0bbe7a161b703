// The retention rules at their decisions: which names are the program's (and of which kind), which
// names are candidates for --keep and in which order they go, the new backup never (by count and by
// calendar), names from the far future taking no place, files that cannot be deleted not counted; how
// many backups made before a restore a folder keeps; which old backups go to make room for a copy.
#include "app/commands/retention.h"

#include <QDate>
#include <QSet>
#include <QTime>

#include <map>
#include <optional>
#include <string>
#include <vector>
#include <QtTest>

using namespace app;

namespace {
const QDateTime kNow(QDate(2026, 12, 7), QTime(12, 0));
}  // namespace

class RetentionTest : public QObject {
    Q_OBJECT

private slots:
    void whatANameSays() {
        const struct {
            const char* name;
            std::optional<ArchiveKind> kind;
        } cases[] = {
            {"zorvel3_20261207140320.zip", ArchiveKind::Backup},
            {"zorvel3-before-restore-20261207140320.zip", ArchiveKind::SafetyBackup},
            {"zorvel3_20240229235959.zip", ArchiveKind::Backup},  // a leap day
            {"zorvel3_20250229000000.zip", std::nullopt},         // no leap year
            {"zorvel3_20261207240000.zip", std::nullopt},
            {"zorvel3_20261307000000.zip", std::nullopt},
            {"ZORVEL3_20261207140320.ZIP", std::nullopt},  // the program writes lower case only
            {"zorvel3_20261207140320.ZIP", std::nullopt},
            {"Zorvel3-Before-Restore-20261207140320.zip", std::nullopt},
            {"zorvel3_2026120714032.zip", std::nullopt},
            {"zorvel3_202612071403201.zip", std::nullopt},
            {"zorvel3_2026120714032x.zip", std::nullopt},
            {"zorvel3-before-restore_20261207140320.zip", std::nullopt},
            {"zorvel3_before-restore-20261207140320.zip", std::nullopt},
            {"zorvel3x.zip", std::nullopt},
        };
        for (const auto& c : cases) {
            const auto parsed = ParseArchiveName(c.name);
            QVERIFY2(parsed.has_value() == c.kind.has_value(), c.name);
            if (!parsed) continue;
            QVERIFY2(parsed->kind == *c.kind, c.name);
            QCOMPARE(QString::fromStdString(ArchiveFileName(parsed->kind, parsed->time)), QString(c.name));
        }
        const NameTime now{2026, 12, 31, 23, 30, 0};
        QVERIFY(!IsFarFuture({2027, 1, 1, 23, 30, 0}, now));  // a day ahead is a clock's error, not the future
        QVERIFY(IsFarFuture({2027, 1, 1, 23, 30, 1}, now));
        QVERIFY(!IsFarFuture({2020, 1, 1, 0, 0, 0}, now));
        QVERIFY(AddSeconds(now, 1800) == (NameTime{2027, 1, 1, 0, 0, 0}));
        QVERIFY(AddSeconds({2024, 2, 28, 23, 59, 59}, 1) == (NameTime{2024, 2, 29, 0, 0, 0}));
    }

    void whichBackupsGo() {
        const QString a = "zorvel3_20240101000000.zip", b = "zorvel3_20240102000000.zip",
                      c = "zorvel3_20240103000000.zip", now = "zorvel3_20261207120000.zip",
                      ahead = "zorvel3_20990101000000.zip", tomorrow = "zorvel3_20261208110000.zip";
        const struct {
            const char* name;
            QStringList folder;
            int keep;
            QString made;
            QSet<QString> undeletable;
            QStringList deleted;
        } cases[] = {
            {"oldest first until N remain", {c, a, now, b}, 2, now, {}, {a, b}},
            {"keep as many as there are", {a, now}, 2, now, {}, {}},
            {"keep more than there are", {a, now}, 5, now, {}, {}},
            {"the new one never, though a name from a clock once ahead sorts after it", {a, now, tomorrow}, 1, now, {}, {a, tomorrow}},
            {"a name from a clock once ahead counts by its name", {a, b, now, tomorrow}, 2, now, {}, {a, b}},
            {"a name from the far future takes no place and is not deleted", {a, b, now, ahead}, 2, now, {}, {a}},
            {"nor when it is alone with the new one", {a, now, ahead}, 1, now, {}, {a}},
            {"an undeletable one is passed over and not counted", {a, b, c, now}, 2, now, {a}, {b, c}},
            {"nothing deletable left", {a, now}, 1, now, {a}, {}},
            {"other names are never candidates",
             {"zorvel3_2024010100000.zip", "ZORVEL3_20240101000000.ZIP", "zorvel3_20240101000000.zip.bak",
              "zorvel3_2024010100000x.zip", "xzorvel3_20240101000000.zip", "other.zip", a, now},
             1, now, {}, {a}},
            {"the new one not in the listing", {a, b}, 1, now, {}, {a}},
        };
        for (const auto& c : cases) {
            QStringList tried;
            const QStringList deleted = DeleteOldBackups(c.folder, c.keep, c.made, kNow, [&](const QString& name) {
                tried.append(name);
                return !c.undeletable.contains(name);
            });
            QVERIFY2(deleted == c.deleted, qPrintable(QString(c.name) + ": " + deleted.join(' ')));
            QVERIFY2(!tried.contains(c.made), c.name);
            QVERIFY2(!tried.contains(ahead), c.name);
        }
        QCOMPARE(FarFutureBackups({a, ahead, tomorrow, "ZORVEL3_20990101000000.ZIP"}, kNow), QStringList{ahead});
    }

    // The calendar rules keep the new backup whichever period it falls in, and a name from the far future
    // keeps no period's place.
    void historyKeepsTheNewBackupAndNoFarFuture() {
        const QString older = "zorvel3_20261206080000.zip", made = "zorvel3_20261207120000.zip",
                      laterToday = "zorvel3_20261207230000.zip", ahead = "zorvel3_20990101000000.zip";
        const struct {
            const char* name;
            QStringList folder;
            HistoryToKeep history;
            QStringList beyond;
        } cases[] = {
            {"the new one is not the newest of its day (a clock once ahead)", {older, made, laterToday}, {0, 1, 0, 0}, {older}},
            {"nor of its week", {older, made, laterToday}, {0, 0, 1, 0}, {older}},
            {"nor of its month", {older, made, laterToday}, {0, 0, 0, 1}, {older}},
            {"the far future keeps no day", {older, made, ahead}, {0, 2, 0, 0}, {}},
            {"the far future keeps no month", {"zorvel3_20261001000000.zip", older, made, ahead}, {0, 0, 0, 2}, {older}},
            {"nor a --keep place", {older, made, ahead}, {2, 0, 0, 0}, {}},
        };
        for (const auto& c : cases) {
            const QStringList beyond = BackupsBeyondHistory(c.folder, c.history, made, kNow);
            QVERIFY2(beyond == c.beyond, qPrintable(QString(c.name) + ": " + beyond.join(' ')));
            QVERIFY2(BackupsTheHistoryDeletes(c.folder, c.history, made, kNow) == c.beyond, c.name);
        }
        QCOMPARE(BackupsTheHistoryDeletes({older, laterToday, ahead}, {2, 0, 0, 0}, made, kNow), QStringList{older});
        QCOMPARE(BackupsTheHistoryDeletes({older, laterToday}, {}, made, kNow), QStringList{});
    }

    // A folder keeps the newest of the backups made before a restore, the one just made always among them.
    void backupsMadeBeforeARestore() {
        const auto safety = [](int day) { return "zorvel3-before-restore-202612" + std::to_string(10 + day) + "120000.zip"; };
        const std::string backup = "zorvel3_20261201120000.zip";
        const struct {
            const char* name;
            std::vector<std::string> folder;
            int keep;
            std::string made;
            std::vector<std::string> beyond;
        } cases[] = {
            {"fewer than kept", {safety(1), safety(2), backup}, 5, safety(2), {}},
            {"the oldest beyond", {safety(3), safety(1), safety(2), safety(4), backup, "other.zip"}, 2, safety(4), {safety(1), safety(2)}},
            {"the new one kept though a clock once ahead named another later", {safety(1), safety(2), safety(9), safety(3)}, 2, safety(2), {safety(1), safety(3)}},
            {"only the new one", {safety(1), safety(2)}, 1, safety(2), {safety(1)}},
            {"backups are not theirs to delete", {backup, "zorvel3_20261202120000.zip", safety(1)}, 1, safety(1), {}},
        };
        for (const auto& c : cases)
            QVERIFY2(SafetyBackupsBeyond(c.folder, c.keep, c.made) == c.beyond, c.name);
    }

    // Room for a copy: the fewest of the backups the history deletes anyway, oldest first, and none when
    // all of them would not do.
    void roomForACopy() {
        const std::vector<std::pair<std::string, uint64_t>> candidates{{"a", 100}, {"b", 300}, {"c", 50}};
        const struct {
            const char* name;
            uint64_t free, needed;
            std::vector<std::string> deleted;
        } cases[] = {
            {"room already", 500, 500, {}},
            {"the oldest makes it", 450, 500, {"a"}},
            {"two make it", 150, 500, {"a", "b"}},
            {"all make it", 60, 500, {"a", "b", "c"}},
            {"all would not make it: none goes", 40, 500, {}},
        };
        for (const auto& c : cases) QVERIFY2(BackupsToMakeRoom(candidates, c.free, c.needed) == c.deleted, c.name);
        QVERIFY(BackupsToMakeRoom({}, 10, 500).empty());
    }

    // The calendar rules over a folder whose backups span 400 days (several a day, days and weeks
    // without any), against a model written apart: ISO weeks from the week's Thursday, periods grouped
    // in maps, the last N periods that have backups taken from the end.
    void historyByCalendarFollowsTheModel() {
        QStringList folder;
        quint32 seed = 7;
        const auto next = [&] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7fff; };
        const QDate first(2025, 11, 3);
        for (int day = 0; day < 400; ++day) {
            const int count = next() % 4 == 0 ? 0 : int(next() % 3) + 1;  // a quarter of the days have none
            for (int i = 0; i < count; ++i)
                folder.append(QStringLiteral("zorvel3_%1%2.zip")
                                  .arg(first.addDays(day).toString("yyyyMMdd"))
                                  .arg(QTime(int(next() % 24), int(next() % 60), int(next() % 60)).toString("hhmmss")));
        }
        folder.removeDuplicates();
        folder += QStringList{"zorvel3_20241399000000.zip", "other.zip", "ZORVEL3_20251201000000.ZIP"};
        const QString made = "zorvel3_20261209000000.zip";
        const QDateTime madeAt(QDate(2026, 12, 9), QTime(0, 0));
        folder.append(made);

        const auto model = [&](const HistoryToKeep& h) {
            std::map<QString, QString> byDay, byWeek, byMonth;  // period -> newest backup in it
            QStringList backups;
            for (const QString& name : folder) {
                const QDate d = QDate::fromString(name.mid(8, 8), "yyyyMMdd");
                if (!name.startsWith("zorvel3_") || !name.endsWith(".zip") || name.size() != 26 || !d.isValid()) continue;
                backups.append(name);
                const QDate thursday = d.addDays(4 - d.dayOfWeek());
                const QString week = QString("%1/%2").arg(thursday.year()).arg((thursday.dayOfYear() - 1) / 7 + 1, 2, 10, QChar('0'));
                for (const auto& [map, key] : {std::pair{&byDay, name.mid(8, 8)}, std::pair{&byWeek, week}, std::pair{&byMonth, name.mid(8, 6)}})
                    if (!map->count(key) || (*map)[key] < name) (*map)[key] = name;
            }
            QSet<QString> kept{made};
            const auto last = [&](const std::map<QString, QString>& map, int n) {
                for (auto it = map.rbegin(); it != map.rend() && n-- > 0; ++it) kept.insert(it->second);
            };
            last(byDay, h.days);
            last(byWeek, h.weeks);
            last(byMonth, h.months);
            std::sort(backups.begin(), backups.end());
            for (int i = 0; i < h.newest; ++i) kept.insert(backups[backups.size() - 1 - i]);
            QStringList beyond;
            for (const QString& name : backups)
                if (!kept.contains(name)) beyond.append(name);
            return beyond;
        };

        const HistoryToKeep policies[] = {{0, 7, 0, 0}, {0, 0, 5, 0}, {0, 0, 0, 13}, {0, 7, 4, 12},
                                          {3, 7, 4, 12}, {0, 1, 1, 1},  {0, 500, 0, 0}, {2, 0, 60, 0}};
        for (const HistoryToKeep& h : policies) {
            const QStringList got = BackupsBeyondHistory(folder, h, made, madeAt);
            const QStringList expected = model(h);
            QVERIFY2(got == expected, qPrintable(QString("keep %1, daily %2, weekly %3, monthly %4: %5 deleted, model %6")
                                                     .arg(h.newest).arg(h.days).arg(h.weeks).arg(h.months)
                                                     .arg(got.size()).arg(expected.size())));
            QVERIFY(!got.contains(made));
            QVERIFY(!got.contains("zorvel3_20241399000000.zip"));
        }
        // Several a day: keeping every day still deletes; one of each period keeps only the new backup, the
        // newest of its day, week and month.
        QVERIFY(BackupsBeyondHistory(folder, {0, 500, 0, 0}, made, madeAt).size() > 0);  // several a day
        QCOMPARE(folder.size() - 3 - BackupsBeyondHistory(folder, {0, 1, 1, 1}, made, madeAt).size(), 1);
    }
};

QTEST_MAIN(RetentionTest)
#include "retention_test.moc"
