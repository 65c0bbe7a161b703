// Inflate's working memory and the contract between its driver (inflate.cpp) and its fast loop.
//
// Input: the source hands blocks of any size (extraction gives at most 16000 bytes). The decoder reads them
// in place; only across the seam between two blocks does the driver copy the unread tail of one and the
// first kSeam bytes of the next into the staging buffer, so the decoder always sees contiguous bytes. Once
// the source has ended, zero bytes pad the staging buffer so that 8-byte loads stay inside it, and the
// careful path checks every bit it consumes against the real end.
//
// Output: one arena of 32 KiB history followed by a large chunk. Decoding appends to the arena; when the
// chunk is full the new bytes go to the sink in one call and the last 32 KiB slide to the front, so every
// back-reference is an address inside the arena, never a wrap-around.
//
// The fast loop's contract (LoopState): it runs only while `in < inLimit` and `out < outLimit`. inLimit
// leaves kInMargin real bytes behind it, enough for the (at most three) 8-byte refills of one iteration;
// outLimit leaves kOutMargin bytes before the arena's end, enough for what one iteration writes (two
// literals, or a literal and a 258-byte match) plus the 39-byte over-copy of the match copier. Within
// those limits it needs no checks but the data's own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/codec/huffman_table.h"

namespace archive::codec::inflate_detail {

constexpr unsigned kLitLenRootBits = 10;
constexpr unsigned kDistRootBits = 8;
constexpr unsigned kPrecodeBits = 7;
constexpr size_t kLitLenTableSize = huffman::TableCapacity(288, kLitLenRootBits, 15);
constexpr size_t kDistTableSize = huffman::TableCapacity(32, kDistRootBits, 15);

constexpr size_t kHistory = 32 * 1024;
constexpr size_t kChunk = 256 * 1024;
constexpr size_t kArenaSize = kHistory + kChunk;
constexpr ptrdiff_t kOutMargin = 2 + 258 + 40 + 20;

constexpr size_t kStageCapacity = 64 * 1024;
constexpr size_t kStagePad = 64;
constexpr ptrdiff_t kInMargin = 32;
constexpr size_t kSeam = 512;

struct State {
    uint32_t litlen[kLitLenTableSize];
    uint32_t dist[kDistTableSize];
    uint32_t precode[1u << kPrecodeBits];
    bool fixedLoaded;  // litlen/dist hold the fixed code of block type 1
    alignas(64) uint8_t stage[kStageCapacity + kStagePad];
    alignas(64) uint8_t arena[kArenaSize];
};

struct LoopState {
    uint64_t bitbuf;
    unsigned bitsleft;  // valid bits in bitbuf; the bits above them repeat the byte at `in`
    const uint8_t* in;
    const uint8_t* inLimit;
    uint8_t* out;
    uint8_t* outLimit;
    const uint8_t* outBase;  // the arena's first byte: a distance may reach back to it, not further
    const uint32_t* litlen;
    const uint32_t* dist;
};

enum class LoopExit { Limit, EndOfBlock, BadData };

using FastLoop = LoopExit (*)(LoopState&);

// Each loop comes in two forms: one checks every distance against the start of the output, the other is
// for calls that begin with at least 32 KiB of history in the arena, where no distance can reach too far.
struct FastLoops {
    FastLoop checked;
    FastLoop unchecked;
};

// The plain C++ loops, and the fastest ones this processor runs (chosen once).
FastLoops PortableFastLoops();
FastLoops BestFastLoops();

}  // namespace archive::codec::inflate_detail
