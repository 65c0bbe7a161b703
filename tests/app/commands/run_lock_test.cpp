// The run lock at its decisions: which requests exclude which, one folder asked for twice (or under two
// names) is one lock and never waits for itself, the wait is bounded and counted down, a refusal names
// the folder and leaves nothing held, and a child process started while the lock is held does not keep
// it after its parent let go.
#include "app/commands/run_lock.h"
#include "tests/app/support/fakes.h"
#include "tests/support/test_support.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace app;
using namespace app::fakes;
namespace fs = archive::fs;

namespace {

QString Q(const std::string& path) { return QString::fromStdString(path); }

}  // namespace

class RunLockTest : public QObject {
    Q_OBJECT

private slots:
    // Another run holds one folder (exclusive or shared); this run asks for folders in either mode.
    void whoWaitsForWhom() {
        testing_support::TempDir dir;
        const QString logger = Q(dir / "Log");
        const QString backups = Q(dir / "backups");
        QDir().mkpath(logger);
        QDir().mkpath(backups);
        QVERIFY(QFile::link(backups, Q(dir / "link-to-backups")));

        const struct {
            const char* name;
            QString otherFolder;   // "" when no other run
            bool otherExclusive;
            std::vector<LockedFolder> wanted;
            bool taken;
            QString busy;
        } cases[] = {
            {"nobody else", "", true, {{logger, true}, {backups, true}}, true, ""},
            {"same folder twice, once shared", "", true, {{logger, true}, {logger + "/", false}}, true, ""},
            {"folder under two names", "", true, {{backups, true}, {Q(dir / "link-to-backups"), true}}, true, ""},
            {"other holds the logger", logger, true, {{logger, true}, {backups, true}}, false, logger},
            {"other holds the backups", backups, true, {{logger, true}, {backups, true}}, false, backups},
            {"other reads, we write", backups, false, {{logger, true}, {backups, true}}, false, backups},
            {"other writes, we read", backups, true, {{logger, true}, {backups, false}}, false, backups},
            {"both read", backups, false, {{logger, true}, {backups, false}}, true, ""},
            // A later shared request for a folder asked for exclusive stays exclusive, however it is named.
            {"other reads, we write and then read", backups, false, {{backups, true}, {backups, false}}, false, backups},
            {"other reads, we write and read it under another name", backups, false,
             {{logger, true}, {backups, true}, {Q(dir / "link-to-backups"), false}}, false, backups},
            {"a missing folder is no reason to wait", "", true, {{Q(dir / "missing"), true}}, true, ""},
            {"other holds it under another name", Q(dir / "link-to-backups"), true, {{backups, true}}, false, backups},
        };
        for (const auto& c : cases) {
            fs::FolderLock other;
            if (!c.otherFolder.isEmpty()) {
                fs::FolderLock::Result result{};
                other = fs::FolderLock::Try(c.otherFolder.toStdString(), c.otherExclusive, result);
                QVERIFY2(result == fs::FolderLock::Result::Held, c.name);
            }
            CountingSleeper sleeper;
            RunLock lock(sleeper);
            QStringList told;
            lock.OnWaiting = [&](const QString& folder, int secondsLeft) {
                told.append(folder + QStringLiteral(" %1").arg(secondsLeft));
            };
            QCOMPARE(lock.Acquire(c.wanted, 3), c.taken);
            QVERIFY2(lock.BusyFolder() == c.busy, c.name);
            if (c.taken) {
                QVERIFY2(sleeper.Count() == 0, c.name);
                continue;
            }
            // Waited three seconds in all, told once a second, counting down; then nothing is held.
            QVERIFY2(sleeper.TotalMs() == 3000, c.name);
            QCOMPARE(told, (QStringList{c.busy + " 3", c.busy + " 2", c.busy + " 1"}));
            for (const LockedFolder& folder : c.wanted) {
                if (fs::SameFolder(folder.folder.toStdString(), c.busy.toStdString())) continue;
                fs::FolderLock::Result result{};
                const fs::FolderLock probe = fs::FolderLock::Try(folder.folder.toStdString(), true, result);
                QVERIFY2(result != fs::FolderLock::Result::Busy, c.name);
            }
        }
    }

    // The other run ends while we wait: we go ahead at once; a wait of 0 does not sleep at all.
    void theWaitEndsWhenTheOtherRunDoes() {
        testing_support::TempDir dir;
        const QString logger = Q(dir.Path());
        fs::FolderLock::Result result{};
        fs::FolderLock other = fs::FolderLock::Try(logger.toStdString(), true, result);
        QVERIFY(other.Held());

        CountingSleeper sleeper;
        sleeper.onSleep = [&](int count) {
            if (count == 7) other.Unlock();
        };
        RunLock lock(sleeper);
        QVERIFY(lock.Acquire({{logger, true}}, 60));
        QCOMPARE(sleeper.Count(), 7);

        RunLock second(sleeper);
        const int before = sleeper.Count();
        QVERIFY(!second.Acquire({{logger, true}}, 0));
        QCOMPARE(sleeper.Count(), before);
        lock.Release();
        QVERIFY(second.Acquire({{logger, true}}, 0));
    }

    // A program the run starts (the registry editor, a Wine server that stays on) must not hold the
    // lock after the run ended.
    void aChildDoesNotInheritTheLock() {
        testing_support::TempDir dir;
        const QString logger = Q(dir.Path());
        CountingSleeper sleeper;
        auto lock = std::make_unique<RunLock>(sleeper);
        QVERIFY(lock->Acquire({{logger, true}}, 0));
        QProcess child;
        child.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(child.waitForStarted());
        lock.reset();
        RunLock next(sleeper);
        QVERIFY(next.Acquire({{logger, true}}, 0));
        child.kill();
        child.waitForFinished();
    }
};

QTEST_MAIN(RunLockTest)
#include "run_lock_test.moc"
