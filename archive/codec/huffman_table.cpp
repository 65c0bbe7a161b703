// Building the two-level prefix-code tables described in huffman_table.h.
//
// Placement works in two passes over the symbols: the first finds, for every root index that begins a code
// longer than rootBits, the longest such code (that fixes the subtable width); the second writes each
// code's entry into every slot it owns. A complete code fills every slot, so the invalid fill is done only
// for incomplete codes.
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

bool PlaceCodes(const uint32_t* codes, const uint8_t* lens, unsigned n, const uint32_t* symbolEntries,
                unsigned rootBits, bool complete, uint32_t* table, size_t capacity) {
    if (rootBits > 12) return false;
    const uint32_t rootSize = uint32_t{1} << rootBits;
    const uint32_t rootMask = rootSize - 1;
    if (capacity < rootSize) return false;
    if (!complete) std::fill(table, table + rootSize, kInvalid);

    // Pass 1: subtable widths (0 = no subtable) for the root indexes of long codes.
    uint8_t subBits[1u << 12];
    bool anyLong = false;
    for (unsigned s = 0; s < n; ++s) {
        if (lens[s] > rootBits) {
            if (!anyLong) std::memset(subBits, 0, rootSize);
            anyLong = true;
            const uint32_t p = codes[s] & rootMask;
            subBits[p] = std::max<uint8_t>(subBits[p], static_cast<uint8_t>(lens[s] - rootBits));
        }
    }
    if (anyLong) {
        size_t next = rootSize;
        for (unsigned s = 0; s < n; ++s) {
            if (lens[s] <= rootBits) continue;
            const uint32_t p = codes[s] & rootMask;
            if (subBits[p] & 0x80) continue;  // this prefix has its subtable already
            const unsigned width = subBits[p];
            subBits[p] |= 0x80;
            const size_t size = size_t{1} << width;
            if (next + size > capacity || next > 0xFFFF) return false;
            table[p] = SymbolEntry(static_cast<unsigned>(next), kExceptional | kSubtable, 0) | (width << 8) |
                       rootBits;
            if (!complete) std::fill(table + next, table + next + size, kInvalid);
            next += size;
        }
    }

    // Pass 2: every code into the slots it owns.
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lens[s];
        if (len == 0) continue;
        if (len <= rootBits) {
            const uint32_t e = symbolEntries[s] + (len << 8) + len;
            for (uint32_t i = codes[s]; i < rootSize; i += uint32_t{1} << len) table[i] = e;
        } else {
            const uint32_t ptr = table[codes[s] & rootMask];
            const uint32_t start = Value(ptr);
            const uint32_t size = uint32_t{1} << CodeBits(ptr);
            const unsigned len2 = len - rootBits;
            const uint32_t e = symbolEntries[s] + (len2 << 8) + len2;
            for (uint32_t i = codes[s] >> rootBits; i < size; i += uint32_t{1} << len2) table[start + i] = e;
        }
    }
    return true;
}

bool BuildCanonical(const uint8_t* lens, unsigned n, const uint32_t* symbolEntries, unsigned rootBits,
                    uint32_t* table, size_t capacity) {
    constexpr unsigned kMaxLen = 15;
    if (n > 320) return false;
    unsigned count[kMaxLen + 1] = {};
    for (unsigned s = 0; s < n; ++s) ++count[lens[s]];
    int64_t left = 1;
    for (unsigned len = 1; len <= kMaxLen; ++len) {
        left = (left << 1) - count[len];
        if (left < 0) return false;
    }
    // Canonical codes: shorter codes first, equal lengths in symbol order (RFC 1951, 3.2.2).
    uint32_t next[kMaxLen + 2] = {};
    uint32_t code = 0;
    count[0] = 0;
    for (unsigned len = 1; len <= kMaxLen; ++len) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    uint32_t codes[320];
    for (unsigned s = 0; s < n; ++s) {
        const unsigned len = lens[s];
        codes[s] = len ? ReverseBits(next[len]++, len) : 0;
    }
    return PlaceCodes(codes, lens, n, symbolEntries, rootBits, left == 0, table, capacity);
}

}  // namespace archive::codec::huffman
