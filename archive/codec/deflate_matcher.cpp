// The matcher: the front half of the Deflate compressor (LZ77 over a 32 KiB sliding window).
//
// Window. A 64 KiB buffer: input is read behind the lookahead; when the current position reaches 65274
// (32768 + the largest distance 32506) at a refill, the upper half is copied down and every position,
// chain link and the block start move down by 32768. Matches never reach further back than 32506 bytes,
// so a match of 258 bytes plus the 3 bytes needed for the next hash key always fits ahead (262 bytes of
// lookahead are kept while input remains).
//
// Hash chains. Every position is entered under a 15-bit key of its next three bytes (shift 5 per byte,
// so a key depends on exactly three bytes): head[key] is the most recent position with that key and
// prev[pos & 0x7FFF] links to the one before. Position 0 doubles as the empty mark, so no match ever starts
// from window position 0.
//
// Search. The chain is walked by one of two searches with the same result: the portable one follows the
// links; the fast one reads the first places of each chain from a per-key ring (see LongestMatchFast).
//
// Modes. Levels 1-3 take the longest match at each position (fast mode) and, for matches longer than the
// level's lazy value, skip entering the positions inside the match. Levels 4-9 defer each match by one
// position and keep the next one if it is longer (lazy mode); a 3-byte match more than 4096 bytes back
// costs more than its literals and is dropped there. The level table (deflate_tables.h) sets how hard
// each search looks.
//
// The output is a function of the input and the level only: the window starts zeroed and is cleared at
// the end of each entry, so even the bytes past the end of the input that a search may look at are always
// the same. They never decide a match: near the end of the input a search stops at the first candidate that
// reaches the end of the input, and its result is cut to the lookahead.
//
// Levels 4-9 may run the matcher on worker threads, a chunk of the input each, while the caller's thread
// replays the joined symbols through the block coder; the output, the reads and the writes are those of
// the one-thread run (deflate_parallel.cpp). For those parses the matcher also notes its state at chosen
// positions and stops where it is told (ParseTrack, kTrack).
#include "archive/codec/deflate_matcher.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

namespace archive::codec {

namespace {

constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kHashSize = 32768;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5;
constexpr unsigned kTooFar = 4096;
// Zero bytes behind the window, so an eight-byte compare at the end of a 258-byte scan stays in bounds.
constexpr unsigned kWindowPad = 64;

inline uint16_t Load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

struct SearchParams {
    unsigned good;
    unsigned nice;
    unsigned chain;
};

// Longest match from candidate `cur` at position `strstart`, the best length so far being `prevLength`.
// A candidate is looked at only when the two bytes that would make it longer than the best and its first
// two bytes agree with the current position; its third byte then agrees too, because the keys do and a key
// depends on exactly three bytes. The result may exceed the lookahead (bytes past it take part in the
// comparison): callers cut it.
//
// Portable: compares two bytes at a time from offset 3, checking for the end only after every fourth
// comparison (offset 257 is the last pair), then settles an odd length with one more byte.
unsigned LongestMatchPortable(const uint8_t* window, const uint16_t* prev, unsigned strstart, unsigned cur,
                              unsigned prevLength, const SearchParams& p, unsigned& matchStart) {
    unsigned chain = p.chain;
    const uint8_t* const scan = window + strstart;
    const uint8_t* const strend = scan + kMaxMatch - 1;
    unsigned best = prevLength;
    const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
    const uint16_t scanStart = Load16(scan);
    uint16_t scanEnd = Load16(scan + best - 1);
    if (prevLength >= p.good) chain >>= 2;
    do {
        const uint8_t* match = window + cur;
        if (Load16(match + best - 1) != scanEnd || Load16(match) != scanStart) continue;
        const uint8_t* s = scan + 1;
        const uint8_t* m = match + 1;
        do {
        } while (Load16(s += 2) == Load16(m += 2) && Load16(s += 2) == Load16(m += 2) &&
                 Load16(s += 2) == Load16(m += 2) && Load16(s += 2) == Load16(m += 2) && s < strend);
        if (*s == *m) s++;
        const unsigned len = static_cast<unsigned>(s - scan);
        if (len > best) {
            matchStart = cur;
            best = len;
            if (len >= p.nice) break;
            scanEnd = Load16(scan + best - 1);
        }
    } while ((cur = prev[cur & kWMask]) > limit && --chain != 0);
    return best;
}

// Fast: the same candidates in the same order, found without chasing links. The first places of a
// chain are the most recent positions entered under the same key, and the matcher keeps those in a ring
// per key (Matcher::Insert), so the search reads them from a few consecutive cache lines instead of
// following one prev link per candidate, and their window bytes become independent loads the processor
// can overlap. Places beyond the ring follow the prev links as usual. Bytes are compared eight at a time
// from offset 2, a count of trailing zeros (little-endian loads) locating the first difference. The
// result, match start included, is that of the portable search.
//
// A ring holds positions modulo 65536 in a numbering that does not move when the window slides, and the
// length of the run of entries that still form one chain (a position entered when its key had no
// reachable predecessor starts a new run). Along a chain the true distances grow, and each is below
// 32506 + 65536 (a link never spans more than the window), so a distance read modulo 65536 that does not
// grow marks the end of the reachable chain just as a true distance beyond 32506 does.
constexpr unsigned kRingBits = 7;
constexpr unsigned kRing = 1u << kRingBits;  // the position itself and 127 places: all of levels 1 to 5
constexpr unsigned kRingMask = kRing - 1;
static_assert(kRing <= 128, "the run length and the entry count share one 16-bit field per key");
constexpr unsigned kPrefetchAhead = 8;

struct RingView {
    const uint16_t* row;  // the ring of the current position's key
    unsigned newest;      // slot of the current position in it
    unsigned run;         // entries from the newest on that form one chain, at most kRing
    uint16_t self;        // the current position in the ring's numbering
};

unsigned LongestMatchFast(const uint8_t* window, const uint16_t* prev, const RingView& ring, unsigned strstart,
                          unsigned cur, unsigned prevLength, const SearchParams& p, unsigned& matchStart) {
    unsigned chain = p.chain;
    const uint8_t* const scan = window + strstart;
    unsigned best = prevLength;
    const unsigned limit = strstart > kMaxDist ? strstart - kMaxDist : 0;
    const unsigned reach = strstart - limit;  // a candidate at this distance or more is out of reach
    const uint16_t scanStart = Load16(scan);
    uint16_t scanEnd = Load16(scan + best - 1);
    if (prevLength >= p.good) chain >>= 2;
    const unsigned nice = p.nice;
    const uint16_t* const row = ring.row;
    const unsigned newest = ring.newest;
    const unsigned run = ring.run;
    const uint16_t self = ring.self;
    unsigned place = 1;
    unsigned dist = strstart - cur;
    for (;;) {
        const uint8_t* match = window + cur;
        if (Load16(match + best - 1) == scanEnd && Load16(match) == scanStart) {
            unsigned len = 2;
            for (;;) {
                const uint64_t x = Load64(scan + len) ^ Load64(match + len);
                if (x != 0) {
                    len += static_cast<unsigned>(__builtin_ctzll(x)) >> 3;
                    break;
                }
                len += 8;
                if (len >= kMaxMatch) break;
            }
            if (len > kMaxMatch) len = kMaxMatch;
            if (len > best) {
                matchStart = cur;
                best = len;
                if (len >= nice) break;
                scanEnd = Load16(scan + best - 1);
            }
        }
        if (--chain == 0) break;
        if (++place < run) {
            const unsigned d = static_cast<uint16_t>(self - row[(newest - place) & kRingMask]);
            if (d <= dist || d >= reach) break;
            dist = d;
            cur = strstart - d;
        } else if (run < kRing) {
            break;  // the chain ends with the run
        } else {
            cur = prev[cur & kWMask];
            if (cur <= limit) break;
        }
    }
    return best;
}

}  // namespace

void AllocateMatcher(MatcherBuffers& b, bool light) {
    if (!b.window) b.window = std::make_unique<uint8_t[]>(kWindowSize + kWindowPad);  // zeroed
    if (!b.prev) b.prev = std::make_unique<uint16_t[]>(kWSize);
    if (!b.keys) b.keys = std::make_unique<uint32_t[]>(kHashSize);
    if (!b.ring && !light) b.ring = std::make_unique<uint16_t[]>(size_t{kHashSize} << kRingBits);
}

namespace {

// One entry's run of the matcher; kFast selects the fast search and the rings it reads. The sink is the
// block coder, or a worker's symbol recorder; kTrack adds the notes and the stop of a worker's parse.
template <bool kFast, class Sink = BlockCoder, bool kTrack = false>
class Matcher : WindowWalk<Matcher<kFast, Sink, kTrack>, Sink> {
    using Walk = WindowWalk<Matcher<kFast, Sink, kTrack>, Sink>;
    friend Walk;
    using Walk::FillWindow;
    using Walk::FirstRead;
    using Walk::FlushLast;
    using Walk::FlushNotLast;
    using Walk::blockStart_;
    using Walk::coder_;
    using Walk::eof_;
    using Walk::io_;
    using Walk::lookahead_;
    using Walk::strstart_;
    using Walk::window_;

public:
    Matcher(MatcherBuffers& buf, Sink& coder, DeflateIO& io, const LevelParams& lp, ParseTrack* track = nullptr)
        : Walk(buf.window.get(), coder, io), buf_(buf), prev_(buf.prev.get()), keys_(buf.keys.get()),
          ring_(buf.ring.get()), lp_(lp), sp_{lp.good, lp.nice, lp.chain}, track_(track) {
        if (track_ != nullptr) checkAt_ = track_->start;
    }

    // A worker's start at position `start` (a multiple of 32768, at least 65536) of the input, `before`
    // being the 32768 bytes in front of it; io delivers the input from `start` on. The window, its
    // numbering and the chains are set up as the one-thread run has them right after its slide near
    // `start`: the lower half holds the bytes before, the upper half first a copy of them (a slide leaves
    // the upper half as it was, and bytes past the end of the input stay visible to the search), then the
    // input; and every position in front is entered. The parse then starts afresh at `start`.
    uint64_t RunFrom(uint64_t start, const uint8_t* before) {
        std::fill(keys_, keys_ + kHashSize, uint32_t{0});
        std::memcpy(window_, before, kWSize);
        std::memcpy(window_ + kWSize, before, kWSize);
        origin_ = start - kWSize;
        strstart_ = kWSize;
        const unsigned n = io_.ReadEntryData(window_ + kWSize, kWSize);
        lookahead_ = n > kWSize ? 0 : n;
        if (n == 0) eof_ = true;
        insH_ = window_[0];
        insH_ = ((insH_ << kHashShift) ^ window_[1]) & kHashMask;
        for (unsigned p = 0; p < kWSize; ++p) Insert(p);
        blockStart_ = static_cast<int32_t>(kWSize);
        if (lookahead_ < kMinLookahead) FillWindow();
        return lp_.lazyMode ? RunLazy() : RunFast();
    }

    uint64_t Run() {
        std::fill(keys_, keys_ + kHashSize, uint32_t{0});

        if (FirstRead()) {
            insH_ = window_[0];
            insH_ = ((insH_ << kHashShift) ^ window_[1]) & kHashMask;
        }
        return lp_.lazyMode ? RunLazy() : RunFast();
    }

private:
    // `entered`: the current position was entered just now, so the rings hold its chain (otherwise the
    // candidate is left over from an earlier position and only the links can be followed).
    // `key` is the current position's key, `matchStart` receives the start of a longer match.
    // Near the end of the input a match as long as the lookahead is good enough: the search takes the
    // first candidate that reaches the end rather than one that goes on further into the bytes past it
    // (the window's contents from before its last slide).
    unsigned LongestMatch(unsigned strstart, unsigned cur, unsigned prevLength, bool entered, unsigned key,
                          unsigned lookahead, unsigned& matchStart) {
        SearchParams sp = sp_;
        if (sp.nice > lookahead) sp.nice = lookahead;
        if constexpr (kFast) {
            if (entered) {
                const uint32_t k = keys_[key];
                const RingView ring{ring_ + (key << kRingBits), ((k >> 16) - 1u) & kRingMask, k >> 24,
                                    static_cast<uint16_t>(base_ + strstart)};
                return LongestMatchFast(window_, prev_, ring, strstart, cur, prevLength, sp, matchStart);
            }
        }
        return LongestMatchPortable(window_, prev_, strstart, cur, prevLength, sp, matchStart);
    }
    unsigned LongestMatch(unsigned strstart, unsigned cur, unsigned prevLength, bool entered) {
        return LongestMatch(strstart, cur, prevLength, entered, insH_, lookahead_, matchStart_);
    }

    // Enters position p under the key of its next three bytes; returns the previous head of that key.
    unsigned Insert(unsigned p) { return Insert(p, insH_, base_); }
    // The same on a caller's copy of the rolling key (and of the ring numbering's base).
    unsigned Insert(unsigned p, unsigned& insH, const uint32_t base) {
        insH = ((insH << kHashShift) ^ window_[p + 2]) & kHashMask;
        const unsigned key = insH;
        const uint32_t k = keys_[key];
        const unsigned candidate = k & 0xFFFF;
        prev_[p & kWMask] = static_cast<uint16_t>(candidate);
        if constexpr (kFast) {
            const unsigned n = (k >> 16) & 0xFF;
            const unsigned run = candidate == 0 ? 1 : std::min((k >> 24) + 1, kRing);
            ring_[(key << kRingBits) + (n & kRingMask)] = static_cast<uint16_t>(base + p);
            keys_[key] = p | (((n + 1) & 0xFF) << 16) | (run << 24);
            // The key table and the ring line of a position a few bytes ahead, so that they are at hand
            // when it is entered and searched.
            const uint8_t* ahead = window_ + p + kPrefetchAhead;
            const unsigned far = ((ahead[4] << 10) ^ (ahead[5] << kHashShift) ^ ahead[6]) & kHashMask;
            __builtin_prefetch(keys_ + far, 1);
            const unsigned near = ((ahead[0] << 10) ^ (ahead[1] << kHashShift) ^ ahead[2]) & kHashMask;
            __builtin_prefetch(ring_ + (near << kRingBits) + ((keys_[near] >> 16) & kRingMask), 1);
        } else {
            keys_[key] = (k & 0xFFFF0000u) | p;
        }
        return candidate;
    }

    // The chains, the rings' numbering and the pending match move with the window.
    void AfterSlide() {
        matchStart_ -= kWSize;
        for (unsigned i = 0; i < kHashSize; ++i) {
            const uint32_t k = keys_[i];
            keys_[i] = (k & 0xFFFF0000u) | ((k & 0xFFFF) >= kWSize ? (k & 0xFFFF) - kWSize : 0);
        }
        for (unsigned i = 0; i < kWSize; ++i) prev_[i] = prev_[i] >= kWSize ? prev_[i] - kWSize : 0;
        base_ += kWSize;
        origin_ += kWSize;
        if constexpr (kTrack) {
            if (track_->abort != nullptr && track_->abort->load(std::memory_order_relaxed)) throw WorkerAborted{};
        }
    }

    uint64_t RunFast() {
        unsigned matchLength = 0;
        unsigned hashHead = 0;
        const unsigned maxInsert = lp_.lazy;
        while (lookahead_ != 0) {
            const bool entered = lookahead_ >= kMinMatch;
            if (entered) hashHead = Insert(strstart_);
            if (hashHead != 0 && strstart_ - hashHead <= kMaxDist) {
                matchLength = LongestMatch(strstart_, hashHead, kMinMatch - 1, entered);
                if (matchLength > lookahead_) matchLength = lookahead_;
            }
            bool flush;
            if (matchLength >= kMinMatch) {
                flush = coder_.RecordMatch(strstart_ - matchStart_, matchLength, strstart_, blockStart_);
                lookahead_ -= matchLength;
                if (matchLength <= maxInsert) {
                    matchLength--;
                    do {
                        strstart_++;
                        hashHead = Insert(strstart_);
                    } while (--matchLength != 0);
                    strstart_++;
                } else {
                    strstart_ += matchLength;
                    matchLength = 0;
                    insH_ = window_[strstart_];
                    insH_ = ((insH_ << kHashShift) ^ window_[strstart_ + 1]) & kHashMask;
                }
            } else {
                flush = coder_.RecordLiteral(window_[strstart_], strstart_, blockStart_);
                lookahead_--;
                strstart_++;
            }
            if (flush) FlushNotLast();
            if (lookahead_ < kMinLookahead) FillWindow();
        }
        return FlushLast();
    }

    // Lazy mode keeps its hot state in locals (stores into the tables could otherwise alias the members)
    // and hands it back around the calls that use the members: flushes and refills.
    uint64_t RunLazy() {
        unsigned matchLength = kMinMatch - 1;
        unsigned hashHead = 0;
        bool matchAvailable = false;
        const unsigned maxLazy = lp_.lazy;
        unsigned strstart = strstart_, lookahead = lookahead_, matchStart = matchStart_, insH = insH_;
        uint32_t base = base_;
        auto store = [&] {
            strstart_ = strstart;
            lookahead_ = lookahead;
            matchStart_ = matchStart;
        };
        auto load = [&] {
            strstart = strstart_;
            lookahead = lookahead_;
            matchStart = matchStart_;
            base = base_;
        };
        while (lookahead != 0) {
            if constexpr (kTrack) {
                if (origin_ + strstart >= checkAt_ && !Note(origin_ + strstart, matchLength, matchAvailable)) {
                    store();
                    return 0;
                }
            }
            const bool entered = lookahead >= kMinMatch;
            if (entered) hashHead = Insert(strstart, insH, base);
            unsigned prevLength = matchLength;
            const unsigned prevMatch = matchStart;
            matchLength = kMinMatch - 1;
            if (hashHead != 0 && prevLength < maxLazy && strstart - hashHead <= kMaxDist) {
                matchLength = LongestMatch(strstart, hashHead, prevLength, entered, insH, lookahead, matchStart);
                if (matchLength > lookahead) matchLength = lookahead;
                if (matchLength == kMinMatch && strstart - matchStart > kTooFar) matchLength = kMinMatch - 1;
            }
            if (prevLength >= kMinMatch && matchLength <= prevLength) {
                // The previous match is at least as good: take it.
                const bool flush = coder_.RecordMatch(strstart - 1 - prevMatch, prevLength, strstart, blockStart_);
                lookahead -= prevLength - 1;
                prevLength -= 2;
                do {
                    strstart++;
                    hashHead = Insert(strstart, insH, base);
                } while (--prevLength != 0);
                matchAvailable = false;
                matchLength = kMinMatch - 1;
                strstart++;
                if (flush) {
                    store();
                    FlushNotLast();
                }
            } else if (matchAvailable) {
                // The match here is longer: the previous position becomes a literal.
                if (coder_.RecordLiteral(window_[strstart - 1], strstart, blockStart_)) {
                    store();
                    FlushNotLast();
                }
                strstart++;
                lookahead--;
            } else {
                matchAvailable = true;
                strstart++;
                lookahead--;
            }
            if (lookahead < kMinLookahead) {
                store();
                FillWindow();
                load();
            }
        }
        if (matchAvailable) coder_.RecordLiteral(window_[strstart - 1], strstart, blockStart_);
        store();
        insH_ = insH;
        return FlushLast();
    }

    // Notes the state of the iteration at position pos; false when the parse is to stop here.
    bool Note(uint64_t pos, unsigned matchLength, bool matchAvailable) {
        const ParseTrack& t = *track_;
        if (pos >= t.stop) return false;
        const uint32_t note = matchLength == kMinMatch - 1
                                  ? (static_cast<uint32_t>(coder_.symbols.size()) + 1) |
                                        (matchAvailable ? kPendingLiteral : 0u)
                                  : 0u;
        if (pos < t.headEnd) (*t.head)[pos - t.start] = note;
        if (pos >= t.end) (*t.tail)[pos - t.end] = note;
        checkAt_ = pos < t.headEnd || pos >= t.end ? pos + 1 : t.end;
        return true;
    }

    MatcherBuffers& buf_;
    uint16_t* const prev_;
    uint32_t* const keys_;
    uint16_t* const ring_;
    uint32_t base_ = 0;  // the rings' number of window position 0: moves with every slide
    const LevelParams lp_;
    const SearchParams sp_;
    ParseTrack* const track_;
    uint64_t origin_ = 0;   // input position of window position 0
    uint64_t checkAt_ = 0;  // next iteration position the track wants to see

    unsigned matchStart_ = 0;
    unsigned insH_ = 0;
};

template <bool kFast>
void RunTrackedWith(MatcherBuffers& buf, SymbolRecorder& rec, DeflateIO& in, const LevelParams& lp,
                    ParseTrack& track, uint64_t start, const uint8_t* before) {
    Matcher<kFast, SymbolRecorder, true> m(buf, rec, in, lp, &track);
    if (start == 0) {
        m.Run();
    } else {
        m.RunFrom(start, before);
    }
}

}  // namespace

uint64_t RunMatcher(MatcherBuffers& buf, BlockCoder& coder, DeflateIO& io, const LevelParams& lp, bool fast) {
    return fast ? Matcher<true>(buf, coder, io, lp).Run() : Matcher<false>(buf, coder, io, lp).Run();
}

void RunTracked(MatcherBuffers& buf, SymbolRecorder& rec, DeflateIO& in, const LevelParams& lp, ParseTrack& track,
                bool fast, uint64_t start, const uint8_t* before) {
    if (fast)
        RunTrackedWith<true>(buf, rec, in, lp, track, start, before);
    else
        RunTrackedWith<false>(buf, rec, in, lp, track, start, before);
}

}  // namespace archive::codec
