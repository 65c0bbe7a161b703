#include "archive/writer/output_file.h"

#include <cerrno>
#include <cstring>

#include "archive/errors.h"
#include "archive/fs/file_io.h"
#include "archive/fs/fs.h"

namespace archive::writer {

namespace {

uint64_t gSizeLimit = 0xFFFFFFFFull;

// A rename is only durable once the folder that holds the new name is on the disk too.
void SyncFolderOf(const std::string& path) {
    fs::FlushFolder(fs::ExtractFilePath(fs::Resolve(path)));
}

}  // namespace

uint64_t ArchiveSizeLimit() { return gSizeLimit; }
void SetArchiveSizeLimit(uint64_t bytes) { gSizeLimit = bytes; }

OutputFile::OutputFile(const std::string& finalName, const std::string& folder) : finalName_(finalName) {
    const std::string dir = folder.empty() ? fs::ExtractFilePath(finalName) : fs::IncludeTrailingSeparator(folder);
    scratch_ = fs::ScratchFile::Create(dir);
    tempName_ = scratch_.Path();
    if (!scratch_.Valid()) {
        const int error = errno;
        const std::string what = finalName.empty() ? dir : finalName;
        throw EFCreateError(Format("Cannot create file \"%s\". %s", what.c_str(), std::strerror(error)));
    }
    try {
        // Flushing to the disk is Finish's job, where a failure can still be reported.
        stream_ = std::make_unique<TLFNFileStream>(tempName_, fmCreate, false);
    } catch (...) {
        scratch_.Discard();
        throw;
    }
}

OutputFile::~OutputFile() {
    if (!committed_) Abort();
}

void OutputFile::Put(const void* data, size_t n) {
    if (n == 0) return;
    if (static_cast<uint64_t>(position_) + n > gSizeLimit) {
        throw EFileTooLarge(Format("The archive would grow beyond %llu bytes, more than the 32-bit sizes and "
                                   "offsets of a Zip archive can hold",
                                   static_cast<unsigned long long>(gSizeLimit)));
    }
    if (!stream_) throw ENotEnoughRoom("Not enough room to write archive");
    const int64_t written = stream_->Write(data, static_cast<int64_t>(n));
    if (written != static_cast<int64_t>(n)) throw ENotEnoughRoom("Not enough room to write archive");
    position_ += static_cast<int64_t>(n);
    if (position_ > size_) size_ = position_;
}

void OutputFile::SeekTo(int64_t position) {
    if (position == position_) return;
    if (!stream_ || !stream_->FlushBuffer()) throw ENotEnoughRoom("Not enough room to write archive");
    stream_->Seek(position, soFromBeginning);
    position_ = position;
}

int64_t OutputFile::Read(void* data, int64_t n) {
    if (!stream_ || !stream_->FlushBuffer()) throw ENotEnoughRoom("Not enough room to write archive");
    const int64_t got = stream_->Read(data, n);
    if (got > 0) position_ += got;
    return got;
}

void OutputFile::Finish() {
    if (finished_) return;
    finished_ = true;
    const bool ok = stream_ && stream_->Commit(true);
    try {
        stream_.reset();
    } catch (...) {
    }
    if (!ok) throw ENotEnoughRoom("Not enough room to write archive");
}

void OutputFile::Commit() {
    Finish();
    if (!fs::RenameFile(tempName_, finalName_)) {
        const int error = errno;
        throw EFCreateError(Format("Cannot create file \"%s\". %s", finalName_.c_str(), std::strerror(error)));
    }
    committed_ = true;
    scratch_.Release();
    SyncFolderOf(finalName_);
}

void OutputFile::Abort() noexcept {
    try {
        stream_.reset();
    } catch (...) {
    }
    finished_ = true;
    if (!committed_) scratch_.Discard();
}

}  // namespace archive::writer
