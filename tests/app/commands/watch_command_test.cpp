// The watcher's states at their decisions, on a simulated clock: loggers start and end at given
// moments, the waits move the clock (a pidfd wait to the logger's end or its time limit, a pause by its
// length), and a backup takes three seconds, looking around as the real one does while it works and
// meeting the guard at its start. Checked per case: which backups ran, when, and how they ended; that
// the backups a stop cut short are not told; and that the watcher sleeps rather than looks.
#include "app/commands/exit_codes.h"
#include "app/commands/watch_command.h"
#include "app/platform/process_list.h"
#include "app/platform/process_waiter.h"

#include <QtTest>

#include <limits>

using namespace app;
using Woke = platform::ProcessWaiter::Woke;

namespace {

constexpr qint64 kNever = std::numeric_limits<qint64>::max() / 2;
constexpr qint64 kBackupMs = 3000;
constexpr qint64 kHour = 3600 * 1000;

struct Logger {
    qint64 start;
    qint64 end;
};

// Loggers over simulated time, and a stop at a given moment.
class World : public platform::ProcessList, public platform::ProcessWaiter {
public:
    World(std::vector<Logger> loggers, qint64 stopAt) : loggers_(std::move(loggers)), stopAt_(stopAt) {}

    bool Alive(const Logger& l, qint64 at) const { return l.start <= at && at < l.end; }
    bool AnyAlive(qint64 at) const {
        return std::any_of(loggers_.begin(), loggers_.end(), [&](const Logger& l) { return Alive(l, at); });
    }

    std::vector<platform::ProcessEntry> ListProcesses() override {
        ++looks;
        std::vector<platform::ProcessEntry> list{{QStringLiteral("bash"), 1}};
        for (size_t i = 0; i < loggers_.size(); ++i)
            if (Alive(loggers_[i], now)) list.push_back({i % 2 ? "zorvel_log3.EXE" : "ZORVEL_Log3.exe", qint64(100 + i)});
        return list;
    }

    Woke WaitForEnd(qint64 pid, int timeoutMs) override {
        ++waits;
        const Logger& l = loggers_.at(static_cast<size_t>(pid - 100));
        if (!Alive(l, now)) return Woke::Ended;
        return MoveTo(std::min(l.end, timeoutMs < 0 ? kNever : now + timeoutMs), l.end);
    }
    Woke Pause(int milliseconds) override { return MoveTo(now + milliseconds, kNever); }
    qint64 NowMs() override { return now; }

    bool Stopped() const { return now >= stopAt_; }

    qint64 now = 0;
    int looks = 0;
    int waits = 0;

private:
    Woke MoveTo(qint64 target, qint64 end) {
        if (stopAt_ <= target) {
            now = std::max(now, stopAt_);
            return Woke::Stopped;
        }
        now = target;
        return now >= end ? Woke::Ended : Woke::TimedOut;
    }

    std::vector<Logger> loggers_;
    qint64 stopAt_;
};

struct Ran {
    qint64 at;
    int exitCode;
    bool operator==(const Ran& o) const { return at == o.at && exitCode == o.exitCode; }
};

QString Text(const std::vector<Ran>& runs) {
    QStringList parts;
    for (const Ran& r : runs) parts << QStringLiteral("%1s:%2").arg(r.at / 1000.0).arg(r.exitCode);
    return parts.join(QLatin1Char(' '));
}

// The watcher over `world`; a backup as `backup` makes it: the guard looks just after its start (a
// logger there ends it with exit 3), it works kBackupMs calling whileWorking every quarter second, is
// undone by a stop (nothing made), and is done in part when `lacking` names something.
struct Watched {
    std::vector<Ran> started, told;
    std::vector<bool> evenIfUnchanged;  // of each backup started
    std::vector<qint64> tooOld;
};

Watched RunWatcher(World& world, const std::function<QString()>& staleness = {},
                   const std::function<void()>& madeOne = {}) {
    Watched w;
    WatchHooks hooks;
    hooks.log = [](const QString&) {};
    hooks.backUp = [&](const BackupWatch& watch) {
        UnattendedBackup backup;
        const qint64 start = world.now;
        w.evenIfUnchanged.push_back(watch.evenIfUnchanged);
        if (world.AnyAlive(start + 1)) {
            backup.exitCode = kExitLoggerRunning;
            w.started.push_back({start, backup.exitCode});
            return backup;
        }
        for (world.now = start; world.now < start + kBackupMs; world.now += 250) {
            if (world.Stopped()) {
                backup.exitCode = kExitFailed;
                w.started.push_back({start, backup.exitCode});
                return backup;
            }
            watch.whileWorking();
        }
        backup.archivePath = QStringLiteral("/b/zorvel3_%1.zip").arg(start);
        backup.exitCode = watch.lacking().isEmpty() ? kExitOk : kExitIncomplete;
        if (madeOne) madeOne();
        w.started.push_back({start, backup.exitCode});
        return backup;
    };
    hooks.finished = [&](const UnattendedBackup& backup) { w.told.push_back({w.started.back().at, backup.exitCode}); };
    hooks.staleness = staleness;
    hooks.tooOld = [&](const QString&) { w.tooOld.push_back(world.now); };
    WatchCommand(world, world, hooks).Run();
    return w;
}

}  // namespace

class WatchCommandTest : public QObject {
    Q_OBJECT

private slots:
    void backupsAtTheRightMoments() {
        const struct {
            const char* name;
            std::vector<Logger> loggers;
            qint64 stopAt;
            std::vector<Ran> told;  // the backups told, with their start and exit code
        } cases[] = {
            {"none running at the start: waits for a start, backs up after the close",
             {{7000, 20000}}, 60000, {{22000, kExitOk}}},
            {"running at the start: backs up after the close", {{0, 10000}}, 60000, {{12000, kExitOk}}},
            {"two instances: after the last one closed", {{0, 10000}, {5000, 15000}}, 60000, {{17000, kExitOk}}},
            {"started again while settling: only after that one closed",
             {{0, 10000}, {11000, 20000}}, 60000, {{22000, kExitOk}}},
            {"started again during the backup and still running after it: done in part, again after its close",
             {{0, 10000}, {13000, 30000}}, 60000, {{12000, kExitIncomplete}, {32000, kExitOk}}},
            {"started in the backup's last moment, between two looks: seen by the last look",
             {{0, 10000}, {14600, 30000}}, 60000, {{12000, kExitIncomplete}, {32000, kExitOk}}},
            {"came and went during the backup: done in part, and again at once",
             {{0, 10000}, {12500, 14000}}, 60000, {{12000, kExitIncomplete}, {17000, kExitOk}}},
            {"started between the last look and the guard: refused, backed up after its close",
             {{0, 10000}, {12001, 20000}}, 60000, {{12000, kExitLoggerRunning}, {22000, kExitOk}}},
            {"every close gets its backup", {{0, 10000}, {20000, 30000}, {45000, 46000}}, 70000,
             {{12000, kExitOk}, {32000, kExitOk}, {48000, kExitOk}}},
            {"stopped while the logger runs", {{0, kNever}}, 30000, {}},
            {"stopped while settling", {{0, 10000}}, 11000, {}},
            {"stopped during the backup: undone, not told", {{0, 10000}}, 13000, {}},
            {"stopped while waiting for a start", {}, 30000, {}},
        };
        for (const auto& c : cases) {
            World world(c.loggers, c.stopAt);
            const Watched w = RunWatcher(world);
            QVERIFY2(w.told == c.told, qPrintable(QString(c.name) + "\n  told:     " + Text(w.told) + "\n  expected: " + Text(c.told)));
            // The backup after one done in part is the whole one that follows it: made even when nothing
            // changed (the others are made only when something did).
            for (size_t i = 0; i < w.started.size(); ++i)
                QVERIFY2(w.evenIfUnchanged[i] == (i > 0 && w.started[i - 1].exitCode == kExitIncomplete), c.name);
        }
    }

    // A logger running for ten hours costs a wait per hour (the age of the backups is judged hourly),
    // not a look every few seconds; with none running the list is looked at every five seconds.
    void sleepsRatherThanLooks() {
        World running({{0, 10 * kHour}}, 10 * kHour + 1000);
        RunWatcher(running);
        QVERIFY2(running.waits <= 11, qPrintable(QString::number(running.waits)));
        QVERIFY2(running.looks <= 2 * 11 + 2, qPrintable(QString::number(running.looks)));

        World idle({}, kHour);
        RunWatcher(idle);
        QCOMPARE(idle.looks, int(kHour / kLoggerStartLookMs));
    }

    // Backups too old are told once, not at every look; told again only after a backup made them young
    // in between. The age is judged at the start, hourly and after each backup, also while a logger runs.
    void tooOldToldOnce() {
        const struct {
            const char* name;
            std::vector<Logger> loggers;
            std::vector<qint64> toldAt;  // hours, rounded down
        } cases[] = {
            {"no logger for ten hours: told at the start only", {}, {0}},
            {"logger running ten hours: told at the start only", {{0, 10 * kHour}}, {0}},
            {"a backup at five hours: young again, then told when older than ninety minutes",
             {{4 * kHour, 5 * kHour}}, {0, 7}},
        };
        for (const auto& c : cases) {
            World world(c.loggers, 10 * kHour);
            qint64 lastBackup = -1;
            const Watched w = RunWatcher(
                world,
                [&]() -> QString {
                    const bool young = lastBackup >= 0 && world.now - lastBackup <= 90 * 60 * 1000;
                    return young ? QString() : QStringLiteral("too old");
                },
                [&] { lastBackup = world.now; });
            std::vector<qint64> hours;
            for (const qint64 at : w.tooOld) hours.push_back(at / kHour);
            QVERIFY2(hours == c.toldAt, c.name);
        }
    }
};

QTEST_MAIN(WatchCommandTest)
#include "watch_command_test.moc"
