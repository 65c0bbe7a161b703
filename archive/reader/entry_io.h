// The two steps every decompressor goes through while an entry is extracted: the input step, which feeds
// the entry's compressed bytes from the archive, and the output step, which takes its decoded bytes to
// the destination.
//
// Input step: blocks of at most 16000 bytes, never more than the entry's compressed size; the window
// message queue runs once per block; a block the archive cannot fill is "Premature end of file reached"
// (EFatalUnzipError) on a single archive and continues on the next disk of a multi-disk set; encrypted
// blocks are decrypted before use.
//
// Output step: decoded bytes are gathered into 16000-byte blocks; each block is checked against the
// entry's stored uncompressed size (EBiggerThanUncompressed "File is larger than uncompressed size!"
// before anything of it is written), written, folded into the CRC and reported for progress. Without a
// destination stream (testing an archive) the bytes are only checked and counted.
//
// Dispatch: method 0 copies, 1 to 6 and 8 go to the codecs; every other method is unknown to us.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/codec/crypt.h"
#include "archive/codec/decoder.h"

#include "archive/streams/stream.h"

namespace archive::reader {

constexpr size_t kBlockSize = 16000;

class ArchiveInput : public codec::InputSource {
public:
    // buffer: at least kBlockSize bytes, owned by the caller (one per extraction call).
    explicit ArchiveInput(uint8_t* buffer) : buffer_(buffer) {}

    // Starts an entry: `stream` positioned at its data, `compressedBytes` to read, `cipher` (or none)
    // already past the encryption header.
    void Start(TStream* stream, uint32_t compressedBytes, codec::TraditionalCipher* cipher);

    size_t NextBlock(const uint8_t*& data) override;

    // Runs the message queue (before each block) when set.
    std::function<void()> Pump;
    // Multi-disk sets only: switches to the next disk and returns its stream (positioned at its start);
    // raises when there is none. Empty for a single archive.
    std::function<TStream*()> NextDisk;

    uint32_t BytesLeft() const { return left_; }

private:
    uint8_t* buffer_;
    TStream* stream_ = nullptr;
    uint32_t left_ = 0;
    codec::TraditionalCipher* cipher_ = nullptr;
};

// The archive read with positioned reads of its descriptor through a window of kWindowSize bytes: the
// headers and data of neighbouring small entries come with one read, and no file position moves (the
// archive stream's stays where it was). A read of a window or more goes straight into the caller's
// buffer. A short count is the end of the file, or a read error.
class ArchiveWindow : public TStream {
public:
    static constexpr size_t kWindowSize = size_t{64} << 10;

    explicit ArchiveWindow(int fd);
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override;
    int Handle() const override { return fd_; }

private:
    int fd_;
    int64_t position_ = 0;
    std::vector<uint8_t> window_;
    int64_t windowStart_ = 0;
    int64_t windowLength_ = 0;
};

class EntryOutput : public codec::OutputSink {
public:
    // buffer: at least kBlockSize bytes, owned by the caller.
    explicit EntryOutput(uint8_t* buffer) : buffer_(buffer) {}

    // Starts an entry: `file` receives the output (none: nothing is written), `uncompressedSize` bounds it.
    void Start(TStream* file, uint32_t uncompressedSize);
    void Write(const uint8_t* data, size_t n) override;
    // Runs the output step for the bytes still gathered.
    void Finish();

    // Called after each output step with the block's size.
    std::function<void(size_t)> OnBlock;
    // Whether the steps are folded into Crc(); off when a worker that made the same steps has the CRC.
    bool FoldCrc = true;

    uint32_t Crc() const { return ~crc_; }
    uint64_t BytesWritten() const { return written_; }

private:
    void Step(const uint8_t* data, size_t n);

    uint8_t* buffer_;
    size_t used_ = 0;
    TStream* file_ = nullptr;
    uint64_t limit_ = 0;
    uint64_t written_ = 0;
    uint32_t crc_ = 0xFFFFFFFF;
};

enum class EntryDecode { Ok, DataError, OutOfMemory, UnknownMethod };

// Whether DecodeEntry has a decoder for the method (stored, shrunk, reduced, imploded, deflated).
bool DecodableMethod(uint16_t method);
// Why an entry of a method DecodableMethod refuses cannot be read, in words: "compression method BZip2
// (12) is not supported", "compression method 42 is not supported" for a number without a known name,
// and "AES encryption is not supported" for 99 (the method of every AES-encrypted entry; the real one is
// in its extra field).
std::string UnsupportedMethodText(uint16_t method);

// Decodes one entry with the decompressor of its method. `compressedBytes` is what the input step will
// deliver (the encryption header already taken off).
EntryDecode DecodeEntry(uint16_t method, uint16_t flags, uint32_t compressedBytes, uint32_t uncompressedSize,
                        codec::DecodeWorkspace& workspace, ArchiveInput& in, EntryOutput& out);

}  // namespace archive::reader
