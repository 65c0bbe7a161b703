// Loading the central directory of TVCLUnZip: opening and refreshing the archive, the cache, locating the
// end record (or the .zfc companion that holds a copy of the directory), the incomplete-archive modes and
// the recovery scan, and the disk requests of multi-disk archives.
//
// Reading goes: end record -> central records (archive order) -> view. When the end record is missing,
// IncompleteZipMode decides: izAssumeMulti raises EIncompleteZip (ReadCentralDirectory swallows it),
// izAssumeNotAZip raises ENotAZipFile, izAssumeBad rebuilds the list from the local headers.
//
// Zip64 is not read: an end record with a Zip64 locator in front of it, or a central record that leaves
// a size, its offset or its disk to a Zip64 extra field, raises EUnsupportedArchive in every mode. The
// recovery scan would only make a wrong list of such an archive.
//
// Everything read from the file is bounded: the end record is searched in at most 65557 bytes, central
// records are read while the 16-bit count or the directory's size says there are more (each costs at
// least 46 bytes of file, and the list takes 65520 at most), names are 16-bit lengths, the recovery scan
// moves forward by at least one local header per entry and stops at the list's capacity, and every disk
// request either opens an existing file or ends with EUserCanceled.

#include <algorithm>
#include <unordered_map>
#include <vector>

#include "archive/fs/file_io.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/reader/entry_io.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/little_endian.h"

namespace archive {

namespace {

// A disk handler that keeps naming the same missing file can never succeed: after this many identical
// answers the request counts as cancelled instead of asking forever.
constexpr int kRepeatedDiskAnswers = 2;
// ReadCentralDirectory starts again after OnInCompleteZip only while the archive keeps changing; this
// caps even that.
constexpr int kIncompleteRetries = 100;
// The recovery scan lets the window breathe every so many bytes.
constexpr int64_t kScanPumpBytes = 10240;
// Entries one TSortedZip can hold.
constexpr int kMaxEntries = 65520;
constexpr const char* kZip64 = "This archive uses Zip64 records, which are not supported";
constexpr uint16_t kZip64ExtraId = 0x0001;

bool SameFile(int fd, const std::string& path) {
    const auto a = fs::StatusOfFile(fd);
    const auto b = fs::StatusOf(fs::Resolve(path));
    return a && b && fs::SameFile(*a, *b);
}

// Whether the central record just read from `dir` (which stands at its end) leaves a size, its offset or
// its disk to a Zip64 extra field: the field holds 0xFFFFFFFF (0xFFFF) and the extra field has the
// Zip64 block. The stream is left where it was.
bool LeavesFieldsToZip64(TStream& dir, const TZipHeaderInfo& entry) {
    if (entry.CompressedSize != UINT32_MAX && entry.UncompressedSize != UINT32_MAX &&
        entry.LocalHeaderOffset != UINT32_MAX && entry.DiskNumberStart != UINT16_MAX)
        return false;
    const int64_t end = dir.Position();
    const int64_t at = end - entry.CommentLength - entry.CentralExtraLength;
    std::vector<uint8_t> extra(entry.CentralExtraLength);
    bool zip64 = false;
    if (!extra.empty() && dir.Seek(at, soFromBeginning) == at &&
        dir.Read(extra.data(), static_cast<int64_t>(extra.size())) == static_cast<int64_t>(extra.size())) {
        for (size_t i = 0; i + 4 <= extra.size() && !zip64; i += 4 + GetU16(&extra[i + 2]))
            zip64 = GetU16(&extra[i]) == kZip64ExtraId;
    }
    dir.Seek(end, soFromBeginning);
    return zip64;
}

// Whether another central record starts at the stream's position, before `end`. The stream stays where
// it was.
bool MoreRecords(TStream& dir, int64_t end) {
    const int64_t at = dir.Position();
    uint8_t sig[4] = {};
    const bool more = at < end && dir.Read(sig, 4) == 4 && GetU32(sig) == kCentralHeaderSignature;
    dir.Seek(at, soFromBeginning);
    return more;
}

std::string UpperAscii(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

}  // namespace

TVCLUnZip::ArchiveStamp TVCLUnZip::CurrentStamp() const {
    // Full-resolution modification time and size: a rewrite within the same second (or the same
    // two-second MS-DOS tick) still shows.
    if (zipName_.empty()) return ArchiveStamp{};
    const auto status = fs::StatusOf(fs::Resolve(zipName_));
    if (!status) return ArchiveStamp{};
    return ArchiveStamp{status->modifiedNs, status->size};
}

void TVCLUnZip::ReadCentralDirectory() {
    for (int attempt = 0;; ++attempt) {
        host().SetBusyCursor(true);
        const ArchiveStamp before = CurrentStamp();
        try {
            OpenAndRefresh();
        } catch (const EIncompleteZip&) {
            host().SetBusyCursor(false);
            CloseZipFile(false);
            // With a handler the read is tried again, as the handler may have brought the rest of the
            // archive; but only while the file actually changed, or a handler that changes nothing would
            // keep us here for ever.
            if (OnInCompleteZip && attempt < kIncompleteRetries && !(CurrentStamp() == before)) continue;
            return;
        } catch (...) {
            ClearZip();
            host().SetBusyCursor(false);
            throw;
        }
        CloseZipFile(false);
        host().SetBusyCursor(false);
        return;
    }
}

void TVCLUnZip::OpenAndRefresh() {
    // An archive replaced under an open stream (the writer renames the new one into place) is read anew.
    if (zipStream_ && !SameFile(zipStream_->Handle(), zipName_)) zipStream_.reset();
    if (!zipStream_) {
        // A device or a FIFO is no archive, and reading one may never end (/dev/zero) or, for a FIFO, never
        // start: it is refused before it is opened.
        const auto status = fs::StatusOf(fs::Resolve(zipName_));
        if (status && !status->regular)
            throw EFOpenError(Format("Cannot open file \"%s\". Not a regular file", zipName_.c_str()));
        zipStream_ = std::make_unique<TLFNFileStream>(zipName_, fmOpenRead | fmShareDenyWrite, FlushFilesOnClose);
    }
    if (files_ && CurrentStamp() == zipStamp_) return;
    ReadZipDirectory();
}

void TVCLUnZip::NotifyIncomplete() {
    if (OnInCompleteZip) OnInCompleteZip(this, IncompleteZipMode);
}

void TVCLUnZip::RecoverOrFail() {
    if (!RecoveryScan()) {
        host().SetBusyCursor(false);
        ClearZip();
        throw EBadZipFile("Not a valid zip file!");
    }
}

void TVCLUnZip::ReadZipDirectory() {
    try {
        ReadZipDirectoryOnce();
    } catch (...) {
        // Half a directory must never pass for the cached one: the next call reads the archive again.
        DiscardDirectory();
        zipStamp_ = ArchiveStamp{};
        throw;
    }
}

void TVCLUnZip::ReadZipDirectoryOnce() {
    zipStamp_ = CurrentStamp();
    DiscardDirectory();
    recovery_ = false;
    lastDiskName_.clear();

    ecrec_.Clear();
    TStream* dir = zipStream_.get();
    std::unique_ptr<TLFNFileStream> companion;
    bool found = ecrec_.Locate(*zipStream_);
    if (!found) {
        // A multi-disk writer may have left a copy of the directory beside the archive.
        const std::string zfc = fs::ChangeFileExt(zipName_, ".zfc");
        if (fs::FileExists(zfc)) {
            try {
                companion = std::make_unique<TLFNFileStream>(zfc, fmOpenRead | fmShareDenyWrite);
            } catch (const EStreamError&) {
                companion.reset();
            }
            if (companion && ecrec_.Locate(*companion)) {
                found = true;
                dir = companion.get();
            } else {
                companion.reset();
                ecrec_.Clear();
            }
        }
    }

    // Its counts, size and offset may be placeholders for the Zip64 end record's: reading on would take
    // them for damage.
    if (found && ecrec_.Zip64Locator) throw EUnsupportedArchive(kZip64);

    if (!found) {
        NotifyIncomplete();
        switch (IncompleteZipMode) {
            case izAssumeNotAZip: throw ENotAZipFile("Not a valid zip file!");
            case izAssumeMulti: throw EIncompleteZip("Incomplete Zip File");
            case izAssumeBad: RecoverOrFail(); break;
        }
        dir = zipStream_.get();
    } else {
        curDisk_ = companion ? 0 : ecrec_.ThisDisk;
        // No removable drives here: a multi-disk archive is always a set of block files.
        multiMode_ = ecrec_.ThisDisk != 0 ? mmBlocks : mmNone;
        if (multiMode_ != mmNone) lastDiskName_ = zipName_;
    }

    if (!files_) files_ = std::make_unique<TSortedZip>();

    // A count of 0 with a directory of some size is read too: the count may have wrapped (below).
    if (ecrec_.TotalEntries != 0 || ecrec_.CentralSize != 0) {
        if (!recovery_ && multiMode_ != mmNone && !companion && ecrec_.CentralStartDisk != curDisk_) {
            RequestDisk(ecrec_.CentralStartDisk + 1);
            dir = zipStream_.get();
        }
        const int64_t start = companion ? 0 : int64_t{ecrec_.CentralOffset};
        uint8_t sig[4] = {};
        const bool atStart = dir->Seek(start, soFromBeginning) == start && dir->Read(sig, 4) == 4;
        if (atStart && GetU32(sig) == kCentralHeaderSignature && multiMode_ == mmNone && !companion &&
            dir->Handle() >= 0) {
            // One archive: its records are read by position through a window (a few reads for thousands of
            // records), and the stream is left where reading them left off, as if it had read them itself.
            reader::ArchiveWindow window(dir->Handle());
            TStream* records = &window;
            window.Seek(start, soFromBeginning);
            ReadCentralRecords(records, false);
            if (records == &window) dir->Seek(window.Position(), soFromBeginning);
        } else if (atStart && GetU32(sig) == kCentralHeaderSignature) {
            dir->Seek(start, soFromBeginning);
            ReadCentralRecords(dir, companion != nullptr);
        } else if (!recovery_) {
            NotifyIncomplete();
            if (IncompleteZipMode != izAssumeBad) throw EBadZipFile("Not a valid zip file!");
            companion.reset();
            RecoverOrFail();
            dir = zipStream_.get();
            // The local headers may be followed by the central directory after all (an archive with data
            // in front of it): let it complete the scanned entries.
            const int64_t end = ecrec_.CentralOffset;
            if (ecrec_.TotalEntries != 0 && dir->Seek(end, soFromBeginning) == end && dir->Read(sig, 4) == 4 &&
                GetU32(sig) == kCentralHeaderSignature) {
                dir->Seek(end, soFromBeginning);
                ReadCentralRecords(dir, false);
            }
        }
        // In recovery mode a missing central directory is simply the normal case: the scan's list stands.
    }

    if (!recovery_ && ecrec_.CommentLength != 0 && (multiMode_ != mmNone || companion)) {
        // The comment is read now: the last disk may not be at hand later, and a companion's positions
        // mean nothing in the archive itself.
        if (!companion && curDisk_ != ecrec_.ThisDisk) {
            RequestDisk(ecrec_.ThisDisk + 1);
            dir = zipStream_.get();
        }
        std::string comment(ecrec_.CommentLength, '\0');
        int64_t got = 0;
        if (dir->Seek(ecrec_.CommentPosition, soFromBeginning) == int64_t{ecrec_.CommentPosition})
            got = std::max<int64_t>(0, dir->Read(comment.data(), ecrec_.CommentLength));
        comment.resize(static_cast<size_t>(got));
        ecrec_.SetLoadedComment(std::move(comment));
    }

    numDisks_ = ecrec_.ThisDisk + 1;
    curDisk_ = companion ? 0 : ecrec_.ThisDisk;
    if (recovery_) curDisk_ = 0;
    RebuildView();
}

void TVCLUnZip::ReadCentralRecords(TStream*& dir, bool companion) {
    // In recovery mode the scanned entries are completed by name.
    std::unordered_map<std::string, TZipHeaderInfo*> byName;
    if (recovery_)
        for (int i = 0; i < files_->Count(); ++i) byName.emplace(files_->Items(i)->StoredName(), files_->Items(i));

    NextDiskFn nextDisk;
    if (multiMode_ != mmNone && !recovery_ && !companion) {
        nextDisk = [this]() -> TStream* {
            RequestDisk(curDisk_ + 2);
            return zipStream_.get();
        };
    }
    // The count at offset 10 of the end record (all disks), not the per-disk one; in recovery mode
    // whatever central records follow the scanned data.
    const int total = recovery_ ? 65535 : ecrec_.TotalEntries;
    // A writer without Zip64 records keeps only the low 16 bits of a count above 65535: the directory then
    // goes on past the counted records. Records that still start inside the directory's size are read
    // too, in one file (the positions of a multi-disk directory are per disk).
    const bool mayGoOn = !recovery_ && multiMode_ == mmNone;
    const int64_t directoryEnd = (companion ? 0 : int64_t{ecrec_.CentralOffset}) + ecrec_.CentralSize;
    int read = 0;
    for (int i = 0; i < total || (mayGoOn && MoreRecords(*dir, directoryEnd)); ++i) {
        auto entry = std::make_unique<TZipHeaderInfo>();
        if (!entry->ReadCentral(dir, nextDisk)) {
            if (recovery_) return;
            NotifyIncomplete();
            if (IncompleteZipMode != izAssumeBad) throw EBadZipFile("Not a valid zip file!");
            RecoverOrFail();
            dir = zipStream_.get();
            return;
        }
        ++read;
        if (LeavesFieldsToZip64(*dir, *entry)) throw EUnsupportedArchive(kZip64);
        if ((multiMode_ != mmNone || companion) && entry->CommentLength != 0) {
            // Read at once: the comment's disk (or the companion) is not at hand later.
            const int64_t end = dir->Position();
            const int64_t at = end - entry->CommentLength;
            std::string comment(entry->CommentLength, '\0');
            int64_t got = 0;
            if (dir->Seek(at, soFromBeginning) == at) got = std::max<int64_t>(0, dir->Read(comment.data(), entry->CommentLength));
            comment.resize(static_cast<size_t>(got));
            const uint16_t length = entry->CommentLength;
            entry->SetComment(std::move(comment));
            entry->CommentLength = length;
            dir->Seek(end, soFromBeginning);
        }
        if (recovery_) {
            auto it = byName.find(entry->StoredName());
            if (it == byName.end()) continue;  // a central record without a scanned entry is dropped
            TZipHeaderInfo& scanned = *it->second;
            const uint32_t offset = scanned.LocalHeaderOffset;
            const uint16_t disk = scanned.DiskNumberStart;
            const uint16_t localExtra = scanned.LocalExtraLength;
            scanned.Assign(*entry);
            // What the scan found on disk stays: where the header is, and (for the list's order) its disk.
            scanned.LocalHeaderOffset = offset;
            scanned.DiskNumberStart = disk;
            scanned.LocalExtraLength = localExtra;
            continue;
        }
        if (files_->Count() >= kMaxEntries) throw EListError("The archive holds more than 65520 entries");
        // A second record naming the same local header is dropped from the list, and remembered: the
        // entry there is refused when it is tested or extracted.
        if (files_->Add(entry.get()) >= 0) entry.release();
        else sharedOffsets_.insert(int64_t{entry->DiskNumberStart} << 32 | entry->LocalHeaderOffset);
    }
    // Records beyond the count are only right when the count wrapped, that is past 65535 entries, and then
    // the list (65520 at most) has refused the archive above. Any other difference is a directory that
    // does not agree with its end record: no list of it can be trusted whole.
    if (!recovery_ && read != total)
        throw EBadZipFile(Format("The central directory holds %d entries, but its end record counts %d", read, total));
}

bool TVCLUnZip::RecoveryScan() {
    recovery_ = true;
    DiscardDirectory();
    TStream& s = *zipStream_;
    const int64_t size = s.Size();
    int64_t pos = UpperAscii(fs::ExtractFileExt(zipName_)) == ".EXE" ? 14000 : 0;

    // Find "PK\3\4" followed by a version-needed field whose upper byte is below 10.
    std::vector<uint8_t> chunk(65536);
    int64_t found = -1;
    int64_t sincePump = 0;
    while (found < 0 && pos + 6 <= size) {
        const int64_t want = std::min<int64_t>(static_cast<int64_t>(chunk.size()), size - pos);
        if (s.Seek(pos, soFromBeginning) != pos) break;
        const int64_t got = s.Read(chunk.data(), want);
        if (got < 6) break;
        const int64_t last = got - 6;  // candidates need the signature and the two version bytes
        for (int64_t j = 0; j <= last; ++j) {
            if (chunk[j] == 'P' && GetU32(&chunk[j]) == kLocalHeaderSignature && chunk[j + 5] < 10) {
                found = pos + j;
                break;
            }
        }
        sincePump += last + 1;
        if (DoProcessMessages && sincePump >= kScanPumpBytes) {
            host().ProcessMessages();
            sincePump = 0;
        }
        pos += last + 1;
    }
    if (found < 0) return false;

    files_ = std::make_unique<TSortedZip>();
    int64_t next = found;
    s.Seek(next, soFromBeginning);
    while (files_->Count() < kMaxEntries && next <= int64_t{UINT32_MAX}) {
        auto entry = std::make_unique<TZipHeaderInfo>();
        if (!entry->ReadLocal(s)) break;
        next = int64_t{entry->LocalHeaderOffset} + kLocalHeaderSize + entry->FileNameLength +
               entry->LocalExtraLength + entry->CompressedSize + (entry->HasDataDescriptor() ? 16 : 0);
        if (files_->Add(entry.get()) < 0) break;
        entry.release();
        if (next > size) break;
        s.Seek(next, soFromBeginning);
    }

    ecrec_.ThisDisk = 0;
    ecrec_.CentralOffset = static_cast<uint32_t>(std::min<int64_t>(next, UINT32_MAX));
    ecrec_.TotalEntries = static_cast<uint16_t>(files_->Count());
    curDisk_ = 0;
    numDisks_ = 1;
    multiMode_ = mmNone;
    return true;
}

void TVCLUnZip::RequestDisk(int n) {
    zipStream_.reset();
    std::string fname = zipName_;
    std::string previous;
    int repeats = 0;
    for (;;) {
        if (OnGetNextDisk) OnGetNextDisk(this, n, fname);
        if (fname.empty()) throw EUserCanceled("User canceled loading new disk.");
        if (fs::FileExists(fname)) break;
        // The last disk is the file the directory was read from, whatever the handler thinks it is called
        // (a block set X.001, X.002, ..., X.zip).
        if (n == ecrec_.ThisDisk + 1 && !lastDiskName_.empty() && fs::FileExists(lastDiskName_)) {
            fname = lastDiskName_;
            break;
        }
        repeats = fname == previous ? repeats + 1 : 0;
        if (repeats + 1 >= kRepeatedDiskAnswers) throw EUserCanceled("User canceled loading new disk.");
        previous = fname;
    }
    zipStream_ = std::make_unique<TLFNFileStream>(fname, fmOpenRead);
    curDisk_ = n - 1;
    zipName_ = fname;
    zipStamp_ = CurrentStamp();
}

void TVCLUnZip::BuiltInGetNextDisk(TVCLUnZip* Sender, int NextDisk, std::string& FName) {
    if (Sender->MultiMode() == mmSpan) {
        Host& host = Sender->host();
        host.SetBusyCursor(false);
        const Answer answer = host.MessageBox(
            "", "Please insert disk " + std::to_string(NextDisk) + " of the multi-disk set.", Buttons::OkCancel);
        if (answer == Answer::Cancel) FName.clear();
        host.SetBusyCursor(true);
        return;
    }
    FName = fs::ChangeFileExt(FName, Format(".%3.3d", NextDisk));
}

}  // namespace archive
