// The --keep rule at its decision: which names are candidates, in which order they go, the new backup
// never, and files that cannot be deleted not counted.
#include "app/commands/retention.h"

#include <QSet>
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
};

QTEST_MAIN(RetentionTest)
#include "retention_test.moc"
