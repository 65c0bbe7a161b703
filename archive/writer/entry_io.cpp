// The writer's input and output routines, through which every byte of entry data passes.
//
// ReadEntryData reads the current source, raises the progress events (per file: bytes read of the file's
// size; in total: bytes done of the operation's bytes to do; both rounded to nearest with halves to even,
// capped at 100; the per-file figure halved in multi-volume mode, where the copy across volumes carries
// it on to 100) and folds the bytes into the CRC register. An empty file raises no event.
//
// WriteArchiveData encrypts (with a password), writes to the archive (or, in multi-volume mode, to the
// entry's scratch file), lets the host pump its messages and honours a cancel request. A write that does
// not go through whole raises ENotEnoughRoom; nothing is ever dropped quietly.

#include <algorithm>
#include <cerrno>

#include "archive/fs/file_io.h"
#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/records/date_time.h"
#include "archive/writer/output_file.h"
#include "archive/writer/vcl_zip.h"
#include "archive/writer/volume_set.h"

namespace archive {

unsigned TVCLZip::ReadEntryData(uint8_t* buffer, unsigned count) {
    if (!source_ || count == 0) return 0;
    const int64_t n = ReadSource(buffer, count);
    if (n == 0) return 0;
    AccountEntryData(buffer, static_cast<unsigned>(n));
    return static_cast<unsigned>(n);
}

size_t TVCLZip::FetchEntryData(uint8_t* buffer, size_t count) {
    if (!source_ || count == 0) return 0;
    // A read that fails after some bytes hands those out and fails at the next call, so the compressor
    // knows where the failure stands and raises it at the read that meets it.
    if (fetchFailed_) {
        fetchFailed_ = false;
        throw EReadError("Stream read error");
    }
    const int fd = source_->Handle();
    size_t done = 0;
    while (done < count) {
        const int64_t n = fs::ReadSome(fd, buffer + done, static_cast<int64_t>(count - done));
        if (n < 0) {
            if (done == 0) throw EReadError("Stream read error");
            fetchFailed_ = true;
            break;
        }
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

void TVCLZip::WaitingForWorkers() {
    if (DoProcessMessages) host().ProcessMessages();
}

void TVCLZip::AccountEntryData(const uint8_t* buffer, unsigned n) {
    entryRead_ += n;
    if (entryRead_ > 0xFFFFFFFFll) {
        throw EFileTooLarge("A file grew beyond 4 GiB - 1 bytes while it was read; a Zip archive cannot hold it");
    }
    // Bytes a comparison with a carry-over source showed already are not shown again when the file is
    // read once more to be compressed: the progress moves on from where the comparison left it.
    const int64_t fresh = entryRead_ - std::max<int64_t>(entryRead_ - n, credited_);
    if (fresh > 0 && OnFilePercentDone) {
        fileBytes_ += fresh;
        int percent = PercentOf(fileBytes_, current_ ? current_->UncompressedSize : 0);
        if (multi_) percent /= 2;
        OnFilePercentDone(this, percent);
    }
    if (fresh > 0 && OnTotalPercentDone) {
        bytesDone_ += fresh;
        lastTotalPercent_ = PercentOf(bytesDone_, bytesToDo_);
        OnTotalPercentDone(this, lastTotalPercent_);
    }
    crc_ = codec::Update(crc_, buffer, static_cast<size_t>(n));
}

void TVCLZip::WriteArchiveData(const uint8_t* buffer, size_t n) {
    if (n == 0) return;
    const uint8_t* data = buffer;
    if (encrypting_) {
        scratch_.assign(buffer, buffer + n);
        encryptor_.Encrypt(scratch_.data(), n);
        data = scratch_.data();
    }
    if (multi_ && dataTemp_) {
        dataTemp_->Put(data, n);
    } else {
        PutRaw(data, n);
    }
    bytesWritten_ += static_cast<int64_t>(n);
    entryWritten_ += static_cast<int64_t>(n);
    PumpMessages();
}

void TVCLZip::PutRaw(const void* data, size_t n) {
    if (multi_) {
        volumes_->Current().Put(data, n);
    } else {
        out_->Put(data, n);
    }
}

void TVCLZip::PumpMessages() {
    if (DoProcessMessages) host().ProcessMessages();
    if (cancelRequested_) {
        cancelRequested_ = false;
        throw EUserCanceled("User Aborted Operation");
    }
}

int64_t TVCLZip::ReadSource(uint8_t* buffer, int64_t count) {
    // Straight from the descriptor: the pieces are large already, and a read error must not look like
    // the end of the file (that would store a silently truncated copy).
    const int fd = source_->Handle();
    int64_t done = 0;
    while (done < count) {
        const int64_t n = fs::ReadSome(fd, buffer + done, count - done);
        if (n < 0) {
            throw EReadError("Stream read error");
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

int64_t TVCLZip::ArchivePosition() const {
    return multi_ ? volumes_->Current().Position() : out_->Position();
}

int64_t TVCLZip::ArchiveSize() const { return multi_ ? volumes_->Current().Size() : out_->Size(); }

void TVCLZip::CopyDataAcrossVolumes() {
    const int64_t total = entryWritten_;
    const int64_t uncompressed = entryRead_;
    int64_t copied = 0;
    int64_t credited = 0;  // share of the file's size credited to the total so far
    dataTemp_->SeekTo(0);
    volumes_->CopyAcross([this](void* data, int64_t n) { return dataTemp_->Read(data, n); }, total,
                         [&](int64_t piece) {
                             copied += piece;
                             if (OnFilePercentDone) OnFilePercentDone(this, 50 + PercentOf(copied, total) / 2);
                             if (OnTotalPercentDone) {
                                 // The copy counts the file's size a second time, in proportion.
                                 const int64_t share = total > 0 ? uncompressed * copied / total : 0;
                                 bytesDone_ += share - credited;
                                 credited = share;
                                 lastTotalPercent_ = PercentOf(bytesDone_, bytesToDo_);
                                 OnTotalPercentDone(this, lastTotalPercent_);
                             }
                             PumpMessages();
                         });
    dataTemp_->Abort();
    dataTemp_.reset();
}

}  // namespace archive
