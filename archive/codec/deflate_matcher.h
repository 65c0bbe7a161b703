// The parts of the matcher (deflate_matcher.cpp) that the compressor's other rooms share: the window's
// geometry, the walk over the window that the replay of a shared entry repeats step for step
// (deflate_parallel.cpp), the matcher's buffers, and the two runs a driver starts: a whole entry into the
// block coder, or a worker's parse of one chunk of a shared entry into a symbol recorder.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "archive/codec/deflate_io.h"
#include "archive/codec/deflate_tables.h"
#include "archive/codec/trees.h"

namespace archive::codec {

inline constexpr unsigned kWSize = 32768;
inline constexpr unsigned kWindowSize = 2 * kWSize;
inline constexpr unsigned kMinMatch = 3;
inline constexpr unsigned kMaxMatch = 258;
inline constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
inline constexpr unsigned kMaxDist = kWSize - kMinLookahead;          // 32506
inline constexpr unsigned kSlideAt = kWSize + kMaxDist;               // 65274
inline constexpr unsigned kFirstRead = 32768;

// The matcher's working buffers, allocated once per archive operation.
struct MatcherBuffers {
    std::unique_ptr<uint8_t[]> window;
    std::unique_ptr<uint16_t[]> prev;
    // Per key: the head of its chain (the most recent position entered under it; bits 0-15) and, for
    // the fast search, the number of positions entered (bits 16-23, modulo 256) and the length of the
    // ring's run (bits 24-31). Kept together so that entering a position touches one cache line.
    std::unique_ptr<uint32_t[]> keys;
    // The fast search's rings: kRing (128) positions per key.
    std::unique_ptr<uint16_t[]> ring;
};

// Without rings (`light`), only the portable search can run on the buffers: 256 KiB instead of 8.3 MiB.
void AllocateMatcher(MatcherBuffers& b, bool light = false);

// Where a worker's parse keeps what the chunk driver needs (deflate_parallel.cpp): the positions it starts
// and stops at, and the iterations at which its state is one of the two that fix everything after them
// (no match pending; a literal pending or not).
struct ParseTrack {
    uint64_t start = 0;    // first position parsed
    uint64_t headEnd = 0;  // iterations in [start, headEnd) are noted in head
    uint64_t end = 0;      // iterations in [end, stop) are noted in tail
    uint64_t stop = UINT64_MAX;  // the parse stops at the first iteration at or past it
    std::vector<uint32_t>* head = nullptr;
    std::vector<uint32_t>* tail = nullptr;
    const std::atomic<bool>* abort = nullptr;
};

// A state note: 0 when the iteration at that position was not in a noted state, else the number of
// symbols recorded before it plus one, with bit 31 set when a literal is pending.
inline constexpr uint32_t kPendingLiteral = 0x80000000u;

// The symbols of a worker's parse, in the block coder's encoding; block ends are left to the coder
// that replays them.
struct SymbolRecorder {
    std::vector<uint32_t> symbols;
    bool RecordLiteral(uint8_t c, uint32_t, int32_t) {
        symbols.push_back(c);
        return false;
    }
    bool RecordMatch(uint32_t distance, uint32_t length, uint32_t, int32_t) {
        symbols.push_back((length - 3) | (distance << 8));
        return false;
    }
    uint64_t FlushBlock(const uint8_t*, int64_t, bool) { return 0; }
};

// Raised inside a worker's parse that the chunk driver called off.
struct WorkerAborted {};

// The walk over the window that the matcher and the replay of a shared entry make alike: the entry's
// first read, the refills with the slide of the window by 32768, and the ends of blocks.
// Derived::AfterSlide moves whatever else the derived walk keeps in window positions.
template <class Derived, class Sink>
class WindowWalk {
protected:
    WindowWalk(uint8_t* window, Sink& coder, DeflateIO& io) : window_(window), coder_(coder), io_(io) {}

    // The entry's first read; false when there is no input at all.
    bool FirstRead() {
        const unsigned n = io_.ReadEntryData(window_, kFirstRead);
        if (n == 0 || n > kFirstRead) {
            eof_ = true;
            lookahead_ = 0;
            return false;
        }
        lookahead_ = n;
        if (lookahead_ < kMinLookahead) FillWindow();
        return true;
    }

    const uint8_t* BlockData() const { return blockStart_ >= 0 ? window_ + blockStart_ : nullptr; }
    void FlushNotLast() {
        coder_.FlushBlock(BlockData(), static_cast<int64_t>(strstart_) - blockStart_, false);
        blockStart_ = static_cast<int32_t>(strstart_);
    }
    uint64_t FlushLast() { return coder_.FlushBlock(BlockData(), static_cast<int64_t>(strstart_) - blockStart_, true); }

    // Refills the window until the lookahead reaches 262 bytes or the input ends, sliding it down by
    // 32768 first when the current position has reached 65274.
    void FillWindow() {
        do {
            unsigned more = (kWindowSize - lookahead_ - strstart_) & 0xFFFF;
            if (more == 0xFFFF) {
                more--;  // a read of 65535 could not be told from a failed one
            } else if (strstart_ >= kSlideAt) {
                std::memcpy(window_, window_ + kWSize, kWSize);
                strstart_ -= kWSize;
                blockStart_ -= static_cast<int32_t>(kWSize);
                more += kWSize;
                static_cast<Derived*>(this)->AfterSlide();
            }
            if (eof_) return;
            if (more == 0) return;  // window full; cannot happen while the lookahead is below 262
            const unsigned n = io_.ReadEntryData(window_ + strstart_ + lookahead_, more);
            if (n == 0 || n == 0xFFFF || n > more) {
                eof_ = true;
            } else {
                lookahead_ += n;
            }
        } while (lookahead_ < kMinLookahead && !eof_);
    }

    uint8_t* const window_;
    Sink& coder_;
    DeflateIO& io_;
    unsigned strstart_ = 0;
    unsigned lookahead_ = 0;
    int32_t blockStart_ = 0;
    bool eof_ = false;
};

// One entry on one thread, into the block coder: the matcher of `lp`'s mode, with the fast search when
// `fast` (the buffers then need their rings), on a window that starts cleared (the bytes past the input
// take part in the search, so they must be the same every time). Returns the entry's compressed size.
uint64_t RunMatcher(MatcherBuffers& buf, BlockCoder& coder, DeflateIO& io, const LevelParams& lp, bool fast);

// A worker's parse of one chunk of a shared entry (lazy mode), into `rec` with the notes and the stop of
// `track`: from the entry's start when `start` is 0 (on a window the caller has cleared), else from
// `start`, `before` being the 32768 bytes in front of it (see Matcher::RunFrom). `in` delivers the input
// from `start` on. May raise WorkerAborted when track.abort is set.
void RunTracked(MatcherBuffers& buf, SymbolRecorder& rec, DeflateIO& in, const LevelParams& lp, ParseTrack& track,
                bool fast, uint64_t start, const uint8_t* before);

}  // namespace archive::codec
