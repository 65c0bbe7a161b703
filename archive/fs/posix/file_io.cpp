// Open files by descriptor, on POSIX; see file_io.h.
#include "archive/fs/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace archive::fs {

namespace {

// The largest piece handed to one read(2)/write(2) call (Linux moves at most 0x7ffff000 bytes per call).
constexpr int64_t kMaxPiece = 0x40000000;

FileStatus StatusFrom(const struct stat& st) {
    FileStatus s;
    s.regular = S_ISREG(st.st_mode);
    s.folder = S_ISDIR(st.st_mode);
    s.size = static_cast<int64_t>(st.st_size);
    s.modifiedNs = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
    s.device = static_cast<uint64_t>(st.st_dev);
    s.index = static_cast<uint64_t>(st.st_ino);
    return s;
}

}  // namespace

int OpenFile(const std::string& path, Access access) {
    int flags = O_CLOEXEC;
    switch (access) {
        case Access::Read: flags |= O_RDONLY; break;
        case Access::Write: flags |= O_WRONLY; break;
        case Access::ReadWrite: flags |= O_RDWR; break;
        case Access::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    struct stat st {};
    if (fd >= 0 && ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        errno = EISDIR;
        return -1;
    }
    return fd;
}

int OpenRegularFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int DuplicateFile(int fd) { return ::fcntl(fd, F_DUPFD_CLOEXEC, 0); }

int ReopenForReading(int fd) { return DuplicateFile(fd); }

void CloseFile(int fd) {
    if (fd >= 0) ::close(fd);
}

int64_t ReadSome(int fd, void* buffer, int64_t count) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, static_cast<size_t>(std::min(count, kMaxPiece)));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

int64_t WriteSome(int fd, const void* buffer, int64_t count) {
    for (;;) {
        const ssize_t n = ::write(fd, buffer, static_cast<size_t>(std::min(count, kMaxPiece)));
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

int64_t ReadSomeAt(int fd, void* buffer, int64_t count, int64_t offset) {
    for (;;) {
        const ssize_t n = ::pread(fd, buffer, static_cast<size_t>(std::min(count, kMaxPiece)), offset);
        if (n < 0 && errno == EINTR) continue;
        return n;
    }
}

int64_t SeekFile(int fd, int64_t offset, int whence) {
    return static_cast<int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}

int64_t SizeOfFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool FlushFile(int fd) { return ::fsync(fd) == 0; }

void FlushFolder(const std::string& folder) {
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);  // best effort: some file systems refuse fsync on folders
    ::close(fd);
}

std::optional<FileStatus> StatusOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return StatusFrom(st);
}

std::optional<FileStatus> StatusOfFile(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
    return StatusFrom(st);
}

bool LocalTime(std::time_t t, std::tm& out) { return ::localtime_r(&t, &out) != nullptr; }

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace archive::fs
