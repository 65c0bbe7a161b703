// Prefix-code lookup tables for decoders that read bits least significant first (Deflate, Implode).
//
// A table is indexed with the next `rootBits` bits of the stream. An entry either decodes a symbol (its
// code is at most rootBits long and the entry is replicated over every index that starts with it) or points
// to a subtable that is indexed with the bits after the first rootBits. A subtable is as wide as the longest
// code under its prefix, so two lookups decode any code.
//
// One 32-bit entry:
//   bits 31..16  value: literal byte, length or distance base, symbol, or subtable start
//   bit  15      kLiteral      a Deflate literal (value is the byte)
//   bit  14      kExceptional  not a plain symbol: a subtable pointer, the end of block, or invalid
//   bit  13      kSubtable     (with kExceptional) value = subtable start, bits 11..8 = subtable index bits
//   bit  12      kEndOfBlock   (with kExceptional) Deflate symbol 256
//   bits 11..8   code length at this level (where the extra bits start)
//   bits 7..0    bits to consume: code length at this level plus the symbol's extra bits; for a subtable
//                pointer, rootBits
// kExceptional alone marks an index no code reaches (an incomplete code, or a symbol the format forbids);
// a decoder that meets it has invalid data.
//
// Codes are checked before placing: an over-subscribed set of lengths is refused, an incomplete one is
// accepted (its unused indexes stay invalid), as RFC 1951 allows (one distance code of one bit).
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive::codec::huffman {

constexpr uint32_t kLiteral = 0x8000;
constexpr uint32_t kExceptional = 0x4000;
constexpr uint32_t kSubtable = 0x2000;
constexpr uint32_t kEndOfBlock = 0x1000;
constexpr uint32_t kInvalid = kExceptional;

constexpr unsigned BitsToConsume(uint32_t e) { return e & 0xFF; }
constexpr unsigned CodeBits(uint32_t e) { return (e >> 8) & 0xF; }
constexpr unsigned Value(uint32_t e) { return e >> 16; }

// The part of an entry that depends on the symbol alone: value << 16 | flags | number of extra bits.
constexpr uint32_t SymbolEntry(unsigned value, uint32_t flags, unsigned extraBits) {
    return (static_cast<uint32_t>(value) << 16) | flags | extraBits;
}

// The table size that always suffices for n symbols with codes of at most maxLen bits.
constexpr size_t TableCapacity(unsigned n, unsigned rootBits, unsigned maxLen) {
    return (size_t{1} << rootBits) + (maxLen > rootBits ? size_t{n} << (maxLen - rootBits) : 0);
}

// Bit-reverses the low `len` (1 to 16) bits of code.
uint32_t ReverseBits(uint32_t code, unsigned len);

// Kraft check of a set of code lengths (0 = unused, at most maxLen). Returns -1 when over-subscribed,
// 0 when complete, 1 when incomplete (also when no code is used at all).
int CheckLengths(const uint8_t* lens, unsigned n, unsigned maxLen);

// Places codes that are already prefix-free and bit-reversed for least-significant-first reading.
// symbolEntries[s] comes from SymbolEntry(); lens[s] == 0 leaves s out. Returns false only when the table
// would exceed `capacity` entries (never with TableCapacity()).
bool PlaceCodes(const uint32_t* codes, const uint8_t* lens, unsigned n, const uint32_t* symbolEntries,
                unsigned rootBits, bool complete, uint32_t* table, size_t capacity);

// Canonical codes of RFC 1951 from lengths of at most 15 bits, placed in the table. Returns false for an
// over-subscribed set.
bool BuildCanonical(const uint8_t* lens, unsigned n, const uint32_t* symbolEntries, unsigned rootBits,
                    uint32_t* table, size_t capacity);

}  // namespace archive::codec::huffman
