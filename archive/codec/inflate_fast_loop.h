// Inflate's hot loop: Huffman symbols and match copies with no bounds checks but the data's own.
//
// This header is compiled into more than one translation unit, each with different code-generation options
// (the portable build, and one for processors with BMI2, whose flag-free shifts and bit-field extraction
// suit the bit buffer). Everything in it has internal linkage and is forced inline, so no copy built for a
// newer processor can be shared with code that runs on an older one.
//
// Bit buffer: 64 bits, consumed from the bottom. A refill loads 8 bytes unaligned, ORs them in above the
// valid bits and advances the input by the whole bytes that fitted; afterwards 56 to 63 bits are valid, and
// the bits above them are the low bits of the byte at `in`, so OR-ing the same bytes again is harmless.
// Right after a refill all 64 bits are the stream's next bits; after consuming C more, the lowest 64 - C
// still are, even where `bitsleft` is smaller. So the lookup of the next symbol (which only peeks) comes
// before the refill, and the refill stays off the path from one table load to the next.
//
// Bit budget per iteration, starting from at least 56 valid bits: up to two literals (15 bits each) and the
// next lookup (34 correct bits left); or a length (code plus extra: at most 20 bits) and a distance (at most
// 28 bits) = 48, and the next lookup with 16 correct bits left; or one literal (41 valid bits left), a
// length and the distance lookup, then a refill before the distance itself is taken. So no iteration needs
// a refill between a table lookup and the next.
//
// Match copy: distances of 8 or more move 8-byte words (each load reads only bytes already written), the
// first 40 bytes without a loop test, as most matches are short; distance 1 repeats one byte 32 at a time;
// 2 to 7 copy 8 bytes per step advancing by the distance, so every step reads only the `distance` bytes
// before it that are final. A copy may write up to 39 bytes past the match, which kOutMargin reserves.
// (Wider moves did not pay: the time goes into the chain of table lookups, not into copying.)
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/codec/inflate_state.h"

namespace archive::codec::inflate_detail {
namespace {

// A translation unit built for a particular processor defines ZB_LOOP_TARGET (a target attribute) and may
// define ZB_LOOP_BZHI to extract bit fields with the BMI2 instruction.
#ifndef ZB_LOOP_TARGET
#define ZB_LOOP_TARGET
#endif
#define ZB_INLINE [[gnu::always_inline]] inline ZB_LOOP_TARGET

ZB_INLINE uint64_t LoadLE64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

ZB_INLINE uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

ZB_INLINE void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

ZB_INLINE uint64_t LowBits(uint64_t v, unsigned n) { return v & ((uint64_t{1} << n) - 1); }

// The extra-bits value of a length or distance entry, from the bit buffer as it was before the entry was
// consumed: the bits between the code and the end of the entry's bit count.
ZB_INLINE unsigned ExtraBits(uint64_t saved, uint32_t e) {
#ifdef ZB_LOOP_BZHI
    const uint64_t field = _bzhi_u64(saved, e);  // uses only the low byte of e: the bit count
#else
    const uint64_t field = LowBits(saved, e & 0xFF);
#endif
    // Bits 8..13 of a length or distance entry hold just the code length (the flags there are zero).
    return static_cast<unsigned>(field >> ((e >> 8) & 63));
}

ZB_INLINE void Copy16(uint8_t* dst, const uint8_t* src) {
    uint8_t tmp[16];
    std::memcpy(tmp, src, 16);
    std::memcpy(dst, tmp, 16);
}

ZB_INLINE void CopyMatch(uint8_t* dst, unsigned distance, unsigned length) {
    const uint8_t* src = dst - distance;
    uint8_t* const end = dst + length;
    if (distance >= 8) {
        // Most matches are short: the first 40 bytes go without a loop branch.
        Store64(dst, Load64(src));
        Store64(dst + 8, Load64(src + 8));
        Store64(dst + 16, Load64(src + 16));
        Store64(dst + 24, Load64(src + 24));
        Store64(dst + 32, Load64(src + 32));
        while (dst + 40 < end) {
            dst += 40;
            src += 40;
            Store64(dst, Load64(src));
            Store64(dst + 8, Load64(src + 8));
            Store64(dst + 16, Load64(src + 16));
            Store64(dst + 24, Load64(src + 24));
            Store64(dst + 32, Load64(src + 32));
        }
    } else if (distance == 1) {
        const uint64_t v = uint64_t{*src} * 0x0101010101010101ull;
        do {
            Store64(dst, v);
            Store64(dst + 8, v);
            Store64(dst + 16, v);
            Store64(dst + 24, v);
            dst += 32;
        } while (dst < end);
    } else {
        do {
            Store64(dst, Load64(src));
            dst += distance;
            src += distance;
        } while (dst < end);
    }
}

template <bool kCheckDistance>
ZB_INLINE LoopExit RunFastLoop(LoopState& s) {
    using namespace huffman;
    constexpr uint64_t kLitLenMask = (uint64_t{1} << kLitLenRootBits) - 1;
    constexpr uint64_t kDistMask = (uint64_t{1} << kDistRootBits) - 1;

    uint64_t bitbuf = s.bitbuf;
    // Only the low 6 bits of `bitsleft` count: consuming subtracts the whole entry, whose low byte is the
    // number of bits, so the bits above collect garbage that is never looked at.
    uint32_t bitsleft = s.bitsleft;
    const uint8_t* in = s.in;
    uint8_t* out = s.out;
    const uint8_t* const inLimit = s.inLimit;
    uint8_t* const outLimit = s.outLimit;
    const uint8_t* const outBase = s.outBase;
    const uint32_t* const litlen = s.litlen;
    const uint32_t* const dist = s.dist;
    LoopExit result = LoopExit::Limit;

#define ZB_REFILL()                                   \
    do {                                              \
        bitbuf |= LoadLE64(in) << (bitsleft & 63);    \
        in += (~bitsleft >> 3) & 7;                   \
        bitsleft |= 56;                               \
    } while (0)
#define ZB_CONSUME(entry)             \
    do {                              \
        bitbuf >>= ((entry) & 63);    \
        bitsleft -= (entry);          \
    } while (0)

    // Invariant at the top of the loop: at least 56 valid bits, and `e` is the literal/length entry they
    // start with (looked up before the refill and before the previous match was copied).
    ZB_REFILL();
    uint32_t e = litlen[bitbuf & kLitLenMask];
    while (in < inLimit && out < outLimit) {
        uint64_t saved;
        unsigned length;
        if (e & kLiteral) {
            ZB_CONSUME(e);
            *out++ = static_cast<uint8_t>(e >> 16);
            e = litlen[bitbuf & kLitLenMask];
            if (e & kLiteral) {
                ZB_CONSUME(e);
                *out++ = static_cast<uint8_t>(e >> 16);
                e = litlen[bitbuf & kLitLenMask];
                ZB_REFILL();
                continue;
            }
            if (!(e & kExceptional)) {
                // A length right after a literal: the 41 valid bits left cover it and the distance lookup,
                // so the refill waits until that lookup is under way.
                saved = bitbuf;
                ZB_CONSUME(e);
                length = Value(e) + ExtraBits(saved, e);
                e = dist[bitbuf & kDistMask];
                ZB_REFILL();
                goto have_distance_entry;
            }
            ZB_REFILL();
        }
        if (e & kExceptional) {
            if (e & kSubtable) {
                const unsigned subBits = CodeBits(e);
                const uint32_t start = Value(e);
                ZB_CONSUME(e);
                e = litlen[start + LowBits(bitbuf, subBits)];
                if (e & kLiteral) {
                    ZB_CONSUME(e);
                    *out++ = static_cast<uint8_t>(e >> 16);
                    e = litlen[bitbuf & kLitLenMask];
                    ZB_REFILL();
                    continue;
                }
            }
            if (e & kExceptional) {
                if (e & kEndOfBlock) {
                    ZB_CONSUME(e);
                    result = LoopExit::EndOfBlock;
                } else {
                    result = LoopExit::BadData;
                }
                break;
            }
        }

        // Length: base plus the extra bits that follow the code.
        saved = bitbuf;
        ZB_CONSUME(e);
        length = Value(e) + ExtraBits(saved, e);
        e = dist[bitbuf & kDistMask];

    have_distance_entry:
        if (e & kExceptional) {
            if (!(e & kSubtable)) {
                result = LoopExit::BadData;
                break;
            }
            const unsigned subBits = CodeBits(e);
            const uint32_t start = Value(e);
            ZB_CONSUME(e);
            e = dist[start + LowBits(bitbuf, subBits)];
            if (e & kExceptional) {
                result = LoopExit::BadData;
                break;
            }
        }
        {
            saved = bitbuf;
            ZB_CONSUME(e);
            const unsigned distance = Value(e) + ExtraBits(saved, e);
            if (kCheckDistance && distance > static_cast<size_t>(out - outBase)) {
                result = LoopExit::BadData;
                break;
            }
            // No refill before this lookup: at most 48 of the 64 correct bits have gone since the last one.
            e = litlen[bitbuf & kLitLenMask];
            ZB_REFILL();
            CopyMatch(out, distance, length);
            out += length;
        }
    }

#undef ZB_REFILL
#undef ZB_CONSUME

    s.bitbuf = bitbuf;
    s.bitsleft = bitsleft & 63;
    s.in = in;
    s.out = out;
    return result;
}

#undef ZB_INLINE
#undef ZB_LOOP_TARGET

}  // namespace
}  // namespace archive::codec::inflate_detail
