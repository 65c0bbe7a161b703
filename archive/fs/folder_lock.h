// One run at a time per folder: an advisory lock on the folder itself.
//
// A run that changes a folder (an archive written into it and its old archives deleted, files restored
// into it) holds the folder's lock for as long as it works there. The lock is a flock on a descriptor of the folder: no file is made for it,
// so nothing is left behind, and the kernel lets it go when its holder ends, however it ends. The
// descriptor is close-on-exec, so a child process (a Wine server that stays on) never inherits it.
//
// Two locks on one folder through two descriptors exclude each other even within one process: a run
// that needs several folders asks for each distinct folder once (SameFolder tells).
#pragma once

#include <cstdint>
#include <string>

namespace archive::fs {

class FolderLock {
public:
    enum class Result {
        Held,         // the lock is ours
        Busy,         // another holder has it
        NoFolder,     // the folder cannot be opened (missing, not a folder, no rights)
        Unsupported,  // the file system keeps no such locks: the run goes ahead unlocked
    };

    FolderLock() = default;
    FolderLock(FolderLock&& other) noexcept;
    FolderLock& operator=(FolderLock&& other) noexcept;
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    ~FolderLock();

    // Tries once, without waiting. `exclusive`: no other holder at all; else shared with other shared
    // holders (a restore reading an archive while another restore reads one beside it).
    static FolderLock Try(const std::string& folder, bool exclusive, Result& result);

    bool Held() const { return fd_ >= 0; }
    void Unlock() noexcept;

private:
    int fd_ = -1;
};

// Whether two paths lead to the same folder (after links); false when either cannot be reached.
bool SameFolder(const std::string& a, const std::string& b);

}  // namespace archive::fs
