// The plain streams: the TStream helpers, a file stream over a descriptor and a memory stream.
//
// TFileStream moves bytes with the file services' reads and writes and loops until the whole count is done, because a single
// call may legally move fewer bytes (signals, counts above the kernel's per-call limit). It stops only at
// the end of the file or at an error, and then reports what it did move: a disk that fills up shows as a
// short count from Write, with errno left as the failing call set it. Nothing here retries a full disk.
//
// A name is resolved case-insensitively before it is opened, so "db/x.dat" finds "DB/X.DAT" as a Windows program
// (a Windows program) would. Folders are refused: open(2) accepts a folder for reading, but no caller can
// do anything sensible with it and the error should name the real cause.
#include "archive/streams/stream.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "archive/errors.h"
#include "archive/fs/file_io.h"
#include "archive/fs/fs.h"

namespace archive {

namespace {

// Piece size of CopyFrom.
constexpr int64_t kCopyPiece = 64 * 1024;

using fs::ErrorText;

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
    bool known = true;
    fs::Access access = fs::Access::Create;
    if (!create) {
        switch (mode & 3) {
            case fmOpenRead: access = fs::Access::Read; break;
            case fmOpenWrite: access = fs::Access::Write; break;
            case fmOpenReadWrite: access = fs::Access::ReadWrite; break;
            default: known = false; break;  // both access bits set: no such mode
        }
    }
    int error = EINVAL;
    if (known) {
        fd_ = fs::OpenFile(path, access);
        error = errno;
    }
    if (fd_ < 0) {
        if (create) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), ErrorText(error).c_str()));
        throw EFOpenError(Format("Cannot open file \"%s\". %s", fileName.c_str(), ErrorText(error).c_str()));
    }
}

TFileStream::TFileStream(int openHandle, const std::string& fileName) : fileName_(fileName) {
    fd_ = fs::DuplicateFile(openHandle);
    if (fd_ < 0)
        throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName.c_str(), ErrorText(errno).c_str()));
}

TFileStream::~TFileStream() {
    fs::CloseFile(fd_);
}

namespace {

int64_t ReadAll(int fd, void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = fs::ReadSome(fd, out + done, count - done);
        if (n <= 0) break;  // end of file or error
        done += n;
    }
    return done;
}

int64_t WriteAll(int fd, const void* buffer, int64_t count) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = fs::WriteSome(fd, in + done, count - done);
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
    return fs::SeekFile(fd, offset, whence);
}

int64_t SizeOf(int fd) { return fs::SizeOfFile(fd); }

}  // namespace

int64_t TFileStream::Read(void* buffer, int64_t count) { return ReadAll(fd_, buffer, count); }

int64_t TFileStream::Write(const void* buffer, int64_t count) { return WriteAll(fd_, buffer, count); }

int64_t TFileStream::Seek(int64_t offset, int origin) { return SeekTo(fd_, offset, origin); }

int64_t TFileStream::Size() { return SizeOf(fd_); }

bool TFileStream::FlushToDisk() { return fs::FlushFile(fd_); }

// ---- THandleStream ------------------------------------------------------------------------------------

int64_t THandleStream::Read(void* buffer, int64_t count) { return ReadAll(fd_, buffer, count); }

int64_t THandleStream::Write(const void* buffer, int64_t count) { return WriteAll(fd_, buffer, count); }

int64_t THandleStream::Seek(int64_t offset, int origin) { return SeekTo(fd_, offset, origin); }

int64_t THandleStream::Size() { return SizeOf(fd_); }

bool THandleStream::FlushToDisk() { return fs::FlushFile(fd_); }

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
