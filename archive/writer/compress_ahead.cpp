// Small files compressed ahead of their turn on the compressor's workers (see Deflater::CompressAhead).
//
// Before each file of FilesList, the files after it that the compressor would run on one thread (smaller
// than what it shares out itself) are read whole and handed to the workers, a few at a time and a few MiB
// at most. At a file's turn everything happens as before (events, opening, headers); only where its data
// would be compressed, the file is read again through the usual routine, and when those bytes are the
// ones compressed ahead, the worker's run is played back instead: the same progress, CRC, writes and
// result as compressing them here. A file that changed in between, failed to read, or whose job no
// worker has started yet is compressed as before, from its first byte.

#include <algorithm>
#include <cstring>

#include "archive/fs/file_io.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/select/file_list.h"
#include "archive/writer/carry_over.h"
#include "archive/writer/vcl_zip.h"

namespace archive {

namespace {

constexpr size_t kAheadBytes = size_t{4} << 20;  // input held ahead at most
constexpr size_t kAheadJobsPerWorker = 2;

// The whole file when it is a regular file of 1 to limit - 1 bytes that reads back at its size.
bool ReadSmallFile(const std::string& path, size_t limit, std::vector<uint8_t>& data) {
    // Only regular files are opened at all: opening a device or a FIFO may do something.
    const std::string resolved = fs::Resolve(path);
    const int fd = fs::OpenRegularFile(resolved);
    if (fd < 0) return false;
    const int64_t size = fs::SizeOfFile(fd);
    bool ok = size > 0 && static_cast<uint64_t>(size) < limit;
    if (ok) {
        data.resize(static_cast<size_t>(size) + 1);
        size_t done = 0;
        while (done < data.size()) {
            const int64_t n = fs::ReadSome(fd, data.data() + done, static_cast<int64_t>(data.size() - done));
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        ok = done == static_cast<size_t>(size);
        data.resize(done);
    }
    fs::CloseFile(fd);
    return ok;
}

}  // namespace

void TVCLZip::PlanAhead(size_t current) {
    const int level = std::clamp(PackLevel, 0, 9);
    const unsigned workers = deflater_.Threads();
    if (level == 0 || workers < 2) return;
    // Files passed without their turn's taking the job (skipped, refused) let go of it.
    for (auto it = ahead_.begin(); it != ahead_.end() && it->first < current;) it = ahead_.erase(it);
    size_t bytes = 0;
    for (const auto& [index, planned] : ahead_) bytes += codec::Deflater::AheadInput(*planned.job).size();
    const size_t limit = deflater_.AheadLimit();
    aheadNext_ = std::max(aheadNext_, current + 1);
    while (aheadNext_ < FilesList.size() && ahead_.size() < kAheadJobsPerWorker * workers && bytes < kAheadBytes) {
        const size_t index = aheadNext_++;
        const std::string& fname = FilesList[index];
        if (fname.empty() || fname.back() == '/') continue;
        if (IsNoCompress(DeriveStoredName(fname, settings_).FileName, NoCompressList)) continue;
        // A file its carry-over entry may stand for is compared at its turn, not compressed ahead.
        if (carrySource_ && carrySource_->Candidate(StoredNameOf(fname), static_cast<uint64_t>(fs::GetFileSize(fname).value_or(-1)), 8))
            continue;
        std::vector<uint8_t> data;
        if (!ReadSmallFile(fname, limit, data)) continue;
        bytes += data.size();
        ahead_[index] = Planned{fname, level, deflater_.CompressAhead(std::move(data), level)};
    }
}

bool TVCLZip::DeflateAhead(const std::string& fname, int level, codec::DeflateResult& result) {
    const auto it = ahead_.find(turn_);
    if (it == ahead_.end()) return false;
    const Planned planned = std::move(it->second);
    ahead_.erase(it);
    if (!deflater_.AwaitAhead(*planned.job, *this) || planned.fname != fname || planned.level != level) return false;

    // The file as read now, at its turn, must be what was compressed ahead.
    const std::vector<uint8_t>& input = codec::Deflater::AheadInput(*planned.job);
    std::vector<uint8_t> now(input.size() + 1);
    size_t n = 0;
    try {
        while (n < now.size()) {
            const size_t k = FetchEntryData(now.data() + n, now.size() - n);
            if (k == 0) break;
            n += k;
        }
    } catch (const EReadError&) {
        n = now.size();  // compressed as usual, which meets the failure where it stands
    }
    if (fetchFailed_ || n != input.size() || std::memcmp(now.data(), input.data(), n) != 0) {
        fetchFailed_ = false;
        source_->Seek(0, soFromBeginning);
        return false;
    }
    result = deflater_.ReplayAhead(*planned.job, *this);
    return true;
}

}  // namespace archive
