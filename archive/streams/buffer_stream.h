// TS_BufferStream: a buffering stream layered over another stream (not owned), and TLFNFileStream,
// the file-backed variant that owns its TFileStream. The archive and every extracted file go through them.
//
// The buffer serves either reading or writing at a time (state 0 idle, 1 reading, 2 writing). The logical
// position is the wrapped stream's position plus the offset inside the buffer, so seeking inside data
// already buffered for reading costs nothing when the target equals the logical position.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/streams/stream.h"

namespace archive {

// Process-wide buffer size taken by every new TS_BufferStream (initially 8192).
int BufferStreamSize();
void SetBufferStreamSize(int size);

class TS_BufferStream : public TStream {
public:
    explicit TS_BufferStream(TStream* source);
    ~TS_BufferStream() override;
    TS_BufferStream(const TS_BufferStream&) = delete;
    TS_BufferStream& operator=(const TS_BufferStream&) = delete;

    // Pending written bytes go out first; when they cannot, EWriteError "Stream write error" is raised
    // (reading on would hide their loss).
    int64_t Read(void* buffer, int64_t count) override;
    // Returns the bytes of this call that reached the wrapped stream or wait in the buffer: a full disk
    // shows as a short count. Bytes still in the buffer are answered for by FlushBuffer or Commit.
    int64_t Write(const void* buffer, int64_t count) override;
    // Origin 2 counts |offset| back from the end; other origins than 0..2 raise
    // EStreamError "Invalid seek origin (%d)"; a failed flush raises EStreamError "\nSeek error".
    // A target before the start returns -1 and changes nothing.
    int64_t Seek(int64_t offset, int origin) override;
    int64_t Size() override;
    int Handle() const override { return source_ ? source_->Handle() : -1; }

    // Reads the next buffer from the wrapped stream (after writing out pending bytes); false when no byte came.
    virtual bool FillBuffer();
    // Writes the pending bytes; false when not all of them could be written (disk full). Without pending
    // bytes it only empties the buffer, handing unread bytes back so the logical position holds.
    virtual bool FlushBuffer();
    // Steps back one byte and stores b there; raises EStreamError "Putback overflow" at the buffer start.
    virtual void PutBack(uint8_t b);

    TStream* Source() const { return source_; }
    int BufferSize() const { return bufferSize_; }
    bool FlushOnDestroy = false;
    bool Written() const { return written_; }
    std::function<void(TS_BufferStream*)> OnFillBuffer;
    std::function<void(TS_BufferStream*)> OnFlushBuffer;

protected:
    virtual void DoFillBuffer() { if (OnFillBuffer) OnFillBuffer(this); }
    virtual void DoFlushBuffer() { if (OnFlushBuffer) OnFlushBuffer(this); }
    // Runs the destroy steps (flush pending writes, optional OS flush); derived destructors call it
    // before they free the wrapped stream. Safe to call twice.
    void Finish();
    // Wires the wrapped stream after construction (TLFNFileStream opens its file in its own constructor).
    void SetSource(TStream* source) { source_ = source; }
    // Whether written bytes are waiting in the buffer.
    bool HasPending() const { return state_ == 2 && bufPos_ > 0; }
    // Whether a flush ever failed to hand all its bytes to the wrapped stream (sticky: bytes were lost).
    bool WriteFailed() const { return writeFailed_; }

private:
    TStream* source_;
    std::vector<uint8_t> buffer_;
    int64_t bufPos_ = 0;   // index into buffer_
    int64_t bufEnd_ = 0;   // end of valid data (reading) or of the buffer (writing)
    int bufferSize_;
    int state_ = 0;        // 0 idle, 1 reading, 2 writing
    bool written_ = false;
    bool writeFailed_ = false;
    bool finished_ = false;
    int64_t lastFlushed_ = 0;  // bytes the last FlushBuffer handed on (Write needs it after a short flush)

    int64_t SourcePosition() const;
    int64_t LogicalPosition() const;
    // Writes the pending bytes and empties the buffer; returns how many reached the wrapped stream.
    int64_t WritePending();
};

class TLFNFileStream : public TS_BufferStream {
public:
    // Opens (or creates, with fmCreate) the file; FlushOnDestroy = flush and the mode includes writing.
    TLFNFileStream(const std::string& fileName, uint16_t mode, bool flush = false);
    // Writes (and reads) through a duplicate of a descriptor already open for both, such as a scratch
    // file's, named fileName for messages.
    TLFNFileStream(int openHandle, const std::string& fileName, bool flush = false);
    ~TLFNFileStream() override;
    TFileStream& File() { return *file_; }
    const std::string& FileName() const { return file_->FileName(); }
    // Writes pending bytes and, when asked, the operating system's buffers; false on any failure.
    // The writer calls it before it declares an archive complete, so a full disk is never missed.
    bool Commit(bool toDisk);

private:
    std::unique_ptr<TFileStream> file_;
};

}  // namespace archive
