// OutputFile: an archive file (or one volume of a set) written under a temporary name in the folder of its
// final name, and put in place by Commit only when every byte of it is on the disk.
//
// Why: a backup must never be left half-written under its final name, and rebuilding an existing archive
// must leave the old one whole until the new one is complete. A rename within one folder replaces the old
// file atomically, where "delete the old, copy the new" opens a window in which neither exists. So:
//   - the temporary file is a scratch file (".zbk-XXXXXX", locked while in use, see fs/scratch.h) beside
//     the final name (same folder, same file system);
//   - Put() writes all bytes or raises ENotEnoughRoom; a write that would carry the file past 4 GiB - 1
//     (what the format's 32-bit offsets and sizes hold) raises EFileTooLarge before anything is written;
//   - Commit() flushes the buffer and the operating system's caches (fsync) and renames; a failure of
//     either raises, so a full disk is never reported as a finished backup;
//   - Abort() (and the destructor of an object not committed) closes and deletes the temporary file.
// Without a final name the file is a scratch file: Commit is not used, Abort deletes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "archive/fs/scratch.h"
#include "archive/streams/buffer_stream.h"

namespace archive::writer {

class OutputFile {
public:
    // Creates the temporary file in `folder` (the final name's folder when empty). Raises EFCreateError
    // when the file cannot be made.
    OutputFile(const std::string& finalName, const std::string& folder = {});
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& TempName() const { return tempName_; }
    const std::string& FinalName() const { return finalName_; }

    // The logical write position, which is also the size for an append-only writer.
    int64_t Position() const { return position_; }
    int64_t Size() const { return size_; }

    // Writes n bytes at the position; ENotEnoughRoom on a short write, EFileTooLarge past the size limit.
    void Put(const void* data, size_t n);
    // Moves the position (the in-place rewrite of a local header); pending bytes that cannot be written
    // raise ENotEnoughRoom.
    void SeekTo(int64_t position);
    // Reads back what was written (scratch files copied across volumes). Returns the bytes read.
    int64_t Read(void* data, int64_t n);

    // Flushes the buffer and the operating system's caches and closes the file; ENotEnoughRoom when any
    // byte did not reach the disk. Idempotent.
    void Finish();
    // Finish, then rename the temporary file to the final name (replacing a file of that name).
    void Commit();
    // Closes and deletes the temporary file; never raises.
    void Abort() noexcept;

private:
    std::string finalName_;
    std::string tempName_;
    fs::ScratchFile scratch_;
    std::unique_ptr<TLFNFileStream> stream_;
    int64_t position_ = 0;
    int64_t size_ = 0;
    bool finished_ = false;
    bool committed_ = false;
};

// The largest archive or volume the writer makes: 4 GiB - 1. Tests lower it to reach the limit cheaply.
uint64_t ArchiveSizeLimit();
void SetArchiveSizeLimit(uint64_t bytes);

}  // namespace archive::writer
