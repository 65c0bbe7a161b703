// The input and output steps of extraction and the dispatch by compression method (see entry_io.h).
#include "archive/reader/entry_io.h"


#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/fs/file_io.h"
#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/streams/stream.h"

namespace archive::reader {

void ArchiveInput::Start(TStream* stream, uint32_t compressedBytes, codec::TraditionalCipher* cipher) {
    stream_ = stream;
    left_ = compressedBytes;
    cipher_ = cipher;
}

size_t ArchiveInput::NextBlock(const uint8_t*& data) {
    if (left_ == 0) return 0;
    if (Pump) Pump();
    const size_t n = std::min<size_t>(kBlockSize, left_);
    left_ -= static_cast<uint32_t>(n);
    int64_t got = std::max<int64_t>(0, stream_->Read(buffer_, static_cast<int64_t>(n)));
    while (static_cast<size_t>(got) < n) {
        if (!NextDisk) throw EFatalUnzipError("Premature end of file reached");
        stream_ = NextDisk();
        const int64_t more = stream_->Read(buffer_ + got, static_cast<int64_t>(n) - got);
        if (more > 0) got += more;
    }
    if (cipher_) cipher_->Decrypt(buffer_, n);
    data = buffer_;
    return n;
}

ArchiveWindow::ArchiveWindow(int fd) : fd_(fd), window_(kWindowSize) {}

namespace {

int64_t ReadAt(int fd, uint8_t* to, size_t n, int64_t at) {
    return fs::ReadSomeAt(fd, to, static_cast<int64_t>(n), at);
}

}  // namespace

int64_t ArchiveWindow::Read(void* buffer, int64_t count) {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (position_ >= windowStart_ && position_ < windowStart_ + windowLength_) {
            const int64_t n = std::min(count - done, windowStart_ + windowLength_ - position_);
            std::memcpy(out + done, window_.data() + (position_ - windowStart_), static_cast<size_t>(n));
            position_ += n;
            done += n;
            continue;
        }
        const bool direct = count - done >= static_cast<int64_t>(kWindowSize);
        const int64_t n = direct ? ReadAt(fd_, out + done, static_cast<size_t>(count - done), position_)
                                 : ReadAt(fd_, window_.data(), kWindowSize, position_);
        if (n <= 0) break;  // the end of the file, or a read error: the callers call both premature
        if (direct) {
            position_ += n;
            done += n;
        } else {
            windowStart_ = position_;
            windowLength_ = n;
        }
    }
    return done;
}

int64_t ArchiveWindow::Seek(int64_t offset, int origin) {
    int64_t target = offset;
    if (origin == soFromCurrent) target = position_ + offset;
    else if (origin == soFromEnd) target = Size() - (offset < 0 ? -offset : offset);
    if (target < 0) return -1;
    position_ = target;
    return position_;
}

int64_t ArchiveWindow::Size() {
    return fs::SizeOfFile(fd_);
}

void EntryOutput::Start(TStream* file, uint32_t uncompressedSize) {
    file_ = file;
    limit_ = uncompressedSize;
    used_ = 0;
    written_ = 0;
    crc_ = 0xFFFFFFFF;
}

void EntryOutput::Write(const uint8_t* data, size_t n) {
    while (n > 0) {
        if (used_ == 0 && n >= kBlockSize) {
            // A whole block at hand: step it straight from the decoder's memory.
            Step(data, kBlockSize);
            data += kBlockSize;
            n -= kBlockSize;
            continue;
        }
        const size_t k = std::min(n, kBlockSize - used_);
        std::memcpy(buffer_ + used_, data, k);
        used_ += k;
        data += k;
        n -= k;
        if (used_ == kBlockSize) {
            used_ = 0;
            Step(buffer_, kBlockSize);
        }
    }
}

void EntryOutput::Finish() {
    if (used_ == 0) return;
    const size_t n = used_;
    used_ = 0;
    Step(buffer_, n);
}

void EntryOutput::Step(const uint8_t* data, size_t n) {
    // Checked before writing: the file never holds more than the entry says it has.
    if (written_ + n > limit_) throw EBiggerThanUncompressed("File is larger than uncompressed size!");
    if (file_) file_->WriteBuffer(data, static_cast<int64_t>(n));
    if (FoldCrc) crc_ = codec::Update(crc_, data, n);
    written_ += n;
    if (OnBlock) OnBlock(n);
}

bool DecodableMethod(uint16_t method) { return method <= 6 || method == 8; }

std::string UnsupportedMethodText(uint16_t method) {
    if (method == 99) return "AES encryption is not supported";
    const char* name = nullptr;
    switch (method) {
        case 7: name = "Tokenizing"; break;
        case 9: name = "Deflate64"; break;
        case 10: name = "DCL Implode"; break;
        case 12: name = "BZip2"; break;
        case 14: name = "LZMA"; break;
        case 16: name = "IBM z/OS CMPSC"; break;
        case 18: name = "IBM TERSE"; break;
        case 19: name = "IBM LZ77 z"; break;
        case 20:  // the number Zstandard had before 93
        case 93: name = "Zstandard"; break;
        case 94: name = "MP3"; break;
        case 95: name = "XZ"; break;
        case 96: name = "JPEG"; break;
        case 97: name = "WavPack"; break;
        case 98: name = "PPMd"; break;
        default: break;
    }
    const std::string number = std::to_string(method);
    return "compression method " + (name ? std::string(name) + " (" + number + ")" : number) + " is not supported";
}

EntryDecode DecodeEntry(uint16_t method, uint16_t flags, uint32_t compressedBytes, uint32_t uncompressedSize,
                        codec::DecodeWorkspace& workspace, ArchiveInput& in, EntryOutput& out) {
    codec::DecodeResult result = codec::DecodeResult::Ok;
    switch (method) {
        case 0: {
            const uint8_t* block = nullptr;
            while (const size_t n = in.NextBlock(block)) out.Write(block, n);
            break;
        }
        case 1: result = codec::Unshrink(workspace, in, out); break;
        case 2:
        case 3:
        case 4:
        case 5: result = codec::Unreduce(workspace, in, out, method - 1, uncompressedSize); break;
        case 6: result = codec::Explode(workspace, in, out, flags, compressedBytes, uncompressedSize); break;
        case 8: result = codec::Inflate(workspace, in, out); break;
        default: return EntryDecode::UnknownMethod;
    }
    out.Finish();
    switch (result) {
        case codec::DecodeResult::Ok: return EntryDecode::Ok;
        case codec::DecodeResult::DataError: return EntryDecode::DataError;
        case codec::DecodeResult::OutOfMemory: return EntryDecode::OutOfMemory;
    }
    return EntryDecode::DataError;
}

}  // namespace archive::reader
