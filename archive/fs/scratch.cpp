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

#include "archive/fs/fs.h"

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

// Whether `path` still names the file open on `fd`.
bool StillNamed(const std::string& path, int fd) {
    struct stat byName {}, byFd {};
    return ::lstat(path.c_str(), &byName) == 0 && ::fstat(fd, &byFd) == 0 && byName.st_dev == byFd.st_dev &&
           byName.st_ino == byFd.st_ino;
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
        // Blocking: a sweeper that got there first holds the lock only for as long as it takes to
        // delete the file, and then the name no longer leads here.
        if (::flock(fd, LOCK_EX) != 0 || !StillNamed(path, fd)) {
            ::close(fd);
            continue;
        }
        ScratchFile file;
        file.path_ = std::move(path);
        file.fd_ = fd;
        return file;
    }
    errno = EEXIST;
    return {};
}

ScratchFile::ScratchFile(ScratchFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)) {}

ScratchFile& ScratchFile::operator=(ScratchFile&& other) noexcept {
    if (this != &other) {
        Discard();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

ScratchFile::~ScratchFile() { Discard(); }

void ScratchFile::Release() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    path_.clear();
}

void ScratchFile::Discard() noexcept {
    if (fd_ < 0) return;
    // Only while the name still leads to our file: a rename we did not notice must not cost another file.
    if (StillNamed(path_, fd_)) ::unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
    path_.clear();
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
            StillNamed(path, fd) && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    return removed;
}

}  // namespace archive::fs
