// The shared checks; see run_checks.h.
#include "app/cli/run_checks.h"

#include "app/backup_layout.h"
#include "app/commands/exit_codes.h"
#include "app/logger_guard.h"
#include "app/native_path.h"
#include "app/platform/services.h"
#include "archive/fs/fs.h"

namespace app::cli {

namespace {

constexpr char kLoggerRunningHint[] =
    "ZORVEL_Log 3 is running. Close it and try again, or pass --close-logger to ask it to close.";

// Questions are never asked: the guard's one question is answered by --close-logger.
class CommandLineDialogs : public platform::Dialogs {
public:
    CommandLineDialogs(TerminalReporter& term, bool closeLogger) : term_(term), closeLogger_(closeLogger) {}
    bool Confirm(const QString& text) override {
        term_.Err(text);
        if (closeLogger_) term_.Err(QStringLiteral("Asking ZORVEL_Log 3 to close; waiting up to 29 seconds for it."));
        return closeLogger_;
    }
    void Inform(const QString& text) override { term_.Out(text); }
    void Warn(const QString& text) override { term_.Err(text); }

private:
    TerminalReporter& term_;
    bool closeLogger_;
};

}  // namespace

bool InLoggerFolder(const Context& ctx) {
    if (archive::fs::FileExists(Native(ctx.loggerFolder + QString::fromLatin1(kLoggerExecutable)))) return true;
    ctx.term.Err(QString::fromLatin1(kNotInLoggerFolder));
    // An installed program stands in no logger folder until setup links it into one.
    ctx.term.Err(QStringLiteral("Start it from the ZORVEL_Log 3 folder, or link it into that folder once: "
                                "ZORVEL_Backup setup LOGGER_FOLDER"));
    return false;
}

int LoggerMayBeTouched(const Context& ctx, bool closeLogger, platform::LinuxServices& services) {
    if (!InLoggerFolder(ctx)) return kExitFailed;
    CommandLineDialogs dialogs(ctx.term, closeLogger);
    const platform::Services& s = services.Get();
    LoggerGuard guard(*s.processes, dialogs, *s.windowCloser, *s.sleeper);
    if (!guard.Guard()) {
        ctx.term.Err(QString::fromLatin1(kLoggerRunningHint));
        return kExitLoggerRunning;
    }
    return kExitOk;
}

int WaitSeconds(const QCommandLineParser& parser) {
    if (!parser.isSet(QStringLiteral("wait"))) return kRunLockWaitSeconds;
    bool ok = false;
    const int seconds = parser.value(QStringLiteral("wait")).toInt(&ok);
    return ok && seconds >= 0 ? seconds : -1;
}

bool LockFolders(RunLock& lock, const std::vector<LockedFolder>& folders, int waitSeconds, TerminalReporter& term) {
    bool told = false;
    lock.OnWaiting = [&](const QString& folder, int) {
        if (!told) term.Err(WaitingForRunText(folder, waitSeconds));
        told = true;
    };
    if (lock.Acquire(folders, waitSeconds)) return true;
    term.Err(BusyRunText(lock.BusyFolder()));
    return false;
}

int CountOption(const QCommandLineParser& parser, const QString& name) {
    if (!parser.isSet(name)) return 0;
    bool ok = false;
    const int count = parser.value(name).toInt(&ok);
    return ok && count >= 1 ? count : -1;
}

}  // namespace app::cli
