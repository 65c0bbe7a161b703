// One file (or folder entry) of FilesList becomes one archive entry.
//
// Order: open the source (OnSkippingFile reason 2 when it cannot be opened; the handler may ask for a
// retry), derive the stored name, refuse a second entry of the same name (reason 1), OnStartZip (the
// handler may change the entry or skip it), local header with the values known so far, the data (stored
// in 16000-byte pieces, or deflated), then the local header again, in place, with CRC and sizes.
//
// The sizes written are those of the bytes actually read, and the CRC is of those same bytes: a file that
// changes size while it is read still gives a consistent entry. A file of 4 GiB or more cannot be
// described by the 32-bit fields and is refused with EFileTooLarge before anything is written for it.

#include <algorithm>
#include <random>

#include "archive/fs/file_io.h"
#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/records/date_time.h"
#include "archive/writer/output_file.h"
#include "archive/writer/vcl_zip.h"
#include "archive/writer/volume_set.h"

namespace archive {

namespace {

constexpr unsigned kStorePiece = 16000;
constexpr int64_t kCrcPiece = 4096;
constexpr int64_t kLargestEntry = 0xFFFFFFFFll;

bool IsRegularFile(const std::string& path) {
    const auto status = fs::StatusOf(fs::Resolve(path));
    return status && status->regular;
}

// The archive being written (or rebuilt) is never one of its own entries.
bool IsTheArchive(const std::string& path, const std::string& zipName) {
    const auto a = fs::StatusOf(fs::Resolve(path));
    const auto b = fs::StatusOf(fs::Resolve(zipName));
    return a && b && fs::SameFile(*a, *b);
}

}  // namespace

bool TVCLZip::ZipOneFile(const std::string& fname, TZipHeaderInfo& entry) {
    fileBytes_ = 0;
    entryRead_ = 0;
    credited_ = 0;
    fetchFailed_ = false;
    entryWritten_ = 0;
    current_ = &entry;
    // The source, a multi-volume scratch file and the cipher state belong to this entry only, whatever
    // way the step ends.
    struct EntryScope {
        TVCLZip* zip;
        ~EntryScope() {
            zip->source_.reset();
            if (zip->dataTemp_) zip->dataTemp_->Abort();
            zip->dataTemp_.reset();
            zip->encrypting_ = false;
            zip->current_ = nullptr;
        }
    } scope{this};

    const bool isFolder = !fname.empty() && fname.back() == '/';
    int64_t size = 0;
    if (isFolder) {
        const auto dos = fs::GetFileDosTime(fs::ExcludeTrailingSeparator(fname));
        entry.DateTime = dos ? *dos : DateTimeToDos(Now());
        entry.CompressedSize = 0;
        entry.UncompressedSize = 0;
        entry.Method = 0;
        entry.InternalAttributes = 0;
        entry.Crc32 = 0;
    } else {
        if (!fs::FileExists(fname)) return false;  // listed, but gone by now
        if (IsTheArchive(fname, zipName_)) {
            bytesToDo_ -= fs::GetFileSize(fname).value_or(0);
            return false;
        }
        entry.ExternalAttributes = fs::GetAttributes(fname).value_or(fs::faArchive);
        if (!OpenSource(fname, size)) return false;
        const auto dos = fs::GetFileDosTime(fname);
        entry.DateTime = dos ? *dos : DateTimeToDos(Now());
        entry.UncompressedSize = static_cast<uint32_t>(size);
    }

    const StoredName name = DeriveStoredName(fname, settings_);
    entry.SetFileName(isFolder ? std::string() : name.FileName);
    if (!isFolder) entry.InternalAttributes = 2;  // not yet classified
    entry.DiskNumberStart = static_cast<uint16_t>(multi_ ? volumes_->Disk() : 0);
    if (storePaths_) entry.SetDirectory(name.Directory);
    // Without stored paths a folder entry would have no name at all: nothing to add.
    if (entry.StoredName().empty()) {
        bytesToDo_ -= size;
        return false;
    }

    int index = 0;
    if (nameList_->Find(&entry, index)) {
        bool retry = false;  // no meaning here: the name stays taken
        if (OnSkippingFile) OnSkippingFile(this, skNotOverwritten, fname, -1, retry);
        bytesToDo_ -= size;
        return false;
    }
    bool skip = false;
    if (OnStartZip) OnStartZip(this, fname, entry, skip);
    if (skip) {
        bytesToDo_ -= size;
        return false;
    }

    if (multi_) {
        volumes_->Reserve(entry.LocalRecordSize());
        entry.DiskNumberStart = static_cast<uint16_t>(volumes_->Disk());
        if (!isFolder) dataTemp_ = std::make_unique<writer::OutputFile>(std::string(), ScratchFolder());
    }
    const int64_t headerOffset = ArchivePosition();
    const std::string header = LocalHeaderBytes(entry, headerOffset);
    PutRaw(header.data(), header.size());

    if (isFolder) {
        if (OnEndZip) OnEndZip(this, fname, 0, 0, 0);
        return true;
    }

    if (!Password.empty()) WriteEncryptionHeader();
    crc_ = 0xFFFFFFFF;
    CompressEntryData(fname, entry);
    FinishEntryData(entry, headerOffset);

    source_.reset();
    if (ResetArchiveBitOnZip) {
        if (const auto attributes = fs::GetAttributes(fname))
            fs::SetAttributes(fname, *attributes & ~fs::faArchive);
    }
    if (OnEndZip) OnEndZip(this, fname, entry.UncompressedSize, entry.CompressedSize, ArchiveSize());
    return true;
}

bool TVCLZip::OpenSource(const std::string& fname, int64_t& size) {
    for (;;) {
        try {
            // Only regular files: opening a FIFO would wait for a writer forever, and a device or socket
            // is no file to back up. They count as files that cannot be opened.
            if (!IsRegularFile(fname)) throw EFOpenError("Cannot open file \"" + fname + "\". Not a regular file");
            source_ = std::make_unique<TFileStream>(fname, fmOpenRead | fmShareDenyWrite);
            break;
        } catch (const EFOpenError&) {
            bool retry = false;
            if (OnSkippingFile) OnSkippingFile(this, skOpenFailed, fname, -1, retry);
            if (!retry) {
                // Progress keeps counting only what will really be read.
                if (const auto skipped = fs::GetFileSize(fname)) bytesToDo_ -= *skipped;
                return false;
            }
        }
    }
    size = source_->Size();
    if (size > kLargestEntry) {
        throw EFileTooLarge(Format("\"%s\" is %lld bytes long; a Zip archive holds files of at most 4 GiB - 1 "
                                   "(4294967295) bytes",
                                   fname.c_str(), static_cast<long long>(size)));
    }
    return true;
}

void TVCLZip::WriteEncryptionHeader() {
    // The last two header bytes are the high bytes of the CRC, which a reader checks the password
    // against; so the CRC is needed before any data is written: a first pass over the file.
    std::vector<uint8_t> buffer(kCrcPiece);
    uint32_t reg = 0xFFFFFFFF;
    for (int64_t n; (n = ReadSource(buffer.data(), kCrcPiece)) > 0;) reg = codec::Update(reg, buffer.data(), n);
    const uint32_t crc = ~reg;
    source_->Seek(0, soFromBeginning);

    static std::random_device device;
    uint8_t header[12];
    for (int i = 0; i < 10; ++i) header[i] = static_cast<uint8_t>(device());
    header[10] = static_cast<uint8_t>(crc >> 16);
    header[11] = static_cast<uint8_t>(crc >> 24);
    encryptor_.Init(Password);
    encrypting_ = true;
    WriteArchiveData(header, sizeof header);
}

void TVCLZip::StoreData() {
    std::vector<uint8_t> buffer(kStorePiece);
    for (unsigned n; (n = ReadEntryData(buffer.data(), kStorePiece)) > 0;) WriteArchiveData(buffer.data(), n);
}

void TVCLZip::FinishEntryData(TZipHeaderInfo& entry, int64_t headerOffset) {
    if (entryWritten_ > kLargestEntry) {
        throw EFileTooLarge(Format("The compressed data of \"%s\" would be larger than 4 GiB - 1 bytes",
                                   entry.StoredName().c_str()));
    }
    entry.Crc32 = ~crc_;
    entry.UncompressedSize = static_cast<uint32_t>(entryRead_);
    entry.CompressedSize = static_cast<uint32_t>(entryWritten_);  // with the encryption header, if any
    if (!Password.empty()) entry.Flags |= 0x0001;

    // The header was the last thing written to the archive (in multi-volume mode the data waits in the
    // scratch file), so it is rewritten where it stands and the writer goes back to the end.
    writer::OutputFile& file = multi_ ? volumes_->Current() : *out_;
    const int64_t end = file.Position();
    const std::string header = LocalHeaderBytes(entry, headerOffset);
    file.SeekTo(headerOffset);
    file.Put(header.data(), header.size());
    file.SeekTo(end);
    if (multi_) CopyDataAcrossVolumes();
}

std::string TVCLZip::LocalHeaderBytes(TZipHeaderInfo& entry, int64_t offset) {
    if (offset < 0 || offset > kLargestEntry)
        throw EFileTooLarge("The archive would be larger than 4 GiB - 1 bytes");
    TMemoryStream m;
    entry.WriteLocal(m);
    entry.LocalHeaderOffset = static_cast<uint32_t>(offset);
    return std::string(reinterpret_cast<const char*>(m.Data().data()), m.Data().size());
}

std::string TVCLZip::ScratchFolder() const {
    if (!TempPath.empty() && fs::DirectoryExists(TempPath)) return fs::IncludeTrailingSeparator(TempPath);
    return fs::TempDirectory();
}

void TVCLZip::CompressEntryData(const std::string& fname, TZipHeaderInfo& entry) {
    const int level = std::clamp(PackLevel, 0, 9);
    const bool store = level == 0 || IsNoCompress(entry.FileName(), NoCompressList);
    if (CarryOver(entry, store ? 0 : 8)) return;
    if (store) {
        StoreData();
        entry.Method = 0;
        entry.InternalAttributes = 0;
        return;
    }
    codec::DeflateResult result;
    if (!DeflateAhead(fname, level, result)) result = deflater_.Deflate(*this, level);
    entry.Flags |= result.optionBits;
    if (result.stored) entry.Method = 0;
    // Classified by the first block, unless the OnStartZip handler already set it.
    if (entry.InternalAttributes == 2) entry.InternalAttributes = result.text ? 1 : 0;
}

}  // namespace archive
