#include "archive/records/end_central.h"

#include <algorithm>
#include <limits>
#include <vector>

#include "archive/records/little_endian.h"
#include "archive/streams/stream.h"

namespace archive {

void TEndCentral::Clear() {
    Assign(TEndCentral());
    PendingChange = false;
}

void TEndCentral::Assign(const TEndCentral& source) {
    Signature = source.Signature;
    ThisDisk = source.ThisDisk;
    CentralStartDisk = source.CentralStartDisk;
    EntriesThisDisk = source.EntriesThisDisk;
    TotalEntries = source.TotalEntries;
    CentralSize = source.CentralSize;
    CentralOffset = source.CentralOffset;
    CommentLength = source.CommentLength;
    if (source.CommentLength != 0 && source.comment_) {
        comment_ = source.comment_;
        CommentLength = static_cast<uint16_t>(comment_->size());
    } else {
        comment_.reset();
    }
    CommentPosition = source.CommentPosition;
    Zip64Locator = source.Zip64Locator;
}

void TEndCentral::SetComment(const std::string& comment) {
    if (comment.empty()) {
        comment_.reset();
        CommentLength = 0;
        return;
    }
    comment_ = comment.substr(0, std::numeric_limits<uint16_t>::max());
    CommentLength = static_cast<uint16_t>(comment_->size());
}

void TEndCentral::Write(TStream& stream) const {
    uint8_t rec[22];
    PutU32(rec + 0, Signature);
    PutU16(rec + 4, ThisDisk);
    PutU16(rec + 6, CentralStartDisk);
    PutU16(rec + 8, EntriesThisDisk);
    PutU16(rec + 10, TotalEntries);
    PutU32(rec + 12, CentralSize);
    PutU32(rec + 16, CentralOffset);
    PutU16(rec + 20, CommentLength);
    std::string out(reinterpret_cast<const char*>(rec), sizeof rec);
    if (CommentLength != 0) {
        // The comment is held as a zero-terminated text: it ends at its first zero byte. The record must
        // still hold as many bytes as its length field claims (other tools reject an archive whose
        // comment is cut short), so a shorter or missing text is padded with spaces.
        std::string comment;
        if (comment_) comment = comment_->substr(0, comment_->find('\0'));
        comment.resize(CommentLength, ' ');
        out += comment;
    }
    stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

bool TEndCentral::Locate(TStream& stream) {
    const int64_t size = stream.Size();
    if (size == 0) {
        // An archive with no entries: every field 0, also when this record held another archive's values.
        const bool pending = PendingChange;
        Clear();
        PendingChange = pending;
        return true;
    }
    if (size < 22) return false;
    const int64_t n = size < kEndCentralSearchSize ? size : kEndCentralSearchSize;
    std::vector<uint8_t> block(static_cast<size_t>(n));
    stream.Seek(size - n, soFromBeginning);
    if (stream.Read(block.data(), n) != n) return false;
    for (int64_t i = n - 22; i >= 0; --i) {
        if (block[static_cast<size_t>(i)] != 'P') continue;
        const uint8_t* p = block.data() + i;
        if (GetU32(p) != 0x06054b50u) continue;
        ThisDisk = GetU16(p + 4);
        CentralStartDisk = GetU16(p + 6);
        EntriesThisDisk = GetU16(p + 8);
        TotalEntries = GetU16(p + 10);
        CentralSize = GetU32(p + 12);
        CentralOffset = GetU32(p + 16);
        CommentLength = GetU16(p + 20);
        comment_.reset();
        CommentPosition = static_cast<uint32_t>(size - CommentLength);
        const int64_t at = size - n + i - kZip64LocatorSize;  // where a locator would start
        uint8_t locator[4] = {};
        if (i >= kZip64LocatorSize) {
            std::copy(p - kZip64LocatorSize, p - kZip64LocatorSize + 4, locator);
        } else if (at >= 0 && stream.Seek(at, soFromBeginning) == at) {
            stream.Read(locator, 4);
        }
        Zip64Locator = GetU32(locator) == kZip64LocatorSignature;
        return true;
    }
    return false;
}

}  // namespace archive
