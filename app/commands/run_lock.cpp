// Run locks; see run_lock.h.
#include "app/commands/run_lock.h"

#include "app/native_path.h"
#include "app/platform/sleeper.h"

#include <QDir>

namespace app {

namespace fs = archive::fs;

namespace {

constexpr int kPollMs = 200;

// The distinct folders, each exclusive when any request for it is.
std::vector<LockedFolder> Distinct(const std::vector<LockedFolder>& folders) {
    std::vector<LockedFolder> distinct;
    for (const LockedFolder& wanted : folders) {
        if (wanted.folder.isEmpty()) continue;
        bool merged = false;
        for (LockedFolder& taken : distinct) {
            if (fs::SameFolder(Native(taken.folder), Native(wanted.folder))) {
                taken.exclusive = taken.exclusive || wanted.exclusive;
                merged = true;
                break;
            }
        }
        if (!merged) distinct.push_back(wanted);
    }
    return distinct;
}

}  // namespace

bool RunLock::Acquire(const std::vector<LockedFolder>& folders, int waitSeconds) {
    locks_.clear();
    busy_.clear();
    const int maxPolls = waitSeconds * 1000 / kPollMs;
    int polls = 0;
    for (const LockedFolder& folder : Distinct(folders)) {
        for (;;) {
            fs::FolderLock::Result result{};
            fs::FolderLock lock = fs::FolderLock::Try(Native(folder.folder), folder.exclusive, result);
            if (result != fs::FolderLock::Result::Busy) {
                if (lock.Held()) locks_.push_back(std::move(lock));
                break;
            }
            if (polls >= maxPolls) {
                locks_.clear();
                busy_ = folder.folder;
                return false;
            }
            const int msLeft = (maxPolls - polls) * kPollMs;
            if (polls % (1000 / kPollMs) == 0 && OnWaiting) OnWaiting(folder.folder, (msLeft + 999) / 1000);
            sleeper_.Sleep(kPollMs);
            ++polls;
        }
    }
    return true;
}

QString WaitingForRunText(const QString& folder, int seconds) {
    return QStringLiteral("Another ZORVEL_Backup run is using %1; waiting up to %2 seconds for it to finish.")
        .arg(QDir::cleanPath(folder))
        .arg(seconds);
}

QString BusyRunText(const QString& folder) {
    return QStringLiteral("Another ZORVEL_Backup run is still using %1. Nothing was done; try again when it has "
                          "finished.")
        .arg(QDir::cleanPath(folder));
}

}  // namespace app
