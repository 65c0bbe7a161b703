// Hand-made archives for the reader tests: every byte of a local header, central record and end record
// is under the test's control, so damaged and unusual archives (wrong sizes, bad CRCs, unknown methods,
// encrypted entries, data descriptors, comments holding "PK\5\6", data in front of the archive) are
// made in code beside the test that needs them. Header-only.
//
// Layout produced: [prefix] local header + name + local extra + [12-byte encryption header] + data, for
// every entry, then the central records, then the end record and the archive comment. Offsets are
// absolute positions in the result (so a prefix shifts them, as a self-extractor stub would).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/codec/crc32.h"
#include "archive/codec/crypt.h"

namespace testing_support {

struct ZipEntryRecipe {
    std::string name;          // stored name, '/' separators; a folder entry ends with '/'
    std::string data;          // the entry's bytes as stored (already compressed unless method 0)
    uint16_t method = 0;
    uint16_t flags = 0;
    uint32_t dosTime = 0x5A214C20;  // 2025-01-01 09:33:00
    // Left unset, these come from `data` (stored entries: the data is the content).
    int64_t crc = -1;
    int64_t uncompressedSize = -1;
    int64_t compressedSize = -1;  // overrides the field only; the bytes written are always `data`
    uint32_t externalAttributes = 0x20;
    uint16_t versionNeeded = 20;
    uint16_t versionMadeBy = 20;
    std::string comment;
    std::string localExtra;
    std::string centralExtra;
    uint16_t diskNumberStart = 0;
    // Traditional encryption with this password (flag bit 0 is set); the content for the CRC is `plain`
    // when given, else `data`.
    std::string password;
    bool encrypt = false;
    std::string plain;
};

inline void PutLE(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

class ZipBuilder {
public:
    std::string prefix;          // bytes in front of the first local header
    std::string archiveComment;
    bool writeEnd = true;
    bool writeCentral = true;
    uint16_t thisDisk = 0;
    uint16_t centralStartDisk = 0;
    int64_t centralOffsetOverride = -1;

    ZipBuilder& Add(ZipEntryRecipe recipe) {
        entries_.push_back(std::move(recipe));
        return *this;
    }
    ZipBuilder& Stored(const std::string& name, const std::string& content) {
        ZipEntryRecipe e;
        e.name = name;
        e.data = content;
        return Add(e);
    }

    std::string Build() {
        std::string out = prefix;
        std::vector<uint32_t> offsets;
        for (ZipEntryRecipe& e : entries_) {
            const std::string& content = e.plain.empty() ? e.data : e.plain;
            const uint32_t crc = e.crc >= 0 ? static_cast<uint32_t>(e.crc)
                                            : archive::codec::Crc32(content.data(), content.size());
            e.crc = crc;
            std::string payload = e.data;
            if (e.encrypt) {
                e.flags |= 1;
                archive::codec::TraditionalCipher cipher;
                cipher.Init(e.password);
                std::string header(12, '\x5A');
                const uint8_t check = (e.flags & 8) ? static_cast<uint8_t>(e.dosTime >> 8)
                                                    : static_cast<uint8_t>(crc >> 24);
                header[11] = static_cast<char>(check);
                std::string all = header + payload;
                cipher.Encrypt(reinterpret_cast<uint8_t*>(all.data()), all.size());
                payload = all;
            }
            if (e.uncompressedSize < 0) e.uncompressedSize = static_cast<int64_t>(content.size());
            const uint32_t csize = e.compressedSize >= 0 ? static_cast<uint32_t>(e.compressedSize)
                                                         : static_cast<uint32_t>(payload.size());
            e.compressedSize = csize;
            offsets.push_back(static_cast<uint32_t>(out.size()));
            PutLE(out, 0x04034b50, 4);
            PutLE(out, e.versionNeeded, 2);
            PutLE(out, e.flags, 2);
            PutLE(out, e.method, 2);
            PutLE(out, e.dosTime, 4);
            PutLE(out, crc, 4);
            PutLE(out, csize, 4);
            PutLE(out, static_cast<uint32_t>(e.uncompressedSize), 4);
            PutLE(out, e.name.size(), 2);
            PutLE(out, e.localExtra.size(), 2);
            out += e.name + e.localExtra + payload;
        }
        const uint32_t centralOffset = static_cast<uint32_t>(out.size());
        std::string central;
        for (size_t i = 0; i < entries_.size(); ++i) {
            const ZipEntryRecipe& e = entries_[i];
            PutLE(central, 0x02014b50, 4);
            PutLE(central, e.versionMadeBy, 2);
            PutLE(central, e.versionNeeded, 2);
            PutLE(central, e.flags, 2);
            PutLE(central, e.method, 2);
            PutLE(central, e.dosTime, 4);
            PutLE(central, static_cast<uint32_t>(e.crc), 4);
            PutLE(central, static_cast<uint32_t>(e.compressedSize), 4);
            PutLE(central, static_cast<uint32_t>(e.uncompressedSize), 4);
            PutLE(central, e.name.size(), 2);
            PutLE(central, e.centralExtra.size(), 2);
            PutLE(central, e.comment.size(), 2);
            PutLE(central, e.diskNumberStart, 2);
            PutLE(central, 0, 2);
            PutLE(central, e.externalAttributes, 4);
            PutLE(central, offsets[i], 4);
            central += e.name + e.centralExtra + e.comment;
        }
        if (writeCentral) out += central;
        if (writeEnd) {
            PutLE(out, 0x06054b50, 4);
            PutLE(out, thisDisk, 2);
            PutLE(out, centralStartDisk, 2);
            PutLE(out, entries_.size(), 2);
            PutLE(out, entries_.size(), 2);
            PutLE(out, central.size(), 4);
            PutLE(out, centralOffsetOverride >= 0 ? static_cast<uint32_t>(centralOffsetOverride) : centralOffset, 4);
            PutLE(out, archiveComment.size(), 2);
            out += archiveComment;
        }
        centralOffset_ = centralOffset;
        return out;
    }

    // Where the central directory started in the last Build().
    uint32_t CentralOffset() const { return centralOffset_; }
    const std::vector<ZipEntryRecipe>& Entries() const { return entries_; }

private:
    std::vector<ZipEntryRecipe> entries_;
    uint32_t centralOffset_ = 0;
};

}  // namespace testing_support
