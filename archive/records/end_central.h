// TEndCentral: the end-of-central-directory record, which writes itself and finds itself at the end of a
// stream.
//
//   0 signature 0x06054b50   4 number of this disk   6 disk where the central directory starts
//   8 central records on this disk   10 total central records   12 central directory size
//   16 central directory offset   20 archive comment length   22 comment...
//
// The record is searched backwards in the last 65557 bytes (the largest comment plus the record): the
// last "PK\5\6" wins, even when it sits inside the archive comment. No data before the archive is allowed
// for: every position is an absolute position in the stream.
//
// An archive with Zip64 records has a 20-byte locator ("PK\6\7") right before this record, pointing at
// the Zip64 end record that holds the real counts, size and offset; Locate notes whether it is there.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace archive {

class TStream;

class TEndCentral {
public:
    TEndCentral() = default;
    TEndCentral(const TEndCentral& other) { Assign(other); }
    TEndCentral& operator=(const TEndCentral& other) {
        if (this != &other) Assign(other);
        return *this;
    }

    uint32_t Signature = 0x06054b50;
    uint16_t ThisDisk = 0;
    uint16_t CentralStartDisk = 0;
    uint16_t EntriesThisDisk = 0;
    uint16_t TotalEntries = 0;
    uint32_t CentralSize = 0;
    uint32_t CentralOffset = 0;
    uint16_t CommentLength = 0;
    uint32_t CommentPosition = 0;  // stream size - comment length when the record was located
    bool Zip64Locator = false;     // the located record has a Zip64 locator in front of it
    bool PendingChange = false;    // a comment was changed: the archive must be rewritten

    void Clear();
    // The first 20 record bytes, the comment (when loaded) and the comment position.
    void Assign(const TEndCentral& source);

    // The archive comment; may be absent while CommentLength is not 0 (loaded on demand).
    const std::optional<std::string>& Comment() const { return comment_; }
    void SetComment(const std::string& comment);  // empty -> none
    // Stores a comment read from the archive without changing CommentLength.
    void SetLoadedComment(std::string comment) { comment_ = std::move(comment); }
    bool HasComment() const { return CommentLength != 0; }
    uint32_t RecordSize() const { return 22u + CommentLength; }

    void Write(TStream& stream) const;
    // Finds the record at the end of the stream and fills the fields. An empty stream counts as found
    // (an archive with no entries).
    bool Locate(TStream& stream);

private:
    std::optional<std::string> comment_;
};

constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr int kZip64LocatorSize = 20;

// How far back from the end the record is searched.
constexpr int64_t kEndCentralSearchSize = 65557;

}  // namespace archive
