// Building the two-level prefix-code tables described in huffman_table.h.
//
// Short codes (at most rootBits long) own every root slot that starts with them: explicit codes are written
// with a stride, canonical codes grow the root table by doubling (cheaper, as Inflate rebuilds its tables
// for every block). Longer codes go to subtables in three passes: the widest code under each root prefix
// fixes its subtable's width, each prefix gets its subtable, then each code fills its slots. A complete
// code fills every slot; only an incomplete one leaves invalid entries behind.
#include "archive/codec/huffman_table.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace archive::codec::huffman {

namespace {
constexpr std::array<uint8_t, 256> kReversedBytes = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned b = 0; b < 256; ++b) {
        unsigned r = 0;
        for (unsigned i = 0; i < 8; ++i) r |= ((b >> i) & 1) << (7 - i);
        t[b] = static_cast<uint8_t>(r);
    }
    return t;
}();
}  // namespace

uint32_t ReverseBits(uint32_t code, unsigned len) {
    const uint32_t r16 = uint32_t{kReversedBytes[code & 0xFF]} << 8 | kReversedBytes[(code >> 8) & 0xFF];
    return r16 >> (16 - len);
}

int CheckLengths(const uint8_t* lens, unsigned n, unsigned maxLen) {
    unsigned count[33] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lens[s]];
    // left = the number of unused codes of the current length; it must never go negative.
    int64_t left = 1;
    for (unsigned len = 1; len <= maxLen; ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return -1;
    }
    return left == 0 ? 0 : 1;
}

namespace {

// Places the codes longer than rootBits (symbols `syms`, codes already reversed) in subtables: the first pass
// finds each root prefix's widest code, the second gives each prefix its subtable, the third fills them.
bool PlaceLong(const uint32_t* codes, const uint8_t* lens, const uint16_t* syms, unsigned count,
               const uint32_t* symbolEntries, unsigned rootBits, bool complete, uint32_t* table, size_t capacity) {
    if (count == 0) return true;
    const uint32_t rootSize = uint32_t{1} << rootBits;
    const uint32_t rootMask = rootSize - 1;
    uint8_t subBits[1u << 12];
    for (unsigned k = 0; k < count; ++k) subBits[codes[syms[k]] & rootMask] = 0;
    for (unsigned k = 0; k < count; ++k) {
        const unsigned s = syms[k];
        const uint32_t p = codes[s] & rootMask;
        subBits[p] = std::max<uint8_t>(subBits[p], static_cast<uint8_t>(lens[s] - rootBits));
    }
    size_t next = rootSize;
    for (unsigned k = 0; k < count; ++k) {
        const uint32_t p = codes[syms[k]] & rootMask;
        if (subBits[p] & 0x80) continue;  // this prefix has its subtable already
        const unsigned width = subBits[p];
        subBits[p] |= 0x80;
        const size_t size = size_t{1} << width;
        if (next + size > capacity || next > 0xFFFF) return false;
        table[p] = SymbolEntry(static_cast<unsigned>(next), kExceptional | kSubtable, 0) | (width << 8) | rootBits;
        if (!complete) std::fill(table + next, table + next + size, kInvalid);
        next += size;
    }
    for (unsigned k = 0; k < count; ++k) {
        const unsigned s = syms[k];
        const uint32_t ptr = table[codes[s] & rootMask];
        const uint32_t start = Value(ptr);
        const uint32_t size = uint32_t{1} << CodeBits(ptr);
        const unsigned len2 = lens[s] - rootBits;
        const uint32_t e = symbolEntries[s] + (len2 << 8) + len2;
        for (uint32_t i = codes[s] >> rootBits; i < size; i += uint32_t{1} << len2) table[start + i] = e;
    }
    return true;
}

}  // namespace

bool PlaceCodes(const uint32_t* codes, const uint8_t* lens, unsigned n, const uint32_t* symbolEntries,
                unsigned rootBits, bool complete, uint32_t* table, size_t capacity) {
    if (rootBits > 12 || n > 320) return false;
    const uint32_t rootSize = uint32_t{1} << rootBits;
    if (capacity < rootSize) return false;
    if (!complete) std::fill(table, table + rootSize, kInvalid);
    uint16_t longSyms[320];
    unsigned longCount = 0;
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lens[s];
        if (len == 0) continue;
        if (len > rootBits) {
            longSyms[longCount++] = static_cast<uint16_t>(s);
            continue;
        }
        const uint32_t e = symbolEntries[s] + (len << 8) + len;
        for (uint32_t i = codes[s]; i < rootSize; i += uint32_t{1} << len) table[i] = e;
    }
    return PlaceLong(codes, lens, longSyms, longCount, symbolEntries, rootBits, complete, table, capacity);
}

bool BuildCanonical(const uint8_t* lens, unsigned n, const uint32_t* symbolEntries, unsigned rootBits,
                    uint32_t* table, size_t capacity) {
    constexpr unsigned kMaxLen = 15;
    if (n > 320 || rootBits > 12 || rootBits == 0) return false;
    const uint32_t rootSize = uint32_t{1} << rootBits;
    if (capacity < rootSize) return false;
    unsigned count[kMaxLen + 1] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lens[s]];
    int64_t left = 1;
    for (unsigned len = 1; len <= kMaxLen; ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return false;
    }
    // Symbols in canonical order: by length, then by value (RFC 1951, 3.2.2); codes of one length are
    // consecutive numbers.
    unsigned offset[kMaxLen + 2] = {};
    for (unsigned len = 1; len <= kMaxLen; ++len) offset[len + 1] = offset[len] + count[len];
    uint16_t sorted[320];
    {
        unsigned fill[kMaxLen + 2];
        std::copy(offset, offset + kMaxLen + 2, fill);
        for (unsigned s = 0; s < n; ++s) {
            if (lens[s]) sorted[fill[lens[s]]++] = static_cast<uint16_t>(s);
        }
    }
    uint32_t first[kMaxLen + 1] = {};
    uint32_t code = 0;
    count[0] = 0;
    for (unsigned len = 1; len <= kMaxLen; ++len) {
        code = (code + count[len - 1]) << 1;
        first[len] = code;
    }

    // The root table grows by doubling: at length len it has 2^len entries, the codes of that length go in,
    // and copying it onto its second half extends every shorter code to one more bit. Indexes that no code
    // reaches keep the invalid entry they start from.
    table[0] = kInvalid;
    uint32_t size = 1;
    for (unsigned len = 1; len <= rootBits; ++len) {
        std::memcpy(table + size, table, size * sizeof(uint32_t));
        size <<= 1;
        for (unsigned k = 0; k < count[len]; ++k) {
            const unsigned s = sorted[offset[len] + k];
            table[ReverseBits(first[len] + k, len)] = symbolEntries[s] + (len << 8) + len;
        }
    }

    const unsigned longStart = offset[rootBits + 1];
    const unsigned longCount = offset[kMaxLen + 1] - longStart;
    if (longCount == 0) return true;
    uint32_t codes[320];
    for (unsigned len = rootBits + 1; len <= kMaxLen; ++len) {
        for (unsigned k = 0; k < count[len]; ++k) codes[sorted[offset[len] + k]] = ReverseBits(first[len] + k, len);
    }
    return PlaceLong(codes, lens, sorted + longStart, longCount, symbolEntries, rootBits, left == 0, table,
                     capacity);
}

}  // namespace archive::codec::huffman
