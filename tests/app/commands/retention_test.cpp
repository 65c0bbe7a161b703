// The --keep rule at its decision: which names are candidates, in which order they go, the new backup
// never, and files that cannot be deleted not counted.
#include "app/commands/retention.h"

#include <QDate>
#include <QSet>
#include <QTime>

#include <map>
#include <QtTest>

using namespace app;

class RetentionTest : public QObject {
    Q_OBJECT

private slots:
    void whichBackupsGo() {
        const QString a = "zorvel3_20240101000000.zip", b = "zorvel3_20240102000000.zip",
                      c = "zorvel3_20240103000000.zip", now = "zorvel3_20261207120000.zip",
                      ahead = "zorvel3_20990101000000.zip";
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
            {"the new one never, though a name from a clock once ahead sorts after it", {a, now, ahead}, 1, now, {}, {a, ahead}},
            {"a name from a clock once ahead counts by its name", {a, b, now, ahead}, 2, now, {}, {a, b}},
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
            const QStringList deleted = DeleteOldBackups(c.folder, c.keep, c.made, [&](const QString& name) {
                tried.append(name);
                return !c.undeletable.contains(name);
            });
            QVERIFY2(deleted == c.deleted, qPrintable(QString(c.name) + ": " + deleted.join(' ')));
            QVERIFY2(!tried.contains(c.made), c.name);
        }
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
            const QStringList got = BackupsBeyondHistory(folder, h, made);
            const QStringList expected = model(h);
            QVERIFY2(got == expected, qPrintable(QString("keep %1, daily %2, weekly %3, monthly %4: %5 deleted, model %6")
                                                     .arg(h.newest).arg(h.days).arg(h.weeks).arg(h.months)
                                                     .arg(got.size()).arg(expected.size())));
            QVERIFY(!got.contains(made));
            QVERIFY(!got.contains("zorvel3_20241399000000.zip"));
        }
        // Several a day: keeping every day still deletes; one of each period keeps only the new backup, the
        // newest of its day, week and month.
        QVERIFY(BackupsBeyondHistory(folder, {0, 500, 0, 0}, made).size() > 0);  // several a day
        QCOMPARE(folder.size() - 3 - BackupsBeyondHistory(folder, {0, 1, 1, 1}, made).size(), 1);
    }
};

QTEST_MAIN(RetentionTest)
#include "retention_test.moc"
