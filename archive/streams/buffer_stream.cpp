// TS_BufferStream and TLFNFileStream: one buffer in front of a stream, serving reads or writes in turn.
//
// State machine of the buffer (bufPos_ indexes the buffer, bufEnd_ ends its valid part):
//   idle (0)    nothing buffered; the wrapped stream stands at the logical position.
//   reading (1) buffer[bufPos_, bufEnd_) is read ahead; the wrapped stream stands at bufEnd_.
//   writing (2) buffer[0, bufPos_) waits to be written; the wrapped stream stands at buffer[0].
// Every switch between reading and writing goes through idle with the wrapped stream moved to the logical
// position, so a reader never sees stale bytes and a writer never skips or repeats any.
//
// Losing written bytes is the one failure that must never pass quietly: the archive writer declares an
// archive complete only when Commit() says every byte reached the file. So a flush that writes short
// sets a sticky flag, Write reports exactly how many of its own bytes reached the wrapped stream, a
// read or seek that would have to drop pending bytes raises instead, and Commit() answers for all of it.
#include "archive/streams/buffer_stream.h"


#include <algorithm>
#include <cstring>

#include "archive/errors.h"
#include "archive/fs/file_io.h"

namespace archive {

namespace {
int gBufferStreamSize = 8192;
}  // namespace

int BufferStreamSize() { return gBufferStreamSize; }

// A buffer needs at least one byte; smaller values are taken as 1.
void SetBufferStreamSize(int size) { gBufferStreamSize = size < 1 ? 1 : size; }

// ---- TS_BufferStream ----------------------------------------------------------------------------------

TS_BufferStream::TS_BufferStream(TStream* source)
    : source_(source), buffer_(static_cast<size_t>(BufferStreamSize())), bufferSize_(BufferStreamSize()) {}

TS_BufferStream::~TS_BufferStream() {
    try {
        Finish();
    } catch (...) {
        // A destructor cannot report; callers that care call FlushBuffer or Commit first.
    }
}

void TS_BufferStream::Finish() {
    if (finished_) return;
    finished_ = true;
    if (source_) {
        if (state_ == 2) FlushBuffer();
        if (FlushOnDestroy && written_ && source_->Handle() >= 0) fs::FlushFile(source_->Handle());
    }
    std::vector<uint8_t>().swap(buffer_);
}

int64_t TS_BufferStream::SourcePosition() const { return source_->Seek(0, soFromCurrent); }

int64_t TS_BufferStream::LogicalPosition() const {
    const int64_t position = SourcePosition();
    if (state_ == 1) return position - (bufEnd_ - bufPos_);
    if (state_ == 2) return position + bufPos_;
    return position;
}

int64_t TS_BufferStream::WritePending() {
    int64_t written = 0;
    if (bufPos_ > 0) {
        written = std::max<int64_t>(0, source_->Write(buffer_.data(), bufPos_));
        if (written != bufPos_) writeFailed_ = true;
    }
    bufPos_ = 0;
    bufEnd_ = 0;
    state_ = 0;
    return written;
}

bool TS_BufferStream::FillBuffer() {
    if (state_ == 2 && !FlushBuffer()) return false;
    const int64_t n = std::max<int64_t>(0, source_->Read(buffer_.data(), bufferSize_));
    bufPos_ = 0;
    bufEnd_ = n;
    state_ = n > 0 ? 1 : 0;
    DoFillBuffer();
    return n > 0;
}

bool TS_BufferStream::FlushBuffer() {
    bool ok = true;
    if (state_ == 2) {
        const int64_t pending = bufPos_;
        lastFlushed_ = WritePending();
        ok = lastFlushed_ == pending;
    } else {
        // Nothing to write. Read-ahead is given back to the wrapped stream so the logical position holds.
        if (state_ == 1 && bufEnd_ > bufPos_) source_->Seek(-(bufEnd_ - bufPos_), soFromCurrent);
        bufPos_ = 0;
        bufEnd_ = 0;
        state_ = 0;
    }
    DoFlushBuffer();
    return ok;
}

void TS_BufferStream::PutBack(uint8_t b) {
    if (bufPos_ <= 0) throw EStreamError("Putback overflow");
    buffer_[static_cast<size_t>(--bufPos_)] = b;
}

int64_t TS_BufferStream::Read(void* buffer, int64_t count) {
    if (count <= 0) return 0;
    // Reading after writing: the pending bytes go out first. If they cannot, reading on would hide
    // their loss, so this raises.
    if (state_ == 2 && !FlushBuffer()) throw EWriteError("Stream write error");
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        if (state_ != 1 || bufPos_ >= bufEnd_) {
            if (!FillBuffer()) break;
        }
        const int64_t n = std::min(count - done, bufEnd_ - bufPos_);
        std::memcpy(out + done, buffer_.data() + bufPos_, static_cast<size_t>(n));
        bufPos_ += n;
        done += n;
    }
    return done;
}

int64_t TS_BufferStream::Write(const void* buffer, int64_t count) {
    if (count <= 0) return 0;
    if (state_ == 1) {
        // Writing after reading: the wrapped stream steps back over the unread bytes to the logical position.
        if (bufEnd_ > bufPos_) source_->Seek(-(bufEnd_ - bufPos_), soFromCurrent);
        bufPos_ = 0;
        bufEnd_ = 0;
        state_ = 0;
    }
    written_ = true;
    const auto* in = static_cast<const uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count) {
        const int64_t n = std::min(count - done, static_cast<int64_t>(bufferSize_) - bufPos_);
        std::memcpy(buffer_.data() + bufPos_, in + done, static_cast<size_t>(n));
        bufPos_ += n;
        bufEnd_ = bufferSize_;
        state_ = 2;
        if (bufPos_ == bufferSize_) {
            // Bytes of earlier calls sit in front of ours; only what got past them counts for this call.
            const int64_t earlier = bufPos_ - n;
            lastFlushed_ = -1;
            if (!FlushBuffer()) return done + std::max<int64_t>(0, std::max<int64_t>(0, lastFlushed_) - earlier);
        }
        done += n;
    }
    return done;
}

int64_t TS_BufferStream::Seek(int64_t offset, int origin) {
    const int64_t logical = LogicalPosition();
    int64_t target = 0;
    switch (origin) {
        case soFromBeginning: target = offset; break;
        case soFromCurrent: target = logical + offset; break;
        // Both signs count back from the end: callers pass either -22 or 22 to reach the end record.
        case soFromEnd: target = Size() - (offset < 0 ? -offset : offset); break;
        default: throw EStreamError(Format("Invalid seek origin (%d)", origin));
    }
    if (target == logical) return target;
    // No stream has a position before its start; refusing here keeps the buffer and the logical position,
    // where emptying the buffer first would silently move a reader to the end of its read-ahead.
    if (target < 0) return -1;
    // A read-ahead that already holds the target serves it: entries that lie close together (a folder
    // of small files) cost one read, not one per header and one per entry's data.
    if (state_ == 1 && target >= logical - bufPos_ && target < logical + (bufEnd_ - bufPos_)) {
        bufPos_ += target - logical;
        return target;
    }
    if (state_ == 2 && !FlushBuffer()) throw EStreamError("\nSeek error");
    bufPos_ = 0;
    bufEnd_ = 0;
    state_ = 0;
    return source_->Seek(target, soFromBeginning);
}

int64_t TS_BufferStream::Size() {
    const int64_t size = source_->Size();
    if (state_ != 2) return size;
    return std::max(size, SourcePosition() + bufPos_);
}

// ---- TLFNFileStream -----------------------------------------------------------------------------------

TLFNFileStream::TLFNFileStream(const std::string& fileName, uint16_t mode, bool flush)
    : TS_BufferStream(nullptr), file_(std::make_unique<TFileStream>(fileName, mode)) {
    SetSource(file_.get());
    FlushOnDestroy = flush && (mode == fmCreate || (mode & 3) != 0);
}

TLFNFileStream::TLFNFileStream(int openHandle, const std::string& fileName, bool flush)
    : TS_BufferStream(nullptr), file_(std::make_unique<TFileStream>(openHandle, fileName)) {
    SetSource(file_.get());
    FlushOnDestroy = flush;
}

TLFNFileStream::~TLFNFileStream() {
    try {
        Finish();  // while the file is still open
    } catch (...) {
    }
}

bool TLFNFileStream::Commit(bool toDisk) {
    bool ok = !WriteFailed();
    if (HasPending()) ok = FlushBuffer() && ok;
    if (toDisk) ok = file_->FlushToDisk() && ok;
    return ok;
}

}  // namespace archive
