// The fixed part of a local header (30 bytes), read in one place: every reader of local headers (the
// directory model, extraction and its decoding ahead, the archive check, the writer carrying entries
// over) takes its fields from here instead of from raw offsets.
#pragma once

#include <cstdint>

#include "archive/records/little_endian.h"
#include "archive/records/zip_header_info.h"

namespace archive {

struct LocalHeader {
    bool signatureRight = false;  // "PK\3\4"
    uint16_t versionNeeded = 0;
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t dosTime = 0;
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;

    // Where the entry's data starts, counted from the header's first byte.
    int64_t DataOffset() const { return int64_t{kLocalHeaderSize} + nameLength + extraLength; }
};

inline LocalHeader ParseLocalHeader(const uint8_t (&bytes)[kLocalHeaderSize]) {
    LocalHeader h;
    h.signatureRight = GetU32(bytes) == kLocalHeaderSignature;
    h.versionNeeded = GetU16(bytes + 4);
    h.flags = GetU16(bytes + 6);
    h.method = GetU16(bytes + 8);
    h.dosTime = GetU32(bytes + 10);
    h.crc32 = GetU32(bytes + 14);
    h.compressedSize = GetU32(bytes + 18);
    h.uncompressedSize = GetU32(bytes + 22);
    h.nameLength = GetU16(bytes + 26);
    h.extraLength = GetU16(bytes + 28);
    return h;
}

}  // namespace archive
