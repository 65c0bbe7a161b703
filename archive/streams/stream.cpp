// The plain streams: the TStream helpers, a file stream over a POSIX descriptor and a memory stream.
//
// TFileStream moves bytes with read(2)/write(2) and loops until the whole count is done, because a single
// call may legally move fewer bytes (signals, counts above the kernel's per-call limit). It stops only at
// the end of the file or at an error, and then reports what it did move: a disk that fills up shows as a
// short count from Write, with errno left as the failing call set it. Nothing here retries a full disk.
//
// A name is resolved case-insensitively before it is opened, so "db/x.dat" finds "DB/X.DAT" as a Windows program
// (a Windows program) would. Folders are refused: open(2) accepts a folder for reading, but no caller can
// do anything sensible with it and the error should name the real cause.
#include "archive/streams/stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "archive/errors.h"
#include "archive/fs/fs.h"

namespace archive {

namespace {

// The largest piece handed to one read(2)/write(2) call (Linux moves at most 0x7ffff000 bytes per call).
constexpr int64_t kMaxPiece = 0x40000000;

// Piece size of CopyFrom.
constexpr int64_t kCopyPiece = 64 * 1024;

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace

// ---- TStream ------------------------------------------------------------------------------------------

int64_t TStream::Size() {
    const int64_t position = Seek(0, soFromCurrent);
    const int64_t size = Seek(0, soFromEnd);
    Seek(position, soFromBeginning);
    return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
    if (count != 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
    if (count != 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    std::vector<uint8_t> piece(static_cast<size_t>(std::min(count, kCopyPiece)));
    int64_t done = 0;
    while (done < count) {
        const int64_t n = std::min(count - done, kCopyPiece);
        source.ReadBuffer(piece.data(), n);
        WriteBuffer(piece.data(), n);
        done += n;
    }
    return done;
}

// ---- TFileStream --------------------------------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : fileName_(fileName) {
    const std::string path = fs::Resolve(fileName);
    const bool create = mode == fmCreate;
    int flags = O_CLOEXEC;
    if (create) {
        flags |= O_RDWR | O_CREAT | O_TRUNC;
    } else {
        switch (mode & 3) {
            case fmOpenRead: flags |= O_RDONLY; break;
            case fmOpenWrite: flags |= O_WRONLY; break;
            case fmOpenReadWrite: flags |= O_RDWR; break;
            default: flags = -1; break;  // both access bits set: no such mode
        }
    }
    int error = EINVAL;
    if (flags != -1) {
        do {
            fd_ = ::open(path.c_str(), flags, 0666);
        } while (fd_ < 0 && errno == EINTR);
        error = errno;
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
            ::close(fd_);
            fd_ = -1;
            error = EISDIR;
        }
    }
    if (fd_ < 0) {
        if (create) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), ErrorText(error).c_str()));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), ErrorText(error).c_str()));
    }
}

TFileStream::TFileStream(int openHandle, const std::string& fileName) : fileName_(fileName) {
    fd_ = ::fcntl(openHandle, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), ErrorText(errno).c_str()));
}

TFileStream::~TFileStream() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

int64_t ReadAll(int fd, void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, out + done, static_cast<size_t>(std::min(count - done, kMaxPiece)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // end of file or error
        done += n;
    }
    return done;
}

int64_t WriteAll(int fd, const void* buffer, int64_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, in + done, static_cast<size_t>(std::min(count - done, kMaxPiece)));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // ENOSPC, EFBIG, EIO...: the caller sees the short count
        done += n;
    }
    return done;
}

int64_t SeekTo(int fd, int64_t offset, int origin) {
    int whence = SEEK_SET;
    switch (origin) {
        case soFromBeginning: whence = SEEK_SET; break;
        case soFromCurrent: whence = SEEK_CUR; break;
        case soFromEnd: whence = SEEK_END; break;
        default: throw EStreamError(Format("Invalid seek origin (%d)", origin));
    }
    return static_cast<int64_t>(::lseek(fd, static_cast<off_t>(offset), whence));
}

int64_t SizeOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace

int64_t TFileStream::Read(void* buffer, int64_t count) { return ReadAll(fd_, buffer, count); }

int64_t TFileStream::Write(const void* buffer, int64_t count) { return WriteAll(fd_, buffer, count); }

int64_t TFileStream::Seek(int64_t offset, int origin) { return SeekTo(fd_, offset, origin); }

int64_t TFileStream::Size() { return SizeOf(fd_); }

bool TFileStream::FlushToDisk() { return ::fsync(fd_) == 0; }

// ---- THandleStream ------------------------------------------------------------------------------------

int64_t THandleStream::Read(void* buffer, int64_t count) { return ReadAll(fd_, buffer, count); }

int64_t THandleStream::Write(const void* buffer, int64_t count) { return WriteAll(fd_, buffer, count); }

int64_t THandleStream::Seek(int64_t offset, int origin) { return SeekTo(fd_, offset, origin); }

int64_t THandleStream::Size() { return SizeOf(fd_); }

bool THandleStream::FlushToDisk() { return ::fsync(fd_) == 0; }

// ---- TMemoryStream ------------------------------------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
    const int64_t size = Size();
    if (count <= 0 || position_ >= size) return 0;
    const int64_t n = std::min(count, size - position_);
    std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
    position_ += n;
    return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    const int64_t end = position_ + count;
    // Writing past the end fills the gap with zeros, as a file does.
    if (end > Size()) data_.resize(static_cast<size_t>(end));
    std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
    position_ = end;
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, int origin) {
    int64_t target = 0;
    switch (origin) {
        case soFromBeginning: target = offset; break;
        case soFromCurrent: target = position_ + offset; break;
        case soFromEnd: target = Size() + offset; break;
        default: throw EStreamError(Format("Invalid seek origin (%d)", origin));
    }
    if (target < 0) return -1;  // as lseek: the position stays where it was
    position_ = target;
    return position_;
}

}  // namespace archive
