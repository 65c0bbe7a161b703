#include "archive/records/zip_header_info.h"
#include "archive/records/local_header.h"

#include <cstring>
#include <limits>

#include "archive/codepage/codepage.h"
#include "archive/errors.h"
#include "archive/records/date_time.h"
#include "archive/records/little_endian.h"
#include "archive/streams/stream.h"

namespace archive {

void TZipHeaderInfo::SetFileName(const std::string& name) {
    if (name == fileName_) return;
    fileName_ = name;
    UpdateNameLength();
}

void TZipHeaderInfo::SetDirectory(const std::string& directory) {
    std::string value = directory;
    if (!value.empty() && value.back() != '/') value += '/';
    if (value == directory_) return;
    directory_ = value;
    UpdateNameLength();
}

void TZipHeaderInfo::UpdateNameLength() {
    bool utf8 = false;
    const std::string bytes = codepage::ToArchive(StoredName(), (Flags & codepage::kUtf8NameFlag) != 0, utf8);
    if (utf8) {
        Flags |= codepage::kUtf8NameFlag;
        // Info-ZIP's unzip runs every name of an entry made on MS-DOS (host 0) through its CP437 table,
        // bit 11 or not, and so garbles UTF-8 names when listing and extracting. Host 11 (NTFS) keeps
        // the same MS-DOS attribute word and has its names taken as bit 11 says.
        if ((VersionMadeBy & 0xFF00) == 0) VersionMadeBy = static_cast<int16_t>(VersionMadeBy | kHostNtfs);
    }
    FileNameLength = static_cast<uint16_t>(bytes.size());
}

std::string TZipHeaderInfo::ArchiveNameBytes() const {
    bool utf8 = false;
    std::string bytes = codepage::ToArchive(StoredName(), (Flags & codepage::kUtf8NameFlag) != 0, utf8);
    for (char& c : bytes)
        if (c == '\\') c = '/';
    bytes.resize(FileNameLength, ' ');
    return bytes;
}

void TZipHeaderInfo::SetNameFromArchive(const std::string& bytes) {
    std::string name = codepage::FromArchive(bytes, (Flags & codepage::kUtf8NameFlag) != 0);
    for (char& c : name)
        if (c == '\\') c = '/';
    const size_t cut = name.rfind('/');
    if (cut == std::string::npos) {
        directory_.clear();
        fileName_ = name;
    } else {
        directory_ = name.substr(0, cut + 1);
        fileName_ = name.substr(cut + 1);
    }
}

void TZipHeaderInfo::SetComment(std::optional<std::string> comment) {
    comment_ = std::move(comment);
    if (comment_ && comment_->size() > std::numeric_limits<uint16_t>::max())
        comment_->resize(std::numeric_limits<uint16_t>::max());
    CommentLength = comment_ ? static_cast<uint16_t>(comment_->size()) : 0;
}

void TZipHeaderInfo::WriteLocal(TStream& stream) {
    const int64_t position = stream.Position();
    if (position < 0 || position > static_cast<int64_t>(std::numeric_limits<uint32_t>::max()))
        throw EFileTooLarge("Archive would be larger than 4 GiB");
    LocalHeaderOffset = static_cast<uint32_t>(position);
    uint8_t rec[kLocalHeaderSize];
    PutU32(rec + 0, kLocalHeaderSignature);
    PutU16(rec + 4, static_cast<uint16_t>(VersionNeeded));
    PutU16(rec + 6, Flags);
    PutU16(rec + 8, Method);
    PutU32(rec + 10, DateTime);
    PutU32(rec + 14, Crc32);
    PutU32(rec + 18, CompressedSize);
    PutU32(rec + 22, UncompressedSize);
    PutU16(rec + 26, FileNameLength);
    PutU16(rec + 28, LocalExtraLength);
    std::string out(reinterpret_cast<const char*>(rec), sizeof rec);
    if (FileNameLength != 0) out += ArchiveNameBytes();
    stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

void TZipHeaderInfo::WriteCentral(TStream& stream) {
    uint8_t rec[kCentralHeaderSize];
    PutU32(rec + 0, kCentralHeaderSignature);
    PutU16(rec + 4, static_cast<uint16_t>(VersionMadeBy));
    PutU16(rec + 6, static_cast<uint16_t>(VersionNeeded));
    PutU16(rec + 8, Flags);
    PutU16(rec + 10, Method);
    PutU32(rec + 12, DateTime);
    PutU32(rec + 16, Crc32);
    PutU32(rec + 20, CompressedSize);
    PutU32(rec + 24, UncompressedSize);
    PutU16(rec + 28, FileNameLength);
    PutU16(rec + 30, 0);
    PutU16(rec + 32, CommentLength);
    PutU16(rec + 34, DiskNumberStart);
    PutU16(rec + 36, static_cast<uint16_t>(InternalAttributes));
    PutU32(rec + 38, ExternalAttributes);
    PutU32(rec + 42, LocalHeaderOffset);
    std::string out(reinterpret_cast<const char*>(rec), sizeof rec);
    if (FileNameLength != 0) out += ArchiveNameBytes();
    if (CommentLength != 0) {
        // Exactly CommentLength bytes, also when the comment was never loaded: a record claiming more
        // bytes than it holds would shift every record after it.
        std::string comment = comment_ ? *comment_ : std::string();
        comment.resize(CommentLength, ' ');
        out += comment;
    }
    stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

namespace {

bool StartsWithSignature(const uint8_t* p, int64_t n, uint32_t signature) {
    return n >= 4 && GetU32(p) == signature;
}

// Reads the n name bytes; false on a short read.
bool ReadName(TStream& stream, uint16_t n, std::string& bytes) {
    bytes.assign(n, '\0');
    return n == 0 || stream.Read(bytes.data(), n) == n;
}

}  // namespace

bool TZipHeaderInfo::ReadCentral(TStream*& stream, const NextDiskFn& nextDisk) {
    const int64_t p = stream->Position();
    uint8_t rec[kCentralHeaderSize];
    int64_t got = stream->Read(rec, sizeof rec);
    if (got < 0) got = 0;
    if ((got == 0 || (got < kCentralHeaderSize && StartsWithSignature(rec, got, kCentralHeaderSignature))) &&
        nextDisk) {
        stream = nextDisk();
        const int64_t more = stream->Read(rec + got, kCentralHeaderSize - got);
        if (more > 0) got += more;
    }
    if (got == kCentralHeaderSize && GetU32(rec) == kCentralHeaderSignature) {
        const uint16_t nameLength = GetU16(rec + 28);
        std::string bytes;
        if (!ReadName(*stream, nameLength, bytes)) {
            stream->Seek(p, soFromBeginning);
            return false;
        }
        const uint16_t extraLength = GetU16(rec + 30);
        const uint16_t commentLength = GetU16(rec + 32);
        if (extraLength + commentLength != 0) stream->Seek(extraLength + commentLength, soFromCurrent);

        VersionMadeBy = static_cast<int16_t>(GetU16(rec + 4));
        VersionNeeded = static_cast<int16_t>(GetU16(rec + 6));
        Flags = GetU16(rec + 8);
        Method = GetU16(rec + 10);
        DateTime = NormalizeDosDateTime(GetU32(rec + 12));
        Crc32 = GetU32(rec + 16);
        CompressedSize = GetU32(rec + 20);
        UncompressedSize = GetU32(rec + 24);
        CentralExtraLength = extraLength;
        DiskNumberStart = GetU16(rec + 34);
        InternalAttributes = static_cast<int16_t>(GetU16(rec + 36));
        ExternalAttributes = GetU32(rec + 38);
        LocalHeaderOffset = GetU32(rec + 42);
        SetNameFromArchive(bytes);
        FileNameLength = nameLength;
        comment_.reset();
        CommentLength = commentLength;
        MatchFlag = false;
        Selected = false;
        CentralRecordOffset = static_cast<uint32_t>(p);
        return true;
    }
    stream->Seek(p, soFromBeginning);
    return false;
}

bool TZipHeaderInfo::ReadLocal(TStream& stream) {
    const int64_t p = stream.Position();
    uint8_t rec[kLocalHeaderSize];
    const int64_t got = stream.Read(rec, sizeof rec);
    const LocalHeader local = ParseLocalHeader(rec);
    if (got == kLocalHeaderSize && local.signatureRight) {
        const uint16_t nameLength = local.nameLength;
        std::string bytes;
        if (!ReadName(stream, nameLength, bytes)) {
            stream.Seek(p, soFromBeginning);
            return false;
        }
        VersionMadeBy = 0;
        VersionNeeded = static_cast<int16_t>(local.versionNeeded);
        Flags = local.flags;
        Method = local.method;
        DateTime = NormalizeDosDateTime(local.dosTime);
        Crc32 = local.crc32;
        CompressedSize = local.compressedSize;
        UncompressedSize = local.uncompressedSize;
        LocalExtraLength = local.extraLength;
        CommentLength = 0;
        DiskNumberStart = 0;
        InternalAttributes = 0;
        ExternalAttributes = 0;
        CentralRecordOffset = 0;
        SetNameFromArchive(bytes);
        FileNameLength = nameLength;
        comment_.reset();
        MatchFlag = false;
        Selected = false;
        LocalHeaderOffset = static_cast<uint32_t>(p);
        return true;
    }
    stream.Seek(p, soFromBeginning);
    return false;
}

void TZipHeaderInfo::Assign(const TZipHeaderInfo& source) {
    VersionMadeBy = source.VersionMadeBy;
    VersionNeeded = source.VersionNeeded;
    Flags = source.Flags;
    Method = source.Method;
    DateTime = source.DateTime;
    Crc32 = source.Crc32;
    CompressedSize = source.CompressedSize;
    UncompressedSize = source.UncompressedSize;
    CentralExtraLength = source.CentralExtraLength;
    LocalExtraLength = source.LocalExtraLength;
    DiskNumberStart = source.DiskNumberStart;
    InternalAttributes = source.InternalAttributes;
    ExternalAttributes = source.ExternalAttributes;
    LocalHeaderOffset = source.LocalHeaderOffset;
    CentralRecordOffset = source.CentralRecordOffset;
    fileName_ = source.fileName_;
    directory_ = source.directory_;
    FileNameLength = source.FileNameLength;
    if (source.CommentLength != 0 && source.comment_) {
        comment_ = source.comment_;
    } else {
        comment_.reset();
    }
    CommentLength = source.CommentLength;
    MatchFlag = source.MatchFlag;
    State = source.State;
    Selected = source.Selected;
}

}  // namespace archive
