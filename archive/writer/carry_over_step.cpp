// The writer's side of a carry-over (see carry_over.h): at a file's turn, its candidate entry of the
// earlier archive is compared with the file as the file is read through the usual routine, so the
// progress moves through the file at the comparison's pace and the CRC is the file's own. Where every
// byte is equal, the entry's compressed data is written through the usual output routine (the message
// pump and a cancel request work as for compressed data); the headers are those of the file, with the
// method, option bits and text flag the same compressor gave the same bytes.
//
// Where anything differs, the file is read again from its start and compressed as always; the bytes
// the comparison showed already do not move the progress a second time (credited_).
//
// ArchiveHoldsFiles is the same comparison for every file of a Zip that is not run: whether a new
// archive would hold anything the earlier one does not.
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <unordered_set>
#include <utility>
#include <vector>

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/writer/carry_over.h"
#include "archive/writer/vcl_zip.h"

namespace archive {

std::string TVCLZip::StoredNameOf(const std::string& fname) const {
    const bool isFolder = !fname.empty() && fname.back() == '/';
    const StoredName name = DeriveStoredName(fname, settings_);
    TZipHeaderInfo entry;
    entry.SetFileName(isFolder ? std::string() : name.FileName);
    if (storePaths_) entry.SetDirectory(name.Directory);
    return entry.StoredName();
}

bool TVCLZip::CarryOver(TZipHeaderInfo& entry, uint16_t method) {
    if (!carrySource_ || !source_) return false;
    const TZipHeaderInfo* from = carrySource_->Candidate(entry.StoredName(), entry.UncompressedSize, method);
    if (!from) return false;

    const auto read = [this](uint8_t* buffer, size_t count) {
        size_t done = 0;
        while (done < count) {
            const unsigned n = ReadEntryData(buffer + done, static_cast<unsigned>(std::min<size_t>(count - done, UINT_MAX)));
            if (n == 0) break;
            done += n;
        }
        return done;
    };
    if (!carrySource_->SameBytes(*from, read, [this] { PumpMessages(); }, [this] { WaitingForWorkers(); })) {
        credited_ = std::max(credited_, entryRead_);
        entryRead_ = 0;
        crc_ = 0xFFFFFFFF;
        fetchFailed_ = false;
        source_->Seek(0, soFromBeginning);
        return false;
    }

    carrySource_->CopyData(*from, [this](const uint8_t* data, size_t n) { WriteArchiveData(data, n); });
    entry.Method = from->Method;
    if (method == 0) {
        entry.InternalAttributes = 0;  // as the stored path sets it
    } else {
        entry.Flags |= from->Flags & 0x0006;
        if (entry.InternalAttributes == 2) entry.InternalAttributes = from->InternalAttributes;
    }
    ++carried_;
    return true;
}

bool TVCLZip::ArchiveHoldsFiles(const std::string& archivePath) {
    if (busy_) throw Exception("A Zip operation is already running on this component");
    const std::unique_ptr<writer::CarryOverSource> archive =
        writer::CarryOverSource::OpenForComparison(archivePath, deflater_.Threads());
    if (!archive) return false;
    settings_ = Settings();
    std::vector<std::string> files = FilesList;
    if (!files.empty()) ExpandFilesList(files, settings_, ExpandHooks{});

    // First the names and sizes of every file, which cost nothing; then the bytes.
    std::vector<std::pair<std::string, const TZipHeaderInfo*>> compared;
    std::unordered_set<std::string> names;
    for (const std::string& fname : files) {
        const std::string stored = StoredNameOf(fname);
        // Without stored paths a folder has no name (Zip adds nothing); a name taken twice is skipped.
        if (stored.empty() || !names.insert(stored).second) continue;
        const TZipHeaderInfo* entry = archive->Find(stored);
        if (!entry) return false;
        if (fname.back() == '/') continue;
        struct stat st {};
        if (::stat(fs::Resolve(fname).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            static_cast<uint64_t>(st.st_size) != entry->UncompressedSize)
            return false;
        compared.emplace_back(fname, entry);
    }
    if (static_cast<int>(names.size()) != archive->Count()) return false;

    for (const auto& [fname, entry] : compared) {
        std::unique_ptr<TFileStream> file;
        try {
            file = std::make_unique<TFileStream>(fname, fmOpenRead | fmShareDenyWrite);
        } catch (const EFOpenError&) {
            return false;
        }
        const auto read = [&file](uint8_t* buffer, size_t count) {
            size_t done = 0;
            while (done < count) {
                const int64_t n = file->Read(buffer + done, static_cast<int64_t>(count - done));
                if (n <= 0) break;
                done += static_cast<size_t>(n);
            }
            return done;
        };
        try {
            if (!archive->SameBytes(*entry, read, [this] { PumpMessages(); }, [this] { WaitingForWorkers(); })) return false;
        } catch (const EReadError&) {
            return false;
        }
    }
    return true;
}

}  // namespace archive
