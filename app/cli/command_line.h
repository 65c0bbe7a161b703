// ZORVEL_Backup without a window: the same create, restore, list and verify commands as the window, for
// schedules and scripts.
//
//   ZORVEL_Backup backup [--to DIR] [--keep N] [--close-logger]
//   ZORVEL_Backup list [--in DIR]
//   ZORVEL_Backup verify ARCHIVE...
//   ZORVEL_Backup restore ARCHIVE [--awards] [--callbook] [--logs] [--config] [--close-logger]
//   ZORVEL_Backup --help | --version
//
// The logger folder is the program's own folder, as for the window; without --to or --in the backup
// folder is the one the window last used. No question is ever asked: a running logger is refused unless
// --close-logger asks it to close (and waits up to 29 seconds, as the window does).
#pragma once

#include <QStringList>

namespace app::cli {

// The exit codes, as --help and the README list them.
enum ExitCode {
    kExitOk = 0,             // done as asked
    kExitFailed = 1,         // not done: an error (a damaged archive, a full disk, a missing folder...)
    kExitUsage = 2,          // the command line is wrong
    kExitLoggerRunning = 3,  // the logger runs, and was not (or could not be) closed
    kExitIncomplete = 4,     // done in part: a backup that lacks something, a restore that left files
    kExitBusy = 5,           // another run held the logger folder or the backup folder: nothing was done
};

// Whether these arguments (argv[1] on) ask for the command line rather than the window.
bool WantsCommandLine(const QStringList& arguments);

// Runs the command line; the arguments start with the program's name. Needs a QCoreApplication.
int RunCommandLine(const QStringList& arguments);

}  // namespace app::cli
