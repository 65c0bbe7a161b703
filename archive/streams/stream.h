// The byte-stream abstraction every record reader and writer of the engine works on, and the two plain
// streams under it: a file stream over a POSIX descriptor and a memory stream.
//
// Read and Write return the number of bytes moved (short counts are normal at the end of a file or when
// a disk is full); ReadBuffer and WriteBuffer insist on the full count and raise otherwise.
// Seek origins are those of the runtime library: 0 beginning, 1 current, 2 end.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace archive {

constexpr int soFromBeginning = 0;
constexpr int soFromCurrent = 1;
constexpr int soFromEnd = 2;

// Open modes. The low two bits select the access; the share bits are accepted and ignored (POSIX has no
// mandatory locks). fmCreate creates the file or truncates an existing one, for reading and writing.
constexpr uint16_t fmOpenRead = 0x0000;
constexpr uint16_t fmOpenWrite = 0x0001;
constexpr uint16_t fmOpenReadWrite = 0x0002;
constexpr uint16_t fmShareCompat = 0x0000;
constexpr uint16_t fmShareExclusive = 0x0010;
constexpr uint16_t fmShareDenyWrite = 0x0020;
constexpr uint16_t fmShareDenyRead = 0x0030;
constexpr uint16_t fmShareDenyNone = 0x0040;
constexpr uint16_t fmCreate = 0xFFFF;

class TStream {
public:
    virtual ~TStream() = default;
    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    // Returns the new position.
    virtual int64_t Seek(int64_t offset, int origin) = 0;
    virtual int64_t Size();
    // A POSIX descriptor when the stream is backed by a file, else -1.
    virtual int Handle() const { return -1; }

    int64_t Position() { return Seek(0, soFromCurrent); }
    void SetPosition(int64_t position) { Seek(position, soFromBeginning); }
    // Raise EReadError "Stream read error" / EWriteError "Stream write error" on a short count.
    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source (all of it from its start when count is 0); returns bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// A file opened by name. The name is resolved case-insensitively (archive/fs). Failures raise
// EFOpenError "Cannot open file "%s". %s" or, for fmCreate, EFCreateError "Cannot create file "%s". %s",
// the second placeholder being the system's error text.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& fileName, uint16_t mode);
    // A stream over its own duplicate of an open descriptor (EFCreateError when it cannot be had).
    TFileStream(int openHandle, const std::string& fileName);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override;
    int Handle() const override { return fd_; }
    const std::string& FileName() const { return fileName_; }
    // Ask the operating system to write the file's buffers to the disk; false on failure.
    bool FlushToDisk();

private:
    std::string fileName_;
    int fd_ = -1;
};

// A stream over a descriptor that stays its owner's (a scratch file's): nothing is duplicated, buffered
// or closed here. Reads and writes loop as TFileStream's do.
class THandleStream : public TStream {
public:
    explicit THandleStream(int handle) : fd_(handle) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override;
    int Handle() const override { return fd_; }
    // Ask the operating system to write the file's buffers to the disk; false on failure.
    bool FlushToDisk();

private:
    int fd_;
};

class TMemoryStream : public TStream {
public:
    TMemoryStream() = default;
    explicit TMemoryStream(std::vector<uint8_t> data) : data_(std::move(data)) {}
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override { return static_cast<int64_t>(data_.size()); }
    std::vector<uint8_t>& Data() { return data_; }

private:
    std::vector<uint8_t> data_;
    int64_t position_ = 0;
};

}  // namespace archive
