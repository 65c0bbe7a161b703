// Constant tables of the Deflate compressor, all computed at compile time.
//
// The format tables are those of RFC 1951 (3.2.5 length and distance codes with their extra bits, 3.2.6 the
// fixed Huffman codes, 3.2.7 the order in which code-length code lengths are sent). Beside them sit the
// derived lookup tables the coder uses per symbol:
//   kLengthCode[len - 3]    length code 0..28 of a match length 3..258 (258 is code 28, symbol 285, even
//                           though 257 and 258 would both fall into code 27's range by the bit pattern);
//   kDistCode[d]            distance code of d = distance - 1: below 256 looked up at d, above at
//                           256 + (d >> 7), which works because every code from 16 on spans a multiple
//                           of 128 values;
//   kFixedLit / kFixedDist  the fixed trees as (bit-reversed code, length) pairs for LSB-first output.
// and the level table: good length, lazy length, nice length and chain length per level.
//
// The tests recompute each table bit by bit from the RFC's definitions.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace archive::codec {

inline constexpr int kLiterals = 256;
inline constexpr int kLengthCodes = 29;
inline constexpr int kLitLenCodes = kLiterals + 1 + kLengthCodes;  // 286
inline constexpr int kDistCodes = 30;
inline constexpr int kBitLenCodes = 19;
inline constexpr int kEndBlock = 256;
inline constexpr int kMaxBits = 15;
inline constexpr int kMaxBitLenBits = 7;

inline constexpr std::array<uint8_t, kLengthCodes> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                                   2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
inline constexpr std::array<uint8_t, kDistCodes> kDistExtra = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,
                                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
inline constexpr std::array<uint8_t, kBitLenCodes> kBitLenExtra = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                                   0, 0, 0, 0, 0, 0, 2, 3, 7};
// The order in which the lengths of the code-length code are sent.
inline constexpr std::array<uint8_t, kBitLenCodes> kBitLenOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                                   11, 4,  12, 3, 13, 2, 14, 1, 15};

// Reverses the lowest `len` bits of `code`.
constexpr unsigned ReverseBits(unsigned code, int len) {
    unsigned r = 0;
    for (int i = 0; i < len; ++i) {
        r = (r << 1) | (code & 1);
        code >>= 1;
    }
    return r;
}

namespace tables_detail {

struct LengthTables {
    std::array<uint8_t, 256> code{};   // by length - 3
    std::array<uint8_t, kLengthCodes> base{};  // length - 3 of the first length of each code
};

constexpr LengthTables MakeLengthTables() {
    LengthTables t{};
    int length = 0;
    int code = 0;
    for (; code < kLengthCodes - 1; ++code) {
        t.base[code] = static_cast<uint8_t>(length);
        for (int n = 0; n < (1 << kLengthExtra[code]); ++n) t.code[length++] = static_cast<uint8_t>(code);
    }
    // 258 has a code of its own; it overwrites the last entry of code 27.
    t.code[length - 1] = static_cast<uint8_t>(code);
    t.base[code] = 255;
    return t;
}

struct DistTables {
    std::array<uint8_t, 512> code{};
    std::array<uint16_t, kDistCodes> base{};  // distance - 1 of the first distance of each code
};

constexpr DistTables MakeDistTables() {
    DistTables t{};
    int dist = 0;
    int code = 0;
    for (; code < 16; ++code) {
        t.base[code] = static_cast<uint16_t>(dist);
        for (int n = 0; n < (1 << kDistExtra[code]); ++n) t.code[dist++] = static_cast<uint8_t>(code);
    }
    dist >>= 7;
    for (; code < kDistCodes; ++code) {
        t.base[code] = static_cast<uint16_t>(dist << 7);
        for (int n = 0; n < (1 << (kDistExtra[code] - 7)); ++n) t.code[256 + dist++] = static_cast<uint8_t>(code);
    }
    return t;
}

struct CodeLen {
    uint16_t code;  // bit-reversed, ready for LSB-first output
    uint8_t len;
};

// Canonical codes from lengths (RFC 1951 3.2.2).
template <std::size_t N>
constexpr std::array<CodeLen, N> CanonicalCodes(const std::array<uint8_t, N>& lens) {
    std::array<int, kMaxBits + 1> count{};
    for (uint8_t l : lens) count[l]++;
    count[0] = 0;
    std::array<unsigned, kMaxBits + 1> next{};
    unsigned code = 0;
    for (int bits = 1; bits <= kMaxBits; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::array<CodeLen, N> out{};
    for (std::size_t n = 0; n < N; ++n) {
        const int len = lens[n];
        if (len == 0) continue;
        out[n] = CodeLen{static_cast<uint16_t>(ReverseBits(next[len]++, len)), static_cast<uint8_t>(len)};
    }
    return out;
}

constexpr std::array<uint8_t, 288> FixedLitLengths() {
    std::array<uint8_t, 288> l{};
    for (int n = 0; n < 288; ++n) l[n] = n < 144 ? 8 : n < 256 ? 9 : n < 280 ? 7 : 8;
    return l;
}

constexpr std::array<uint8_t, kDistCodes> FixedDistLengths() {
    std::array<uint8_t, kDistCodes> l{};
    for (auto& x : l) x = 5;
    return l;
}

}  // namespace tables_detail

using CodeLen = tables_detail::CodeLen;

inline constexpr tables_detail::LengthTables kLengthTables = tables_detail::MakeLengthTables();
inline constexpr tables_detail::DistTables kDistTables = tables_detail::MakeDistTables();
inline constexpr const std::array<uint8_t, 256>& kLengthCode = kLengthTables.code;
inline constexpr const std::array<uint8_t, kLengthCodes>& kBaseLength = kLengthTables.base;
inline constexpr const std::array<uint8_t, 512>& kDistCode = kDistTables.code;
inline constexpr const std::array<uint16_t, kDistCodes>& kBaseDist = kDistTables.base;
inline constexpr std::array<CodeLen, 288> kFixedLit = tables_detail::CanonicalCodes(tables_detail::FixedLitLengths());
inline constexpr std::array<CodeLen, kDistCodes> kFixedDist =
    tables_detail::CanonicalCodes(tables_detail::FixedDistLengths());

// Distance code of d = distance - 1 (0..32767).
constexpr unsigned DistCode(unsigned d) { return d < 256 ? kDistCode[d] : kDistCode[256 + (d >> 7)]; }

// The level table: the matcher's four parameters and its mode per level (row 0 is the stored method,
// for which the compressor is never run).
struct LevelParams {
    uint16_t good;   // previous match at least this long: search a quarter of the chain
    uint16_t lazy;   // lazy mode: no search after a match this long; fast mode: longest match inserted
    uint16_t nice;   // stop searching at a match this long
    uint16_t chain;  // chain links followed per search
    bool lazyMode;
};

inline constexpr std::array<LevelParams, 10> kLevels = {{
    {0, 0, 0, 0, false},
    {4, 4, 8, 4, false},
    {4, 5, 16, 8, false},
    {4, 6, 32, 32, false},
    {4, 4, 16, 16, true},
    {8, 16, 32, 32, true},
    {8, 16, 128, 128, true},
    {8, 32, 128, 256, true},
    {32, 128, 258, 1024, true},
    {32, 258, 258, 4096, true},
}};

}  // namespace archive::codec
