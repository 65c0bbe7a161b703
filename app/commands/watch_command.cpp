// The watcher's states; see watch_command.h.
#include "app/commands/watch_command.h"

#include "app/commands/exit_codes.h"
#include "app/commands/unattended.h"
#include "app/logger_guard.h"
#include "app/platform/process_list.h"
#include "app/platform/process_waiter.h"

#include <algorithm>

namespace app {

using Woke = platform::ProcessWaiter::Woke;

WatchCommand::WatchCommand(platform::ProcessList& processes, platform::ProcessWaiter& waiter, WatchHooks hooks)
    : processes_(processes), waiter_(waiter), hooks_(std::move(hooks)) {}

std::vector<qint64> WatchCommand::Loggers() {
    const QString wanted = QString::fromLatin1(kLoggerExecutable).toUpper();
    std::vector<qint64> pids;
    for (const platform::ProcessEntry& entry : processes_.ListProcesses())
        if (entry.name.toUpper() == wanted) pids.push_back(entry.pid);
    return pids;
}

void WatchCommand::JudgeBackupAge(bool now) {
    if (!now && waiter_.NowMs() - lastAgeLookMs_ < kBackupAgeLookMs) return;
    lastAgeLookMs_ = waiter_.NowMs();
    const QString why = hooks_.staleness ? hooks_.staleness() : QString();
    if (why.isEmpty()) {
        toldTooOld_ = false;
        return;
    }
    if (toldTooOld_) return;
    toldTooOld_ = true;
    if (hooks_.tooOld) hooks_.tooOld(why);
}

int WatchCommand::MsToAgeLook() {
    const qint64 left = kBackupAgeLookMs - (waiter_.NowMs() - lastAgeLookMs_);
    return static_cast<int>(std::clamp<qint64>(left, 1000, kBackupAgeLookMs));
}

void WatchCommand::Run() {
    JudgeBackupAge(true);
    bool backupDue = false;  // a logger closed (or came and went while the last backup ran)
    bool followUp = false;   // the last backup was done in part: the next one is made whatever changed
    bool toldWaiting = false;
    bool toldRunning = false;
    for (;;) {
        const std::vector<qint64> loggers = Loggers();
        if (!loggers.empty()) {
            toldWaiting = false;
            if (!toldRunning) hooks_.log(LoggerRunningLine());
            toldRunning = true;
            const Woke woke = waiter_.WaitForEnd(loggers.front(), MsToAgeLook());
            if (woke == Woke::Stopped) return;
            JudgeBackupAge(false);
            if (woke == Woke::Ended) backupDue = true;
            continue;  // the list again: another logger may still run, or a new one have started
        }
        if (!backupDue) {
            toldRunning = false;
            if (!toldWaiting) hooks_.log(WaitingForStartLine());
            toldWaiting = true;
            if (waiter_.Pause(kLoggerStartLookMs) == Woke::Stopped) return;
            JudgeBackupAge(false);
            continue;
        }

        if (waiter_.Pause(kLoggerSettleMs) == Woke::Stopped) return;
        if (!Loggers().empty()) continue;  // started again: its end brings the backup
        backupDue = false;
        toldRunning = false;

        bool startedMeanwhile = false;
        qint64 lastLook = waiter_.NowMs();
        BackupWatch watch;
        watch.evenIfUnchanged = followUp;
        watch.whileWorking = [&] {
            if (startedMeanwhile || waiter_.NowMs() - lastLook < kLoggerLookWhileBackingUpMs) return;
            lastLook = waiter_.NowMs();
            startedMeanwhile = !Loggers().empty();
        };
        watch.lacking = [&] {
            startedMeanwhile = startedMeanwhile || !Loggers().empty();
            return startedMeanwhile ? QStringList{QString::fromLatin1(kLoggerStartedDuringBackup)} : QStringList{};
        };
        const UnattendedBackup backup = hooks_.backUp(watch);
        // A stop in the middle of the backup undid it: nothing to tell. One that came after the archive
        // was made leaves it made, and told.
        const bool stopped = waiter_.Pause(0) == Woke::Stopped;
        if (stopped && backup.archivePath.isEmpty()) return;
        hooks_.finished(backup);
        if (stopped) return;
        // A logger that started while the backup ran (or before the guard looked) may have changed
        // what was read: another backup follows once no logger runs.
        if (startedMeanwhile || backup.exitCode == kExitLoggerRunning) backupDue = true;
        followUp = startedMeanwhile || (followUp && backup.exitCode == kExitLoggerRunning);
        JudgeBackupAge(true);
    }
}

QString WaitingForStartLine() { return QStringLiteral("waiting for ZORVEL_Log 3 to start"); }

QString LoggerRunningLine() { return QStringLiteral("ZORVEL_Log 3 is running; a backup follows when it closes"); }

QString WatchedBackupLine(const UnattendedBackup& backup) {
    const QString closed = QStringLiteral("backup after ZORVEL_Log 3 closed");
    switch (backup.exitCode) {
        case kExitOk:
            if (backup.unchanged)
                return QStringLiteral("no backup after ZORVEL_Log 3 closed: nothing had changed since ") + backup.archivePath;
            return closed + QStringLiteral(": ") + backup.archivePath;
        case kExitIncomplete: return closed + QStringLiteral(", done in part: ") + backup.archivePath;
        case kExitLoggerRunning:
            return QStringLiteral("no backup after ZORVEL_Log 3 closed: it was started again; the backup follows when "
                                  "it closes");
        default: return closed + QStringLiteral(" failed: ") + OneLine(backup.reasons);
    }
}

}  // namespace app
