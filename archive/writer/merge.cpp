// Rebuilding an existing archive: every entry of the old archive, in archive order, is either carried
// over unchanged or replaced in its place by the listed file of the same stored name.
//
// Matching: the first position of FilesList whose stored name equals the entry's, ignoring A-Z case.
// zaReplace always replaces; zaUpdate and zaFreshen replace only when the file is newer than the entry
// (OnUpdate reports 0 before a replacement, 1 when the entry stays and the file is dropped from the list).
// Listed files that matched no entry are added afterwards, behind all old entries.
//
// Carrying over copies the old local extra field and data byte for byte behind a local header written
// from the entry; only the offset changes. The name list refuses duplicates, so an old archive holding two
// entries of the same name (ignoring case) fails with "Duplicate Object index" while the old file is left
// alone.
//
// Two things beyond the plain steps, both to lose nothing: when a replacement cannot be made (the file is
// gone, cannot be opened, or OnStartZip skips it) the old entry is carried over instead of disappearing;
// and a carried-over entry loses general-purpose bit 3, because its local header now holds CRC and sizes
// and no data descriptor follows the copied data.
#include <algorithm>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/ascii_fold.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/records/date_time.h"
#include "archive/records/little_endian.h"
#include "archive/records/local_header.h"
#include "archive/writer/vcl_zip.h"

namespace archive {

namespace {

constexpr int64_t kCopyPiece = 65536;


TDateTime DateOrNow(uint32_t dos) {
    TDateTime value = 0;
    return DosToDateTime(dos, value) ? value : Now();
}

}  // namespace

void TVCLZip::MergeExisting() {
    if (!files_ || files_->Count() == 0) return;
    if (numDisks_ > 1) throw Exception("A multi-volume archive cannot be rebuilt: \"" + zipName_ + "\"");

    // Stored names of the listed files, each computed once; positions ascending per name.
    std::unordered_map<std::string, std::vector<size_t>> positions;
    for (size_t j = 0; j < FilesList.size(); ++j) {
        const StoredName name = DeriveStoredName(FilesList[j], settings_);
        positions[FoldedAscii(name.Directory + name.FileName)].push_back(j);
    }
    std::vector<bool> taken(FilesList.size(), false);

    const int count = files_->Count();
    for (int i = 0; i < count; ++i) {
        TZipHeaderInfo* old = files_->Items(i);
        if (old->State == 2) continue;
        if (old->HasComment() && !old->Comment()) LoadEntryComment(*old);
        auto entry = std::make_unique<TZipHeaderInfo>(*old);

        size_t j = FilesList.size();
        if (const auto it = positions.find(FoldedAscii(entry->StoredName())); it != positions.end()) {
            for (const size_t p : it->second) {
                if (!taken[p]) {
                    j = p;
                    break;
                }
            }
        }
        if (j == FilesList.size()) {
            CarryOver(std::move(entry));
            continue;
        }
        taken[j] = true;
        const std::string fname = FilesList[j];

        if (ZipAction != zaReplace) {
            const auto dos = fs::GetFileDosTime(fname);
            const TDateTime fileTime = dos ? DateOrNow(NormalizeDosDateTime(*dos)) : Now();
            if (!(DateOrNow(entry->DateTime) < fileTime)) {
                if (const auto size = fs::GetFileSize(fname)) bytesToDo_ -= *size;
                if (OnUpdate) OnUpdate(this, uaKeeping, i);
                CarryOver(std::move(entry));
                continue;
            }
        }

        if (OnUpdate) OnUpdate(this, uaReplacing, i);
        auto replacement = std::make_unique<TZipHeaderInfo>();
        if (ZipOneFile(fname, *replacement)) {
            AddEntry(std::move(replacement), &fname);
        } else {
            CarryOver(std::move(entry));
        }
    }

    std::vector<std::string> rest;
    rest.reserve(FilesList.size());
    for (size_t j = 0; j < FilesList.size(); ++j)
        if (!taken[j]) rest.push_back(std::move(FilesList[j]));
    FilesList = std::move(rest);
}

void TVCLZip::CarryOver(std::unique_ptr<TZipHeaderInfo> entry) {
    if (!zipStream_) OpenAndRefresh();
    TStream& in = *zipStream_;
    uint8_t rec[kLocalHeaderSize];
    if (in.Seek(entry->LocalHeaderOffset, soFromBeginning) != entry->LocalHeaderOffset ||
        in.Read(rec, sizeof rec) != sizeof rec) {
        throw EBadZipFile("Not a valid zip file!");
    }
    const LocalHeader local = ParseLocalHeader(rec);
    if (!local.signatureRight) throw EBadZipFile("Not a valid zip file!");
    const uint16_t nameLength = local.nameLength;
    const uint16_t extraLength = local.extraLength;
    in.Seek(nameLength, soFromCurrent);

    entry->LocalExtraLength = extraLength;
    entry->Flags &= static_cast<uint16_t>(~0x0008u);
    entry->DiskNumberStart = 0;
    const std::string header = LocalHeaderBytes(*entry, ArchivePosition());
    PutRaw(header.data(), header.size());

    std::vector<uint8_t> buffer(kCopyPiece);
    int64_t left = static_cast<int64_t>(extraLength) + entry->CompressedSize;
    while (left > 0) {
        const int64_t want = std::min(left, kCopyPiece);
        if (in.Read(buffer.data(), want) != want) throw EFatalUnzipError("Premature end of file reached");
        PutRaw(buffer.data(), static_cast<size_t>(want));
        left -= want;
        PumpMessages();
    }

    TZipHeaderInfo* e = entry.get();
    archiveList_->Add(e);
    entry.release();
    nameList_->Add(e);  // "Duplicate Object index" for a second entry of the same name
    ++newEcrec_->EntriesThisDisk;
    ++newEcrec_->TotalEntries;
}

}  // namespace archive
