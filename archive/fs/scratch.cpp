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
#include <map>
#include <string_view>
#include <utility>
#include <vector>

#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace {

constexpr char kMarkName[] = "user.zbk-scratch";
constexpr char kMarkValue[] = "1";

using detail::HasOwnScratchCheck;
using detail::IsPlainScratchName;
using detail::NewScratchName;
using detail::RunFileCheckHolds;
using detail::RunAnchorOf;
using detail::RunFileName;

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
        std::string name = NewScratchName();
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

ScratchFile ScratchFile::CreateIn(const HeldFolder& folder) {
    if (!folder.Valid()) {
        errno = EBADF;
        return {};
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = NewScratchName();
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

// A folder's anchor: an ordinary scratch file, kept for as long as the run or a scratch file of the run
// lives, and what the run's files are named after.
struct ScratchFile::Anchor {
    ScratchFile file;
    uint64_t next = 0;  // the counter of the next file's name
    int mode = -1;      // the permission bits a new file gets in the folder
};

struct ScratchRun::Anchors {
    std::map<std::pair<uint64_t, uint64_t>, std::shared_ptr<ScratchFile::Anchor>> byFolder;
};

ScratchRun::ScratchRun() : anchors_(std::make_unique<Anchors>()) {}

ScratchRun::~ScratchRun() = default;

ScratchFile ScratchFile::CreateIn(const HeldFolder& folder, ScratchRun& run) {
    if (!folder.Valid()) {
        errno = EBADF;
        return {};
    }
    const auto identity = folder.Identity();
    // A folder that cannot tell which it is could share another's anchor: its file is an ordinary one.
    if (identity == std::pair<uint64_t, uint64_t>{0, 0}) return CreateIn(folder);
    std::shared_ptr<Anchor>& slot = run.anchors_->byFolder[identity];
    if (!slot) {
        ScratchFile file = CreateIn(folder);
        if (!file.Valid()) return {};
        auto anchor = std::make_shared<Anchor>();
        struct stat st {};
        if (::fstat(file.fd_, &st) == 0) anchor->mode = static_cast<int>(st.st_mode & 07777);
        anchor->file = std::move(file);
        slot = std::move(anchor);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = RunFileName(slot->file.name_, slot->next++);
        // A name taken already can only be the debris of an earlier run whose anchor had the same name.
        const int fd = ::openat(folder.Fd(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        ScratchFile file = Adopted(folder, std::move(name), fd, false);
        file.mode_ = slot->mode;
        file.anchor_ = slot;
        return file;
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
        std::string second = NewScratchName();
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
    anchor_.reset();  // no scratch file of the run any more
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
    anchor_.reset();
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
    anchor_.reset();  // only once the file is gone: a run's anchor outlives its files
}

namespace {

// Whether the scratch file `name` of the folder open on `dirFd`, open on `fd`, is a stale one of ours: a
// regular file carrying the mark (where the file system takes no mark, a name whose check holds), whose
// lock is now held through `fd` and whose name still leads to it. `st` gets its stat.
bool OursAndStale(int dirFd, const std::string& name, int fd, struct stat& st) {
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    // Ours when it carries the mark; where the file system takes no mark, when its name checks.
    const bool ours = ::fgetxattr(fd, kMarkName, nullptr, 0) >= 0 || (errno == ENOTSUP && HasOwnScratchCheck(name));
    // Not blocking: a lock held means a live maker, whose file stays.
    return ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamed(dirFd, name, fd, st);
}

// Not following a link, not waiting on a pipe; a folder opens but is no regular file.
int OpenForSweep(int dirFd, const std::string& name) {
    return ::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
}

}  // namespace

int RemoveStaleScratchFiles(const std::string& folder) {
    if (folder.empty()) return 0;
    const std::string dir = Resolve(folder);
    DIR* listing = ::opendir(dir.c_str());
    if (!listing) return 0;
    const int dirFd = ::dirfd(listing);
    std::vector<std::string> plain;
    std::map<std::string, std::vector<std::string>> runFiles;  // by the name of their anchor
    while (const dirent* e = ::readdir(listing)) {
        std::string name = e->d_name;
        if (IsPlainScratchName(name)) plain.push_back(std::move(name));
        else if (RunFileCheckHolds(name)) runFiles[RunAnchorOf(name)].push_back(std::move(name));
    }
    int removed = 0;
    // A run's files first, while the lock of their anchor is held: then the anchor, with the plain ones.
    for (const auto& [anchor, files] : runFiles) {
        const int fd = OpenForSweep(dirFd, anchor);
        if (fd < 0) continue;  // no anchor: whose they are cannot be told
        struct stat st {};
        if (OursAndStale(dirFd, anchor, fd, st)) {
            for (const std::string& name : files) {
                struct stat file {};
                if (::fstatat(dirFd, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(file.st_mode) &&
                    ::unlinkat(dirFd, name.c_str(), 0) == 0)
                    ++removed;
            }
        }
        ::close(fd);
    }
    for (const std::string& name : plain) {
        const int fd = OpenForSweep(dirFd, name);
        if (fd < 0) continue;
        struct stat st {};
        if (OursAndStale(dirFd, name, fd, st)) {
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
