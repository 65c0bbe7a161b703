// TZipHeaderInfo: the header information of one archive entry, able to read and write its own local
// and central records.
//
// Local file header (30 bytes, then the name):
//   0 signature 0x04034b50   4 version needed   6 flags   8 method   10 time   12 date   14 CRC-32
//   18 compressed size   22 uncompressed size   26 name length   28 local extra length   30 name...
// Central directory record (46 bytes, then name and file comment):
//   0 signature 0x02014b50   4 version made by   6 version needed   8 flags   10 method   12 time
//   14 date   16 CRC-32   20 compressed size   24 uncompressed size   28 name length   30 extra length
//   32 comment length   34 disk number start   36 internal attributes   38 external attributes
//   42 local header offset   46 name...   46+n comment...
//
// In memory the stored name is a folder part (empty, or ending with '/') and a file name part, both in
// UTF-8; the file name length is the byte length of the name as stored (CP437, or UTF-8 with flag bit 11,
// see archive/codepage) and is kept up to date by the two setters. A stored '\' reads as a separator.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace archive {

class TStream;

constexpr uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr uint32_t kEndCentralSignature = 0x06054b50;
constexpr int kLocalHeaderSize = 30;
constexpr int kCentralHeaderSize = 46;
// High byte of "version made by" that a UTF-8 name (bit 11) gets in place of 0 (MS-DOS), see the setters.
constexpr int16_t kHostNtfs = 0x0B00;

// Replaces the stream by the next disk's stream (multi-disk reading); returns the new stream.
using NextDiskFn = std::function<TStream*()>;

class TZipHeaderInfo {
public:
    TZipHeaderInfo() = default;
    TZipHeaderInfo(const TZipHeaderInfo& other) { Assign(other); }
    TZipHeaderInfo& operator=(const TZipHeaderInfo& other) {
        if (this != &other) Assign(other);
        return *this;
    }

    int16_t VersionMadeBy = 20;
    int16_t VersionNeeded = 20;
    uint16_t Flags = 0;
    uint16_t Method = 8;
    uint32_t DateTime = 0;  // MS-DOS form, date in the high half
    uint32_t Crc32 = 0xFFFFFFFF;
    uint32_t CompressedSize = 0;
    uint32_t UncompressedSize = 0;
    uint16_t FileNameLength = 0;
    uint16_t CentralExtraLength = 0;
    uint16_t LocalExtraLength = 0;
    uint16_t CommentLength = 0;
    uint16_t DiskNumberStart = 0;
    int16_t InternalAttributes = 1;
    uint32_t ExternalAttributes = 0x20;
    uint32_t LocalHeaderOffset = 0;
    uint32_t CentralRecordOffset = 0;  // where the central record was read; 0 when not read from one
    bool MatchFlag = false;            // selected for the running extraction
    uint8_t State = 0;                 // copied, never set by the engine; 2 = drop on rebuild
    bool Selected = false;             // selected by the application

    const std::string& FileName() const { return fileName_; }
    const std::string& Directory() const { return directory_; }
    std::string StoredName() const { return directory_ + fileName_; }
    // Stores the value when it differs and recomputes the file name length. A name stored as UTF-8 sets
    // flag bit 11 and, when the version made by says MS-DOS, makes it NTFS (same attribute word).
    void SetFileName(const std::string& name);
    // A non-empty value gets a trailing '/' when it lacks one.
    void SetDirectory(const std::string& directory);

    // The file comment: loaded on demand by the reader, so it may be absent while CommentLength is not 0.
    const std::optional<std::string>& Comment() const { return comment_; }
    void SetComment(std::optional<std::string> comment);

    bool HasComment() const { return CommentLength != 0; }
    bool IsEncrypted() const { return (Flags & 0x0001) != 0; }
    bool HasDataDescriptor() const { return (Flags & 0x0008) != 0; }
    uint32_t LocalRecordSize() const { return 30u + FileNameLength + LocalExtraLength; }
    uint32_t CentralRecordSize() const { return 46u + FileNameLength + CentralExtraLength + CommentLength; }

    // The name bytes as stored in the archive ('/' separators, CP437 or UTF-8 by flag bit 11).
    std::string ArchiveNameBytes() const;

    // Records the stream position as the local-header offset, then writes the local record (no extra
    // field bytes: a carried-over entry's old extra field is copied by the writer). Raises EFileTooLarge
    // when the position does not fit the 32-bit offset.
    void WriteLocal(TStream& stream);
    void WriteCentral(TStream& stream);
    // True when a central record was read; otherwise the stream is back where it was. With nextDisk, a
    // record cut short by the end of a disk is completed from the next one (which replaces `stream`).
    bool ReadCentral(TStream*& stream, const NextDiskFn& nextDisk = {});
    // True when a local record was read; the stream is left just after the name.
    bool ReadLocal(TStream& stream);

    void Assign(const TZipHeaderInfo& source);

private:
    void UpdateNameLength();
    void SetNameFromArchive(const std::string& bytes);

    std::string fileName_;
    std::string directory_;
    std::optional<std::string> comment_;
};

}  // namespace archive
