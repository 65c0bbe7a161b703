// Scratch files, their mark, and the sweep of stale ones; see scratch.h.
#include "archive/fs/scratch.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string_view>
#include <utility>

#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace {

constexpr char kMarkName[] = "user.zbk-scratch";
constexpr char kMarkValue[] = "1";
// Sets or removes the mark through the descriptor. A user attribute needs write permission on the file,
// also for its owner: a read-only file is made writable for the moment of the change.
bool SetMark(int fd, bool on) {
    auto apply = [&] {
        if (on) return ::fsetxattr(fd, kMarkName, kMarkValue, sizeof kMarkValue - 1, 0) == 0;
        return ::fremovexattr(fd, kMarkName) == 0 || errno == ENODATA;
    };
    if (apply()) return true;
    const int error = errno;
    struct stat st {};
    if ((error != EACCES && error != EPERM) || ::fstat(fd, &st) != 0 || (st.st_mode & S_IWUSR) ||
        ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR) != 0) {
        errno = error;
        return false;
    }
    const bool done = apply();
    const int after = errno;
    ::fchmod(fd, st.st_mode & 07777);
    errno = after;
    return done;
}

// Whether the name `name` of the folder open on `dirFd` (AT_FDCWD: `name` is a path) still leads to the
// file open on `fd`; `st` gets that file's stat.
bool StillNamed(int dirFd, const std::string& name, int fd, struct stat& st) {
    struct stat byName {};
    return ::fstatat(dirFd, name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &st) == 0 &&
           byName.st_dev == st.st_dev && byName.st_ino == st.st_ino;
}

}  // namespace

namespace {

// Locks and marks a file just made (`dirFd` and `name` say where); false when a sweeper took it first.
// `wait`: a sweeper that got there first holds the lock only for as long as it takes to decide, and one
// that deletes leaves a name that no longer leads here. Without it, a lock another program holds on the
// file (a second name of an existing file shares that file's locks) leaves the file unlocked but marked.
bool LockAndMark(int dirFd, const std::string& name, int fd, bool& marked, bool wait = true) {
    if (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0 && (wait || errno != EWOULDBLOCK)) return false;
    marked = SetMark(fd, true);
    if (marked) return true;  // no sweeper takes a file it saw unmarked, nor a marked one that is locked
    struct stat st {};
    return StillNamed(dirFd, name, fd, st);
}

}  // namespace

ScratchFile ScratchFile::Create(const std::string& folder) {
    const std::string dir = folder.empty() ? std::string() : IncludeTrailingSeparator(Resolve(folder));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = detail::NewScratchName();
        std::string path = dir + name;
        // The mode takes the umask, as any file the program makes does.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        bool marked = false;
        if (!LockAndMark(AT_FDCWD, path, fd, marked)) {
            ::close(fd);
            continue;
        }
        ScratchFile file;
        file.name_ = std::move(name);
        file.path_ = std::move(path);
        file.fd_ = fd;
        file.marked_ = marked;
        return file;
    }
    errno = EEXIST;
    return {};
}

ScratchFile ScratchFile::Adopted(const HeldFolder& folder, std::string name, int fd, bool marked) {
    ScratchFile file;
    file.folder_ = folder;
    file.path_ = folder.Path() + name;
    file.name_ = std::move(name);
    file.fd_ = fd;
    file.marked_ = marked;
    return file;
}

ScratchFile ScratchFile::CreateIn(const HeldFolder& folder) {
    if (!folder.Valid()) {
        errno = EBADF;
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = detail::NewScratchName();
        const int fd = ::openat(folder.Fd(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        bool marked = false;
        if (!LockAndMark(folder.Fd(), name, fd, marked)) {
            ::close(fd);
            continue;
        }
        return Adopted(folder, std::move(name), fd, marked);
    }
    errno = EEXIST;
    return {};
}

ScratchFile ScratchFile::Keep(const HeldFolder& folder, const std::string& name) {
    if (!folder.Valid()) {
        errno = EBADF;
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string second = detail::NewScratchName();
        if (::linkat(folder.Fd(), name.c_str(), folder.Fd(), second.c_str(), 0) != 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        const int fd = ::openat(folder.Fd(), second.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            const int error = errno;
            ::unlinkat(folder.Fd(), second.c_str(), 0);
            errno = error;
            return {};
        }
        bool marked = false;
        if (!LockAndMark(folder.Fd(), second, fd, marked, false)) {
            ::close(fd);
            continue;
        }
        return Adopted(folder, std::move(second), fd, marked);
    }
    errno = EEXIST;
    return {};
}

ScratchFile::ScratchFile(ScratchFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      marked_(std::exchange(other.marked_, false)),
      placed_(std::exchange(other.placed_, false)) {}

ScratchFile& ScratchFile::operator=(ScratchFile&& other) noexcept {
    if (this != &other) {
        Discard();
        folder_ = std::move(other.folder_);
        name_ = std::move(other.name_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        marked_ = std::exchange(other.marked_, false);
        placed_ = std::exchange(other.placed_, false);
    }
    return *this;
}

ScratchFile::~ScratchFile() { Discard(); }

bool ScratchFile::PutInPlace(const std::string& target) {
    if (fd_ < 0 || placed_ || !folder_.Valid()) {
        errno = EINVAL;
        return false;
    }
    if (::renameat(folder_.Fd(), name_.c_str(), folder_.Fd(), target.c_str()) != 0) return false;
    detail::NoteFolderChange(path_, false);
    name_ = target;
    path_ = folder_.Path() + target;
    detail::NoteFolderChange(path_, true);
    placed_ = true;
    if (marked_) SetMark(fd_, false);
    marked_ = false;
    return true;
}

bool ScratchFile::Withdraw() noexcept {
    if (fd_ < 0 || !placed_) return false;
    const bool gone = folder_.RemoveIfSame(name_, fd_);
    ::close(fd_);
    fd_ = -1;
    return gone;
}

void ScratchFile::Release() noexcept {
    if (fd_ >= 0) {
        if (marked_) SetMark(fd_, false);
        ::close(fd_);
    }
    fd_ = -1;
    marked_ = false;
    folder_ = {};
    path_.clear();
    name_.clear();
}

void ScratchFile::Discard() noexcept {
    if (fd_ < 0) return;
    // Only while the name still leads to our file: a rename we did not notice must not cost another file.
    const int dirFd = folder_.Valid() ? folder_.Fd() : AT_FDCWD;
    const std::string& name = folder_.Valid() ? name_ : path_;
    struct stat st {};
    if (!placed_ && StillNamed(dirFd, name, fd_, st)) {
        // A second name of a file that stays under its other one: the file must not keep the mark.
        if (marked_ && st.st_nlink > 1) SetMark(fd_, false);
        if (::unlinkat(dirFd, name.c_str(), 0) == 0 && folder_.Valid()) detail::NoteFolderChange(path_, false);
    }
    ::close(fd_);
    fd_ = -1;
    marked_ = false;
    placed_ = false;
    folder_ = {};
    path_.clear();
    name_.clear();
}

int RemoveStaleScratchFiles(const std::string& folder) {
    if (folder.empty()) return 0;
    const std::string dir = Resolve(folder);
    DIR* listing = ::opendir(dir.c_str());
    if (!listing) return 0;
    const int dirFd = ::dirfd(listing);
    int removed = 0;
    while (const dirent* e = ::readdir(listing)) {
        const std::string name = e->d_name;
        if (!IsScratchName(name)) continue;
        // Not following a link, not waiting on a pipe; a folder opens but is no regular file.
        const int fd = ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        bool ours = false;
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
            // Ours when it carries the mark; where the file system takes no mark, when its name checks.
            ours = ::fgetxattr(fd, kMarkName, nullptr, 0) >= 0 || (errno == ENOTSUP && detail::HasOwnScratchCheck(name));
        }
        // Not blocking: a lock held means a live maker, whose file stays.
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(dirFd, name, fd, st)) {
            // A kept second name of a file that has another: the file stays, without the mark.
            if (st.st_nlink > 1) SetMark(fd, false);
            if (::unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
        }
        ::close(fd);
    }
    ::closedir(listing);
    return removed;
}

}  // namespace archive::fs
