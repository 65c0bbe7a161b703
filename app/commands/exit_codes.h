// The program's exit codes, as --help and the README list them. The commands of the automatic work
// (the watcher, the timer's backup, status) decide on them too, so they live beside the commands.
#pragma once

namespace app {

enum ExitCode {
    kExitOk = 0,               // done as asked
    kExitFailed = 1,           // not done: an error (a damaged archive, a full disk, a missing folder...)
    kExitUsage = 2,            // the command line is wrong
    kExitLoggerRunning = 3,    // the logger runs, and was not (or could not be) closed
    kExitIncomplete = 4,       // done in part: a backup that lacks something, a restore that left files
    kExitBusy = 5,             // another run held the logger folder or the backup folder: nothing was done
    kExitNoRecentBackup = 6,   // status: the newest complete backup is older than allowed, or there is none
};

}  // namespace app
