// UnZip: writing the selected entries of the loaded directory to disk (and TestArchive, the same run with
// nothing written).
//
// One call: open and refresh the directory; select entries (match flags, counts, total bytes); raise
// OnStartUnZipInfo; then per entry: destination path, OnStartUnZip, folder, password check, overwrite
// rule, output file, decompression through the input and output steps, CRC and size check, date and
// attributes, OnEndUnZip. At the end, in every case: FilesList is emptied and OnUnZipComplete reports the
// count.
//
// An entry is decoded into a scratch file (fs/scratch.h) created beside its target and renamed over the
// target only once its CRC and its size matched: a bad entry, an undecodable one, a truncated archive or
// any exception leaves the previous file exactly as it was, and no scratch file behind. The run's scratch
// files are one ScratchRun, named after one locked and marked file per folder, so that none needs a lock
// or a mark of its own: a small entry costs the look at its target, its file's creation, one write, its
// time (and attributes), the rename and the close; a kill leaves only scratch files the sweep takes. A
// read-only target is still refused (skip reason 3) unless ReplaceReadOnly, as creating the file in its
// place would have been, and so is a name longer than the file system takes (with its reason in
// SkipDetail).
//
// An entry of a method we do not decode (BZip2, LZMA, AES encryption, ...) is not damaged: after the
// "Unknown Compression Method" box it is skip reason 3 with the method named in SkipDetail, before any
// password is asked for or any folder made.
//
// Nothing is written outside DestDir. A stored name is judged after all of its transformations
// (destination.h); a refused one is skip reason 3, in a test as in an extraction. The folders below
// DestDir are made and entered without following symbolic links (fs::FolderBeneath): an entry whose
// folder is a link leading out of DestDir is skip reason 3 too. The walk hands its last folder back held
// open, and the scratch file is made, given its times and attributes, renamed over its target and
// removed through that descriptor and its own, never through a path: a folder swapped for a link after
// the walk cannot send the file elsewhere. (A name the caller chose in OnStartUnZip is the caller's:
// its folder is taken as its path leads.) Consecutive entries of one folder share the folder held for
// the first of them. Before any entry is decoded, every
// entry's local header and data must lie apart from every other's and before the central directory:
// an entry whose data reaches into another's is refused, skip reason 3 (one Deflate stream shared by
// many entries would make a small archive extract to gigabytes); the other entries still come out. An entry that decodes to another length than it declares is
// damaged, with its CRC right or not.
//
// With AllOrNothing the renames wait until every selected entry has been staged this way: only when all
// of them proved whole are they renamed over their targets (in archive order), and OnEndUnZip follows for
// each once all are in place; when any of them failed, every staged file goes and no target changes.
// Before the first rename each target is looked at again (a folder, or a read-only file without
// ReplaceReadOnly, refuses the whole part then), and each file about to be replaced is kept under a
// second name, a scratch name in its folder (a hard link: the original itself is only ever replaced by
// a rename). Should a rename still fail, the kept files are renamed back over their targets, the new
// files that had no predecessor are removed, and every staged entry is told as skipped, so that no
// caller reports a file as left alone that was replaced. A process killed half-way leaves each file
// whole, old or new, and the kept names as scratch files for the next sweep.
//
// A single archive is read by position through a window (reader::ArchiveWindow): the headers and data of
// many small entries come with one read.
//
// With more than one decompression thread, worker threads decode the next few plain entries (deflated or
// stored, not encrypted, of a single archive, apart from every other entry, larger than one input block:
// a smaller one is decoded here, quicker than handed over and taken back) while this thread works
// through the current one (decode_ahead.h). Everything else stays here, at the entry's turn: the
// events, the checks before decoding, the scratch file and its rename; the worker's decoding is
// replayed into them step by step, so the events, files and failures are those of the one-thread run.
#include <climits>

#include <algorithm>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "archive/ascii_fold.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "archive/reader/decode_ahead.h"
#include "archive/reader/destination.h"
#include "archive/reader/entry_io.h"
#include "archive/reader/extraction.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/little_endian.h"
#include "archive/records/local_header.h"
#include "archive/records/zip_header_info.h"
#include "archive/select/wildcard.h"

namespace archive {

using reader::AheadInputs;
using reader::ArchiveInput;
using reader::EntryDecode;
using reader::EntryOutput;
using reader::kBlockSize;
using namespace reader::extraction;



// ---- selection ----------------------------------------------------------------------------------------

void TVCLUnZip::Extraction::Select() {
    TSortedZip* view = z.View();
    const int count = view ? view->Count() : 0;
    numFiles = count;
    totalBytes = 0;
    totalOut = 0;
    for (int i = 0; i < count; ++i) {
        TZipHeaderInfo& entry = *view->Items(i);
        entry.MatchFlag = z.DoAll;
        const bool folderEntry = entry.FileName().empty();
        if (folderEntry && !z.RecreateDirs) {
            entry.MatchFlag = false;
        } else if (!z.DoAll) {
            // Both sides lowered; the text is the whole stored path, so "*" crosses folders.
            const std::string text = entry.StoredName();
            for (const std::string& pattern : z.FilesList) {
                if (pattern == "*" || WildcardMatch(pattern, text)) {
                    entry.MatchFlag = true;
                    break;
                }
            }
        }
        if (entry.MatchFlag && !folderEntry) totalBytes += entry.UncompressedSize;
        else --numFiles;
    }
}

// ---- one entry ----------------------------------------------------------------------------------------

TStream* TVCLUnZip::Extraction::NextDisk() {
    if (z.curDisk_ + 1 >= z.numDisks_) throw EFatalUnzipError("Premature end of file reached");
    z.RequestDisk(z.curDisk_ + 2);
    return z.zipStream_.get();  // a multi-disk set is read through its stream
}

void TVCLUnZip::Extraction::ReadArchive(uint8_t* data, size_t n) {
    int64_t got = std::max<int64_t>(0, Source()->Read(data, static_cast<int64_t>(n)));
    while (static_cast<size_t>(got) < n) {
        if (z.multiMode_ == mmNone) throw EFatalUnzipError("Premature end of file reached");
        const int64_t more = NextDisk()->Read(data + got, static_cast<int64_t>(n) - got);
        if (more > 0) got += more;
    }
}

bool TVCLUnZip::Extraction::ReadLocalHeader(const TZipHeaderInfo& entry) {
    if (z.multiMode_ != mmNone && entry.DiskNumberStart != z.curDisk_) z.RequestDisk(entry.DiskNumberStart + 1);
    const int64_t at = entry.LocalHeaderOffset;
    if (Source()->Seek(at, soFromBeginning) != at) throw EFatalUnzipError("Premature end of file reached");
    uint8_t local[kLocalHeaderSize];
    ReadArchive(local, sizeof local);
    // The signature is not verified: the central record is what the entry is, the local header only
    // says how far its name and extra field reach.
    const LocalHeader header = ParseLocalHeader(local);
    localTime = header.dosTime;
    // Counted from where the reading stands: a header may end on the next disk of a set.
    dataStart = Source()->Position() + header.nameLength + header.extraLength;
    return true;
}

void TVCLUnZip::Extraction::Skip(TSkipReason reason, const std::string& fname, int index, uint32_t size,
                                 TRefusal kind) {
    // Declining to overwrite is the caller's choice; every other reason is a file that could not be done.
    if (reason != skNotOverwritten) spoiled = true;
    if (reason == skBadPassword) kind = TRefusal::Password;
    bool retry = false;  // passed, never acted on
    z.skipKind_ = kind;
    if (z.OnSkippingFile) z.OnSkippingFile(&z, reason, fname, index, retry);
    z.skipKind_ = TRefusal::None;
    totalBytes -= size;
    --numFiles;
}

bool TVCLUnZip::Extraction::PasswordAccepted(int index) {
    TZipHeaderInfo& work = z.work_;
    // Strong encryption is not ours to decode: it can only be refused, like a wrong password.
    if (work.Flags & kStrongEncryptionFlag) return false;
    // An entry too short for its own encryption header is damaged: no password can help.
    if (work.CompressedSize < kCryptHeaderSize) return false;
    // With a data descriptor the CRC was not known when the header was made: the time stands in for it.
    const uint8_t check = work.HasDataDescriptor() ? static_cast<uint8_t>(localTime >> 8)
                                                   : static_cast<uint8_t>(work.Crc32 >> 24);
    for (;;) {
        const std::string tried = z.Password;
        uint8_t header[kCryptHeaderSize];
        Source()->Seek(dataStart, soFromBeginning);
        ReadArchive(header, sizeof header);
        z.cipher_.Init(z.Password);
        z.cipher_.Decrypt(header, sizeof header);
        if (header[kCryptHeaderSize - 1] == check) return true;
        if (!z.OnBadPassword) return false;
        std::string answer = tried;
        z.OnBadPassword(&z, index, answer);
        if (answer == tried) return false;
        z.Password = answer;
    }
}

bool TVCLUnZip::Extraction::OverwriteAllowed(int index, std::string& fname, bool exists) {
    if (z.OverwriteMode == Always || !exists) return true;
    const TZipHeaderInfo& work = z.work_;
    auto fileTime = [&]() {
        TDateTime value = 0;
        const auto dos = fs::GetFileDosTime(fname);
        if (!dos || !DosToDateTime(*dos, value)) value = 0;
        return value;
    };
    TDateTime entryTime = 0;
    if (!DosToDateTime(work.DateTime, entryTime)) entryTime = 0;
    switch (z.OverwriteMode) {
        case Prompt: {
            if (z.OnPromptForOverwrite) {
                bool overwrite = false;
                z.OnPromptForOverwrite(&z, overwrite, index, fname);
                return overwrite;
            }
            return z.host().MessageBox("File Exists Alert", "Replace existing file " + work.FileName() + "?",
                                       Buttons::YesNo) == Answer::Yes;
        }
        case Never: return false;
        case ifNewer: return entryTime > fileTime();
        case ifOlder: return entryTime < fileTime();
        case Always: return true;
    }
    return true;
}


// ---- decoding ahead -----------------------------------------------------------------------------------

bool TVCLUnZip::Extraction::AheadCandidate(const TZipHeaderInfo& entry) const {
    // Encrypted entries wait for their password at their turn; other methods are rare enough to stay here.
    if (entry.FileName().empty() || entry.IsEncrypted() || (entry.Flags & kStrongEncryptionFlag)) return false;
    if (entry.Method != 0 && entry.Method != 8) return false;
    // An entry of one input block and one output step leaves nothing to overlap: handing it to a worker
    // and taking it back costs more than decoding it here.
    return entry.CompressedSize > kBlockSize || entry.UncompressedSize > kBlockSize;
}

bool TVCLUnZip::Extraction::AheadEligible(const TZipHeaderInfo& entry, AheadInputs& inputs) {
    if (!reader::UsableFolder(z.rootDir_, entry.Directory(), entry.FileName())) return false;
    uint8_t local[kLocalHeaderSize];
    if (!ahead->ReadAt(entry.LocalHeaderOffset, local, sizeof local)) return false;
    const int64_t start = int64_t{entry.LocalHeaderOffset} + ParseLocalHeader(local).DataOffset();
    // An entry that will be refused is not worth decoding (and may be a bomb's).
    if (Overlaps(entry, start)) return false;
    inputs = {start, entry.CompressedSize, entry.UncompressedSize, entry.Method, entry.Flags};
    return true;
}

void TVCLUnZip::Extraction::DecodeAheadFrom(int from) {
    if (!ahead) return;
    aheadNext = std::max(aheadNext, from);
    TSortedZip* view = z.View();
    for (; aheadNext < view->Count(); ++aheadNext) {
        const TZipHeaderInfo& entry = *view->Items(aheadNext);
        if (!z.DoAll && !entry.MatchFlag) continue;
        if (!AheadCandidate(entry)) continue;
        if (!ahead->HasRoom(entry.UncompressedSize)) return;  // looked at again once a job is done
        AheadInputs inputs;
        if (!AheadEligible(entry, inputs)) continue;
        try {
            ahead->Start(aheadNext, inputs);
        } catch (const std::exception&) {
            // No worker or no memory for one: the remaining entries are decoded here, as with one thread.
            aheadNext = view->Count();
            return;
        }
    }
}

EntryDecode TVCLUnZip::Extraction::Decode(int index, bool encrypted, uint32_t compressed, EntryOutput& output,
                                          uint32_t& crc, uint64_t& bytes) {
    const TZipHeaderInfo& work = z.work_;
    if (ahead && !encrypted) {
        // The job counts only when it was made from what the headers say now.
        const AheadInputs inputs{dataStart, work.CompressedSize, work.UncompressedSize, work.Method, work.Flags};
        if (const auto job = ahead->Take(index, inputs)) {
            DecodeAheadFrom(index + 1);  // its place goes to a later entry
            std::function<void()> pump;
            if (z.DoProcessMessages) pump = [this] { z.host().ProcessMessages(); };
            EntryDecode result = EntryDecode::Ok;
            if (ahead->Replay(*job, output, pump, result, crc, bytes)) return result;
        }
    }
    const uint32_t cryptHeader = encrypted ? kCryptHeaderSize : 0;
    Source()->Seek(dataStart + cryptHeader, soFromBeginning);
    ArchiveInput input(inBuffer.data());
    input.Start(Source(), compressed, encrypted ? &z.cipher_ : nullptr);
    if (z.DoProcessMessages) input.Pump = [this] { z.host().ProcessMessages(); };
    if (z.multiMode_ != mmNone) input.NextDisk = [this] { return NextDisk(); };
    EntryDecode result = EntryDecode::Ok;
    try {
        result = reader::DecodeEntry(work.Method, work.Flags, compressed, work.UncompressedSize, *workspace, input,
                                     output);
    } catch (...) {
        crc = output.Crc();
        bytes = output.BytesWritten();
        throw;
    }
    crc = output.Crc();
    bytes = output.BytesWritten();
    return result;
}

// ---- refusals and renames -----------------------------------------------------------------------------

void TVCLUnZip::Extraction::Refuse(TRefusal kind, const std::string& why, const std::string& fname, int index,
                                   bool folderEntry) {
    z.skipDetail_ = why;
    if (folderEntry) {
        spoiled = true;
        bool ignored = false;
        z.skipKind_ = kind;
        if (z.OnSkippingFile) z.OnSkippingFile(&z, skCreateFailed, fname, index, ignored);
        z.skipKind_ = TRefusal::None;
    } else {
        Skip(skCreateFailed, fname, index, z.View()->Items(index)->UncompressedSize, kind);
    }
    z.skipDetail_.clear();
}

void TVCLUnZip::Extraction::CheckSpans() {
    // Spans are only comparable within one file: a multi-disk set is left to its per-disk reads.
    if (z.multiMode_ != mmNone || !z.files_) return;
    headerOffsets.reserve(static_cast<size_t>(z.files_->Count()) + 1);
    for (int i = 0; i < z.files_->Count(); ++i) headerOffsets.push_back(z.files_->Items(i)->LocalHeaderOffset);
    // A scanned archive has no directory of its own to run into.
    if (!z.recovery_) headerOffsets.push_back(z.ecrec_.CentralOffset);
    std::sort(headerOffsets.begin(), headerOffsets.end());
    archiveSize = z.zipStream_->Size();
}

bool TVCLUnZip::Extraction::Overlaps(const TZipHeaderInfo& entry, int64_t start) const {
    if (z.sharedOffsets_.count(int64_t{entry.DiskNumberStart} << 32 | entry.LocalHeaderOffset)) return true;
    if (headerOffsets.empty()) return false;
    // The data ends where the next header (or the directory) starts at the latest. Data that runs
    // past the end of the file is merely cut short, and reading it says so.
    const int64_t end = start + entry.CompressedSize;
    const auto next = std::upper_bound(headerOffsets.begin(), headerOffsets.end(), int64_t{entry.LocalHeaderOffset});
    return next != headerOffsets.end() && end > *next && end <= archiveSize;
}

bool TVCLUnZip::Extraction::PutInPlace(StagedEntry& entry) {
    if (!entry.scratch.PutInPlace(entry.target)) {
        entry.scratch.Discard();
        Skip(skCreateFailed, entry.fname, entry.index, z.View()->Items(entry.index)->UncompressedSize,
             TRefusal::NotPlaced);
        return false;
    }
    return true;
}

void TVCLUnZip::Extraction::Finish(StagedEntry& entry) {
    if (entry.readOnly) fs::SetAttributesOf(entry.scratch.Handle(), entry.target, entry.attributes);
    entry.scratch.Release();
}

void TVCLUnZip::Extraction::CommitStaged() {
    std::vector<StagedEntry> entries = std::move(staged);
    if (spoiled) return;  // the staged files go with `entries`; every target stays as it was
    const size_t n = entries.size();
    std::vector<fs::ScratchFile> kept(n);  // the files about to be replaced, under a second name
    size_t failed = n;                     // the entry that could not be put in place
    const char* why = kNotPlaced;
    TRefusal kind = TRefusal::NotPlaced;

    // Before the first rename: whatever can still refuse the part refuses it now. Two entries may name
    // one file (in two cases, say): the later one replaces the earlier one's file, as it would one
    // rename after the other, and the file that was there is kept once.
    std::map<std::tuple<uint64_t, uint64_t, std::string>, size_t> named;  // folder, folded name -> entry
    for (size_t i = 0; i < n && failed == n; ++i) {
        StagedEntry& entry = entries[i];
        const fs::HeldFolder::Item there = entry.folder.Find(entry.target);
        const auto [device, inode] = entry.folder.Identity();
        const auto [earlier, first] = named.try_emplace({device, inode, FoldedAscii(there.name)}, i);
        if (!first && (!there.exists || entries[earlier->second].target == there.name)) {
            entry.target = entries[earlier->second].target;
            continue;
        }
        if (there.folder || (there.readOnly && !z.ReplaceReadOnly)) {
            failed = i;
            why = "";  // told as when the entry was judged
            kind = there.folder ? TRefusal::FolderInTheWay : TRefusal::ReadOnlyTarget;
            break;
        }
        entry.target = there.name;
        if (there.exists) {
            kept[i] = fs::ScratchFile::Keep(entry.folder, there.name);
            if (!kept[i].Valid()) failed = i;
        }
    }
    size_t placed = 0;  // entries renamed over their targets
    while (failed == n && placed < n) {
        if (entries[placed].scratch.PutInPlace(entries[placed].target)) ++placed;
        else failed = placed;
    }

    if (failed == n) {
        for (size_t i = 0; i < n; ++i) {
            Finish(entries[i]);
            kept[i].Discard();  // the replaced file, now under its second name only
            if (z.OnEndUnZip) z.OnEndUnZip(&z, entries[i].index, entries[i].fname);
            ++written;
        }
        return;
    }

    // Put back what was replaced, the last first. An entry that cannot be undone is in place: it is told
    // as written, so that the report stays true.
    std::vector<bool> stays(n, false);
    for (size_t i = placed; i-- > 0;) {
        const bool undone = kept[i].Valid() ? kept[i].PutInPlace(entries[i].target) : entries[i].scratch.Withdraw();
        if (undone) kept[i].Release();
        stays[i] = !undone;
    }
    for (size_t i = 0; i < n; ++i) {
        kept[i].Discard();
        if (stays[i]) {
            Finish(entries[i]);
            if (z.OnEndUnZip) z.OnEndUnZip(&z, entries[i].index, entries[i].fname);
            ++written;
        } else {
            Refuse(i == failed ? kind : TRefusal::PartUndone, i == failed ? why : kPartUndone, entries[i].fname,
                   entries[i].index, false);
        }
    }
}

// ---- the call -----------------------------------------------------------------------------------------

int TVCLUnZip::UnZip() { return RunExtraction(false); }

int TVCLUnZip::TestArchive() { return RunExtraction(true); }

int TVCLUnZip::RunExtraction(bool testOnly) {
    if (!testOnly && destDir_ == "?") {
        FilesList.clear();
        return 0;
    }
    try {
        OpenAndRefresh();
    } catch (...) {
        FilesList.clear();
        if (zipStream_) CloseZipFile(false);
        throw;
    }

    const bool savedKeepOpen = KeepZipOpen;
    KeepZipOpen = true;
    // A multi-disk set is worked through disk by disk, whatever order the view shows.
    std::unique_ptr<TSortedZip> savedView;
    if (ecrec_.ThisDisk != 0 && sortedFiles_) savedView = std::move(sortedFiles_);

    auto run = std::make_unique<Extraction>(*this, testOnly);
    auto finish = [&] {
        const int count = run->written;
        run.reset();  // the working buffers go
        FilesList.clear();
        if (savedView) sortedFiles_ = std::move(savedView);
        KeepZipOpen = savedKeepOpen;
        try {
            if (OnUnZipComplete) OnUnZipComplete(this, count);
        } catch (...) {
            CloseZipFile(false);
            throw;
        }
        CloseZipFile(false);
        return count;
    };

    // One extraction lists each destination folder once (many new names in one folder stay linear).
    fs::FolderListingCache listings;
    try {
        // A single archive is read by position, never moving its stream: one read serves many small entries.
        if (multiMode_ == mmNone && zipStream_ && zipStream_->Handle() >= 0)
            run->window = std::make_unique<reader::ArchiveWindow>(zipStream_->Handle());
        run->CheckSpans();
        // Workers decode entries ahead; a multi-disk set is read disk by disk on this thread.
        const unsigned threads = DecompressionThreads();
        if (threads > 1 && multiMode_ == mmNone && zipStream_ && zipStream_->Handle() >= 0) {
            run->ahead = std::make_unique<reader::DecodeAhead>(zipStream_->Handle(), threads, !testOnly);
            if (!run->ahead->Usable()) run->ahead.reset();
        }
        if (!testOnly && !destDir_.empty() && !fs::DirectoryExists(destDir_)) fs::ForceDirectories(destDir_);
        if (!testOnly) fs::FolderBeneath(destDir_, "", false, run->root);
        run->Select();
        bool stop = false;
        if (OnStartUnZipInfo) OnStartUnZipInfo(this, run->numFiles, run->totalBytes, stop);
        if (run->numFiles > 0 && !stop) {
            TSortedZip* view = View();
            for (int i = 0; i < view->Count(); ++i) {
                if (!DoAll && !view->Items(i)->MatchFlag) continue;
                run->DecodeAheadFrom(i);
                bool retry = false;
                do run->Process(i, retry);
                while (retry);
                if (run->ahead) run->ahead->Drop(i);  // skipped or refused: its decoding is not needed
            }
            run->CommitStaged();
        }
    } catch (...) {
        finish();
        throw;
    }
    return finish();
}

}  // namespace archive
