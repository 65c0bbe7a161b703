// Folder locks; see folder_lock.h.
#include "archive/fs/folder_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "archive/fs/fs.h"

namespace archive::fs {

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FolderLock::~FolderLock() { Unlock(); }

void FolderLock::Unlock() noexcept {
    if (fd_ >= 0) ::close(fd_);  // closing the only descriptor lets the lock go
    fd_ = -1;
}

FolderLock FolderLock::Try(const std::string& folder, bool exclusive, Result& result) {
    FolderLock lock;
    const std::string path = Resolve(folder);
    const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        result = Result::NoFolder;
        return lock;
    }
    if (::flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        result = error == EWOULDBLOCK ? Result::Busy : Result::Unsupported;
        return lock;
    }
    lock.fd_ = fd;
    result = Result::Held;
    return lock;
}

bool SameFolder(const std::string& a, const std::string& b) {
    struct stat sa {}, sb {};
    if (::stat(Resolve(a).c_str(), &sa) != 0 || ::stat(Resolve(b).c_str(), &sb) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace archive::fs
