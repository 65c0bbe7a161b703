// The checks the backup and restore commands share with the window before their first step: the logger
// folder, the guard, and the run locks; and the reading of the options they share.
#pragma once

#include "app/cli/context.h"
#include "app/commands/run_lock.h"

#include <QCommandLineParser>

namespace app::platform {
class LinuxServices;
}

namespace app::cli {

// A logger folder, and the guard: kExitOk when the logger's files may be touched; else the exit code,
// the refusal told. With `closeLogger` the logger is asked to close and waited for, as in the window.
int LoggerMayBeTouched(const Context& ctx, bool closeLogger, platform::LinuxServices& services);

// Whether the program stands in a logger folder; when not, says so.
bool InLoggerFolder(const Context& ctx);

// The --wait option: seconds to wait for another run, or -1 when the text is no such number.
int WaitSeconds(const QCommandLineParser& parser);

// Takes the run's folder locks, waiting as --wait says; false (the refusal told) when another run kept one.
bool LockFolders(RunLock& lock, const std::vector<LockedFolder>& folders, int waitSeconds, TerminalReporter& term);

// A count option (--keep, --keep-daily, --max-age...): 0 when not given, -1 when given but not a number >= 1.
int CountOption(const QCommandLineParser& parser, const QString& name);

}  // namespace app::cli
