// One run at a time per logger folder and per backup folder, in both faces.
//
// A backup empties the logger's tmp of its own snapshots and writes new ones, then zips them; a restore
// unpacks snapshots into the same tmp and replaces the logger's files; --keep deletes old backups after
// a new one. Two such runs on one folder at once would mix their steps (one run's snapshots deleted
// under the other's zipping, the newer backup deleted by an older run's --keep). So a command takes the
// locks of the folders it works in before its first step and holds them to its last: exclusive for the
// logger folder and the folder a backup is written into, shared for the folder a restored archive lies
// in (two restores may read beside each other; a backup's --keep may not delete the archive meanwhile).
//
// A run that finds a folder taken waits, a second at a time, up to a bounded time, and says so once
// (terminal: a line; window: the status bar, counting down); after that it gives up and does nothing.
// A folder that cannot be locked at all (missing, or on a file system that keeps no locks) does not
// stop the run: its own checks say what is wrong with the folder.
#pragma once

#include "archive/fs/folder_lock.h"

#include <QString>

#include <functional>
#include <vector>

namespace app {

namespace platform {
class Sleeper;
}

// How long a run waits for another run on the same folder before it gives up.
inline constexpr int kRunLockWaitSeconds = 60;

struct LockedFolder {
    QString folder;
    bool exclusive = true;
};

class RunLock {
public:
    explicit RunLock(platform::Sleeper& sleeper) : sleeper_(sleeper) {}

    // Takes every folder's lock (each distinct folder once), waiting up to `waitSeconds` in all. False
    // when a folder stayed taken: BusyFolder() names it, and no lock is held.
    bool Acquire(const std::vector<LockedFolder>& folders, int waitSeconds = kRunLockWaitSeconds);
    QString BusyFolder() const { return busy_; }
    void Release() { locks_.clear(); }

    // Told before each second of the wait: the folder waited for and the seconds left.
    std::function<void(const QString& folder, int secondsLeft)> OnWaiting;

private:
    platform::Sleeper& sleeper_;
    std::vector<archive::fs::FolderLock> locks_;
    QString busy_;
};

// "Another ZORVEL_Backup run is using <folder>; waiting up to <n> seconds for it to finish."
QString WaitingForRunText(const QString& folder, int seconds);
// "Another ZORVEL_Backup run is still using <folder>. Nothing was done; try again when it has finished."
QString BusyRunText(const QString& folder);

}  // namespace app
