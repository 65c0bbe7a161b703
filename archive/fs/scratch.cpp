// Scratch files and the sweep of stale ones; see scratch.h.
#include "archive/fs/scratch.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace {

constexpr size_t kPrefixLength = sizeof(kScratchPrefix) - 1;
constexpr size_t kRandomLength = 6;

// The random part of a new name: six letters or digits from a generator seeded once per thread.
std::string RandomPart() {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 generator{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
    std::string part(kRandomLength, 'X');
    for (char& c : part) c = kAlphabet[generator() % (sizeof(kAlphabet) - 1)];
    return part;
}

bool IsAlnum(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Whether the name `name` of the folder open on `dirFd` (AT_FDCWD: `name` is a path) still leads to the
// file open on `fd`.
bool StillNamed(int dirFd, const std::string& name, int fd) {
    struct stat byName {}, byFd {};
    return ::fstatat(dirFd, name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &byFd) == 0 &&
           byName.st_dev == byFd.st_dev && byName.st_ino == byFd.st_ino;
}

// Locks a file just made (`dirFd` and `name` say where); false when a sweeper took it first.
// `wait`: a sweeper that got there first holds the lock only for as long as it takes to delete the file,
// and then the name no longer leads here. Without it, a lock another program holds on the file (a second
// name of an existing file shares that file's locks) leaves the file unlocked.
bool Lock(int dirFd, const std::string& name, int fd, bool wait = true) {
    if (::flock(fd, wait ? LOCK_EX : LOCK_EX | LOCK_NB) != 0 && (wait || errno != EWOULDBLOCK)) return false;
    return StillNamed(dirFd, name, fd);
}

}  // namespace

bool IsScratchName(const std::string& fileName) {
    if (fileName.size() != kPrefixLength + kRandomLength) return false;
    if (fileName.compare(0, kPrefixLength, kScratchPrefix) != 0) return false;
    for (size_t i = kPrefixLength; i < fileName.size(); ++i)
        if (!IsAlnum(fileName[i])) return false;
    return true;
}

ScratchFile ScratchFile::Create(const std::string& folder) {
    const std::string dir = folder.empty() ? std::string() : IncludeTrailingSeparator(Resolve(folder));
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = dir + kScratchPrefix + RandomPart();
        // The mode takes the umask, as any file the program makes does.
        const int fd = ::open(path.empty() ? "." : path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        if (!Lock(AT_FDCWD, path, fd)) {
            ::close(fd);
            continue;
        }
        ScratchFile file;
        file.name_ = ExtractFileName(path);
        file.path_ = std::move(path);
        file.fd_ = fd;
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
        std::string name = kScratchPrefix + RandomPart();
        const int fd = ::openat(folder.Fd(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return {};
        }
        if (!Lock(folder.Fd(), name, fd)) {
            ::close(fd);
            continue;
        }
        ScratchFile file;
        file.folder_ = folder;
        file.path_ = folder.Path() + name;
        file.name_ = std::move(name);
        file.fd_ = fd;
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
        std::string second = kScratchPrefix + RandomPart();
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
        if (!Lock(folder.Fd(), second, fd, false)) {
            ::close(fd);
            continue;
        }
        ScratchFile file;
        file.folder_ = folder;
        file.path_ = folder.Path() + second;
        file.name_ = std::move(second);
        file.fd_ = fd;
        return file;
    }
    errno = EEXIST;
    return {};
}

ScratchFile::ScratchFile(ScratchFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      placed_(std::exchange(other.placed_, false)) {}

ScratchFile& ScratchFile::operator=(ScratchFile&& other) noexcept {
    if (this != &other) {
        Discard();
        folder_ = std::move(other.folder_);
        name_ = std::move(other.name_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
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
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    folder_ = {};
    path_.clear();
    name_.clear();
}

void ScratchFile::Discard() noexcept {
    if (fd_ < 0) return;
    // Only while the name still leads to our file: a rename we did not notice must not cost another file.
    const int dirFd = folder_.Valid() ? folder_.Fd() : AT_FDCWD;
    const std::string& name = folder_.Valid() ? name_ : path_;
    if (!placed_ && StillNamed(dirFd, name, fd_) && ::unlinkat(dirFd, name.c_str(), 0) == 0 && folder_.Valid())
        detail::NoteFolderChange(path_, false);
    ::close(fd_);
    fd_ = -1;
    placed_ = false;
    folder_ = {};
    path_.clear();
    name_.clear();
}

int RemoveStaleScratchFiles(const std::string& folder) {
    std::vector<DirEntry> entries;
    const std::string dir = IncludeTrailingSeparator(Resolve(folder));
    if (folder.empty() || !ListDirectory(dir, entries)) return 0;
    int removed = 0;
    for (const DirEntry& entry : entries) {
        if (!IsScratchName(entry.name) || (entry.attributes & faDirectory)) continue;
        const std::string path = dir + entry.name;
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        struct stat st {};
        // Not blocking: a lock held means a live maker, whose file stays.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            StillNamed(AT_FDCWD, path, fd) && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace archive::fs
