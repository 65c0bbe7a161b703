// ZORVEL_Backup without a window: the same create, restore, list and verify commands as the window, for
// schedules and scripts, and the automatic backups built on them.
//
//   ZORVEL_Backup backup [--to DIR] [--keep N] [--close-logger] [--notify] ...
//   ZORVEL_Backup list [--in DIR]
//   ZORVEL_Backup verify ARCHIVE...
//   ZORVEL_Backup restore ARCHIVE [--awards] [--callbook] [--logs] [--config] [--close-logger]
//   ZORVEL_Backup watch [--max-age DAYS] [backup options]
//   ZORVEL_Backup status [--in DIR] [--max-age DAYS]
//   ZORVEL_Backup schedule [--nightly HH:MM] [--on-logger-exit] [backup options] | --remove | --show
//   ZORVEL_Backup setup [--remove] LOGGER_FOLDER
//   ZORVEL_Backup --help | --version
//
// The logger folder is the program's own folder, as for the window; without --to or --in the backup
// folder is the one the window last used. No question is ever asked: a running logger is refused unless
// --close-logger asks it to close (and waits up to 29 seconds, as the window does).
#pragma once

#include "app/commands/exit_codes.h"

#include <QStringList>

namespace app::cli {

// The exit codes, as --help and the README list them (app/commands/exit_codes.h).
using app::ExitCode;
using app::kExitBusy;
using app::kExitFailed;
using app::kExitIncomplete;
using app::kExitLoggerRunning;
using app::kExitNoRecentBackup;
using app::kExitOk;
using app::kExitUsage;

// Whether these arguments (argv[1] on) ask for the command line rather than the window.
bool WantsCommandLine(const QStringList& arguments);

// Runs the command line; the arguments start with the program's name. Needs a QCoreApplication.
int RunCommandLine(const QStringList& arguments);

}  // namespace app::cli
