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
// the one-thread run (see "One entry on several threads" below).
#include "archive/codec/deflate.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <vector>

#include "archive/codec/deflate_tables.h"
#include "archive/codec/trees.h"
#include "archive/parallel/work_pool.h"

namespace archive::codec {

namespace {

constexpr unsigned kWSize = 32768;
constexpr unsigned kWindowSize = 2 * kWSize;
constexpr unsigned kWMask = kWSize - 1;
constexpr unsigned kHashSize = 32768;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5;
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr unsigned kMaxDist = kWSize - kMinLookahead;          // 32506
constexpr unsigned kSlideAt = kWSize + kMaxDist;               // 65274
constexpr unsigned kFirstRead = 32768;
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

// The matcher's working buffers, allocated once per archive operation.
struct MatcherBuffers {
    std::unique_ptr<uint8_t[]> window;
    std::unique_ptr<uint16_t[]> prev;
    // Per key: the head of its chain (the most recent position entered under it; bits 0-15) and, for
    // the fast search, the number of positions entered (bits 16-23, modulo 256) and the length of the
    // ring's run (bits 24-31). Kept together so that entering a position touches one cache line.
    std::unique_ptr<uint32_t[]> keys;
    // The fast search's rings: kRing positions per key.
    std::unique_ptr<uint16_t[]> ring;
};

// Without rings (`light`), only the portable search can run on the buffers: 256 KiB instead of 8.3 MiB.
void AllocateMatcher(MatcherBuffers& b, bool light = false) {
    if (!b.window) b.window = std::make_unique<uint8_t[]>(kWindowSize + kWindowPad);  // zeroed
    if (!b.prev) b.prev = std::make_unique<uint16_t[]>(kWSize);
    if (!b.keys) b.keys = std::make_unique<uint32_t[]>(kHashSize);
    if (!b.ring && !light) b.ring = std::make_unique<uint16_t[]>(size_t{kHashSize} << kRingBits);
}

struct Deflater::State : MatcherBuffers {
    BlockCoder coder;
    // Set while an entry runs; an entry that ended by an exception leaves the window uncleared, and the
    // next one clears it first.
    bool windowDirty = false;
    MatchSearch search = MatchSearch::Fast;

    // Several threads: the setting, the workers and their matchers' buffers (kept between entries).
    unsigned threads = 0;
    size_t chunk = Deflater::kDefaultChunk;
    std::unique_ptr<parallel::WorkPool> pool;
    std::mutex spareMutex;
    std::condition_variable spareBack;                    // a worker gave its buffers back
    std::vector<std::unique_ptr<MatcherBuffers>> owned;  // the workers' own
    std::vector<MatcherBuffers*> spare;                   // not in use by a worker now
    std::vector<MatcherBuffers> light;                    // entries compressed ahead: buffers without rings
    std::vector<MatcherBuffers*> lightSpare;
    // While an entry runs on workers, the caller's chains and rings (the replay needs only its window)
    // are lent to one of them in this.
    MatcherBuffers lent;
};

namespace {

// The workers, made on first use and kept for the operation.
parallel::WorkPool& PoolOf(Deflater::State& st, unsigned workers) {
    if (!st.pool || st.pool->Threads() != workers) {
        st.pool.reset();
        st.pool = std::make_unique<parallel::WorkPool>(workers);
    }
    return *st.pool;
}

// A worker's matcher buffers: spare ones, or new ones. Sets with rings stay at one per worker: the
// caller's own, lent while an entry is shared out, and one more per further worker. A piece of a shared
// entry always finds one (no more pieces run at once than there are workers, and while they run the
// caller's set is lent); an entry compressed ahead takes a spare one or, when there is none, a set
// without rings (`light`). Allocation happens outside the lock.
MatcherBuffers* TakeSpare(Deflater::State& st, unsigned workers, bool ahead, bool& light) {
    light = false;
    {
        std::lock_guard<std::mutex> lock(st.spareMutex);
        if (!st.spare.empty()) {
            MatcherBuffers* buf = st.spare.back();
            st.spare.pop_back();
            return buf;
        }
        if (ahead && st.owned.size() + 1 >= workers) {
            light = true;
            if (!st.lightSpare.empty()) {
                MatcherBuffers* buf = st.lightSpare.back();
                st.lightSpare.pop_back();
                return buf;
            }
            st.light.reserve(workers);  // never grows past it: the pointers stay valid
            if (st.light.size() < workers) return &st.light.emplace_back();
        }
        st.owned.push_back(std::make_unique<MatcherBuffers>());
        return st.owned.back().get();
    }
}

void GiveBack(Deflater::State& st, MatcherBuffers* buf, bool light) {
    {
        std::lock_guard<std::mutex> lock(st.spareMutex);
        (light ? st.lightSpare : st.spare).push_back(buf);
    }
    st.spareBack.notify_all();
}

// Where a worker's parse keeps what the chunk driver needs (see "One entry on several threads" below): the positions
// it starts and stops at, and the iterations at which its state is one of the two that fix everything
// after them (no match pending; a literal pending or not).
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
constexpr uint32_t kPendingLiteral = 0x80000000u;

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

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// One entry on several threads (lazy mode only)
//
// The input is cut into chunks at multiples of 32768 (the first at least 64 KiB long). A worker parses
// chunk k from its start, its window and chains set up from the 32 KiB in front (Matcher::RunFrom), and
// goes on past the chunk's end into the next chunk for a short stretch (the tail). In lazy mode every
// position enters the chains, so from the start on, the parse depends only on the input and on the
// small state carried from one iteration to the next; at an iteration where no match is pending, that
// state is just whether a literal is pending. The worker notes such iterations in the first stretch of
// its chunk (the head) and in its tail. Where chunk k's tail and chunk k+1's head note the same state
// at the same position, the two parses are the same from there on: chunk k's symbols before that point
// and chunk k+1's from it are the one-thread parse (chunk 0's start being the true one). A pair that
// does not meet within the tail (long runs keep two parses out of step) is parsed again as one chunk.
//
// The caller's thread replays the joined symbols through the block coder (Replayer): it keeps the
// window, reads the input and ends blocks exactly as the one-thread matcher does at the same symbols,
// so reads, writes, block ends, stored blocks and the text decision come out the same. The input is
// fetched ahead on the caller's thread; the progress and the CRC of each piece are only accounted when
// the replay reads it, and a failed read raises its exception at the read that would have met it.
//
// Levels 1 to 3 do not enter the positions inside long matches, so their chains depend on the parse:
// they stay on one thread.

namespace {

constexpr uint64_t kTailLength = 16384;  // how far a chunk's parse goes on to meet the next one
constexpr uint64_t kDataPastStop = 1024;  // input a worker holds past its stop: a search reads 262 ahead
constexpr uint64_t kPeriodBlock = 512;

// The smallest input shared out: a first chunk and half of the next (the first tail's room).
uint64_t ShareableSize(size_t chunk) { return std::max<uint64_t>(chunk, 2 * kWSize) + chunk / 2; }

// The bytes fetched ahead, from the replay's read position on, in blocks of one piece each.
class InputStream {
public:
    explicit InputStream(DeflateIO& io, size_t piece) : io_(io), piece_(piece) {}

    uint64_t Fetched() const { return fetched_; }
    bool Ended() const { return eof_ || error_ != nullptr; }

    // Fetches until at least `upTo` bytes are in, or the input ends or fails.
    void FetchTo(uint64_t upTo) {
        while (!Ended() && fetched_ < upTo) {
            if (blocks_.empty() || blocks_.back().size() == piece_) blocks_.emplace_back().reserve(piece_);
            std::vector<uint8_t>& b = blocks_.back();
            const size_t old = b.size();
            b.resize(piece_);
            size_t n = 0;
            try {
                n = std::min(io_.FetchEntryData(b.data() + old, piece_ - old), piece_ - old);
            } catch (...) {
                error_ = std::current_exception();
            }
            b.resize(old + n);
            fetched_ += n;
            if (!error_ && n == 0) eof_ = true;  // a short read may be followed by a failure
        }
    }

    // Copies [pos, pos + n) out; the bytes must have been fetched and not dropped.
    void CopyOut(uint64_t pos, size_t n, uint8_t* out) const {
        while (n > 0) {
            const uint64_t rel = pos - start_;
            const std::vector<uint8_t>& b = blocks_[static_cast<size_t>(rel / piece_)];
            const size_t off = static_cast<size_t>(rel % piece_);
            const size_t k = std::min(n, b.size() - off);
            std::memcpy(out, b.data() + off, k);
            out += k;
            pos += k;
            n -= k;
        }
    }

    // Bytes before `pos` are needed by no chunk still to be made.
    void KeepFrom(uint64_t pos) {
        keep_ = pos;
        Drop();
    }

    // What ReadEntryData would have given at this point of the input.
    unsigned Read(uint8_t* buffer, unsigned count) {
        if (count == 0) return 0;
        FetchTo(read_ + count);
        const uint64_t available = fetched_ - read_;
        if (available < count && error_) std::rethrow_exception(error_);
        const unsigned n = static_cast<unsigned>(std::min<uint64_t>(count, available));
        if (n == 0) return 0;
        CopyOut(read_, n, buffer);
        read_ += n;
        io_.AccountEntryData(buffer, n);
        Drop();
        return n;
    }

private:
    void Drop() {
        const uint64_t from = std::min(read_, keep_);
        while (blocks_.size() > 1 && start_ + piece_ <= from) {
            blocks_.pop_front();
            start_ += piece_;
        }
    }

    DeflateIO& io_;
    const size_t piece_;
    std::deque<std::vector<uint8_t>> blocks_;  // all full but the last
    uint64_t start_ = 0;    // input position of the first block
    uint64_t fetched_ = 0;  // input position after the last byte fetched
    uint64_t read_ = 0;     // the replay's read position
    uint64_t keep_ = 0;
    bool eof_ = false;
    std::exception_ptr error_;
};

// The caller's routines with reads served from the input fetched ahead.
class ReplayIO : public DeflateIO {
public:
    ReplayIO(DeflateIO& io, InputStream& input) : io_(io), input_(input) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override { return input_.Read(buffer, count); }
    void WriteArchiveData(const uint8_t* buffer, size_t n) override { io_.WriteArchiveData(buffer, n); }

private:
    DeflateIO& io_;
    InputStream& input_;
};

// A worker's input: a piece of memory, handed out in full reads.
class MemoryInput : public DeflateIO {
public:
    MemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        const size_t n = std::min<size_t>(count, size_ - pos_);
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<unsigned>(n);
    }
    void WriteArchiveData(const uint8_t*, size_t) override {}

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

struct Chunk {
    uint64_t start = 0;    // first position parsed
    uint64_t headEnd = 0;  // end of the head: the previous chunk's stop
    uint64_t end = 0;      // where the next chunk starts (the input's end for the last chunk)
    uint64_t stop = 0;     // end of the tail
    bool last = false;
    uint64_t dataStart = 0;  // input position of data[0]
    std::vector<uint8_t> data;

    std::vector<uint32_t> symbols;
    std::vector<uint32_t> head;
    std::vector<uint32_t> tail;
    size_t in = 0;   // symbols[in, out) are the one-thread parse's
    size_t out = 0;
    std::exception_ptr error;
    bool done = false;  // under the driver's mutex
};

// Runs the chunks on the workers and hands out the joined symbols in order.
class ChunkDriver {
public:
    ChunkDriver(Deflater::State& st, DeflateIO& io, InputStream& input, const LevelParams& lp, size_t chunk,
                unsigned workers)
        : st_(st), io_(io), input_(input), lp_(lp), chunk_(chunk), workers_(workers), ahead_(workers + 2) {}

    ~ChunkDriver() {
        abort_ = true;
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return running_ == 0; });
    }

    // The next stretch of the one-thread parse's symbols; false at the end.
    bool Next(const uint32_t*& symbols, size_t& count) {
        if (current_) {
            queue_.pop_front();
            current_.reset();
        }
        CreateAhead();
        if (queue_.empty()) return false;
        for (;;) {
            CreateAhead();
            Chunk& c = *queue_.front();
            Wait(c);
            if (!c.last) {
                Chunk& n = *queue_[1];
                Wait(n);
                if (!Join(c, n)) {
                    // The two parses did not meet: parse both as one chunk.
                    auto merged = Merge(c, n);
                    queue_.pop_front();
                    queue_.pop_front();
                    queue_.push_front(merged);
                    Dispatch(merged);
                    ++merges_;
                    continue;
                }
            } else {
                c.out = c.symbols.size();
            }
            current_ = queue_.front();
            symbols = c.symbols.data() + c.in;
            count = c.out - c.in;
            return true;
        }
    }

    unsigned Merges() const { return merges_; }

private:
    void CreateAhead() {
        while (!created_all_ && queue_.size() < ahead_) Create();
    }

    void Create() {
        auto c = std::make_shared<Chunk>();
        c->start = next_;
        c->headEnd = prevStop_;
        const uint64_t end = next_ == 0 ? std::max<uint64_t>(chunk_, 2 * kWSize) : next_ + chunk_;
        const uint64_t half = chunk_ / 2;
        input_.FetchTo(end + half);
        if (input_.Fetched() < end + half) {
            c->last = true;
            c->end = c->stop = input_.Fetched();
            created_all_ = true;
        } else {
            c->end = end;
            c->stop = TailEnd(end, end + half - kDataPastStop);
        }
        c->dataStart = c->start == 0 ? 0 : c->start - kWSize;
        const uint64_t dataEnd = c->last ? c->end : c->stop + kDataPastStop;
        c->data.resize(static_cast<size_t>(dataEnd - c->dataStart));
        input_.CopyOut(c->dataStart, c->data.size(), c->data.data());
        next_ = c->end;
        prevStop_ = c->stop;
        input_.KeepFrom(next_ - kWSize);
        queue_.push_back(c);
        Dispatch(c);
    }

    // The tail's end: kTailLength past the chunk's end, and as far again past any stretch that repeats
    // itself with a short period (runs of one byte and the like), which keeps two parses out of step.
    uint64_t TailEnd(uint64_t end, uint64_t cap) const {
        uint64_t stop = std::min(end + kTailLength, cap);
        uint8_t p[kPeriodBlock];
        for (uint64_t pos = end; pos + kPeriodBlock <= stop; pos += kPeriodBlock) {
            input_.CopyOut(pos, kPeriodBlock, p);
            if (std::memcmp(p, p + 8, kPeriodBlock - 8) == 0) stop = std::min(pos + kPeriodBlock + kTailLength, cap);
        }
        return stop;
    }

    static std::shared_ptr<Chunk> Merge(const Chunk& a, const Chunk& b) {
        auto m = std::make_shared<Chunk>();
        m->start = a.start;
        m->headEnd = a.headEnd;
        m->end = b.end;
        m->stop = b.stop;
        m->last = b.last;
        m->dataStart = a.dataStart;
        m->data.assign(a.data.begin(), a.data.begin() + static_cast<ptrdiff_t>(b.start - a.dataStart));
        m->data.insert(m->data.end(), b.data.begin() + static_cast<ptrdiff_t>(b.start - b.dataStart), b.data.end());
        m->in = a.in;
        return m;
    }

    // Finds where chunk a's tail meets chunk b's head; sets a.out and b.in.
    static bool Join(Chunk& a, Chunk& b) {
        for (uint64_t q = a.end; q < a.stop; ++q) {
            const uint32_t x = a.tail[q - a.end];
            const uint32_t y = b.head[q - b.start];
            if (x != 0 && y != 0 && (x & kPendingLiteral) == (y & kPendingLiteral)) {
                a.out = (x & ~kPendingLiteral) - 1;
                b.in = (y & ~kPendingLiteral) - 1;
                return a.out >= a.in;
            }
        }
        return false;
    }

    void Wait(Chunk& c) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!c.done) {
            if (done_.wait_for(lock, std::chrono::milliseconds(10)) == std::cv_status::timeout && !c.done) {
                lock.unlock();
                io_.WaitingForWorkers();
                lock.lock();
            }
        }
        if (c.error) std::rethrow_exception(c.error);
    }

    void Dispatch(std::shared_ptr<Chunk> c) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++running_;
        }
        try {
            st_.pool->Submit([this, c] { Parse(*c); });
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            --running_;
            c->done = true;
            throw;
        }
    }

    // On a worker.
    void Parse(Chunk& c) {
        MatcherBuffers* buf = nullptr;
        try {
            if (abort_) throw WorkerAborted{};
            bool light = false;
            buf = TakeSpare(st_, workers_, false, light);
            AllocateMatcher(*buf);
            ParseTrack track;
            track.start = c.start;
            track.headEnd = c.headEnd;
            track.end = c.last ? UINT64_MAX : c.end;
            track.stop = c.last ? UINT64_MAX : c.stop;
            c.head.assign(c.headEnd - c.start, 0);
            c.tail.assign(c.last ? 0 : c.stop - c.end, 0);
            track.head = &c.head;
            track.tail = &c.tail;
            track.abort = &abort_;
            SymbolRecorder rec;
            // Room for a symbol per byte: pages are only touched as symbols come, and none is moved.
            rec.symbols.reserve(static_cast<size_t>(c.stop - c.start) + 1);
            const size_t skip = static_cast<size_t>(c.start - c.dataStart);
            MemoryInput in(c.data.data() + skip, c.data.size() - skip);
            if (st_.search == Deflater::MatchSearch::Fast)
                Run<true>(*buf, rec, in, track, c);
            else
                Run<false>(*buf, rec, in, track, c);
            c.symbols = std::move(rec.symbols);
        } catch (const WorkerAborted&) {
        } catch (...) {
            c.error = std::current_exception();
        }
        if (buf != nullptr) GiveBack(st_, buf, false);
        std::lock_guard<std::mutex> lock(mutex_);
        c.done = true;
        --running_;
        done_.notify_all();
    }

    template <bool kFast>
    void Run(MatcherBuffers& buf, SymbolRecorder& rec, MemoryInput& in, ParseTrack& track, const Chunk& c) {
        Matcher<kFast, SymbolRecorder, true> m(buf, rec, in, lp_, &track);
        if (c.start == 0) {
            std::memset(buf.window.get(), 0, kWindowSize);
            m.Run();
        } else {
            m.RunFrom(c.start, c.data.data());
        }
    }

    Deflater::State& st_;
    DeflateIO& io_;
    InputStream& input_;
    const LevelParams lp_;
    const size_t chunk_;
    const unsigned workers_;
    const size_t ahead_;  // chunks created ahead of the replay, the one replayed included

    std::deque<std::shared_ptr<Chunk>> queue_;
    std::shared_ptr<Chunk> current_;
    uint64_t next_ = 0;
    uint64_t prevStop_ = 0;
    bool created_all_ = false;
    unsigned merges_ = 0;

    std::atomic<bool> abort_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    unsigned running_ = 0;
};

// The caller's half: the lazy matcher's walk over the window without the search, fed with symbols.
class Replayer : WindowWalk<Replayer, BlockCoder> {
    friend WindowWalk<Replayer, BlockCoder>;

public:
    Replayer(uint8_t* window, BlockCoder& coder, DeflateIO& io) : WindowWalk(window, coder, io) {}

    void Start() { FirstRead(); }

    void Feed(const uint32_t* symbols, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t v = symbols[i];
            // The iteration at the symbol's start: it hands on a pending literal.
            if (pending_) {
                if (coder_.RecordLiteral(literal_, strstart_, blockStart_)) FlushNotLast();
            }
            strstart_++;
            lookahead_--;
            if (lookahead_ < kMinLookahead) FillWindow();
            const uint32_t distance = v >> 8;
            if (distance == 0) {
                pending_ = true;
                literal_ = static_cast<uint8_t>(v);
            } else {
                // The iteration one further takes the match.
                const unsigned length = (v & 0xFF) + kMinMatch;
                const bool flush = coder_.RecordMatch(distance, length, strstart_, blockStart_);
                lookahead_ -= length - 1;
                strstart_ += length - 1;
                if (flush) FlushNotLast();
                if (lookahead_ < kMinLookahead) FillWindow();
                pending_ = false;
            }
        }
    }

    uint64_t Finish() {
        if (pending_) coder_.RecordLiteral(literal_, strstart_, blockStart_);
        return FlushLast();
    }

private:
    void AfterSlide() {}

    bool pending_ = false;
    uint8_t literal_ = 0;
};

uint64_t DeflateParallel(Deflater::State& st, DeflateIO& io, const LevelParams& lp, unsigned workers,
                         unsigned& merges) {
    const size_t chunk = st.chunk;
    PoolOf(st, workers);
    InputStream input(io, size_t{1} << 20);
    ReplayIO replayIO(io, input);
    const uint64_t shareable = ShareableSize(chunk);
    input.FetchTo(shareable);
    if (input.Fetched() < shareable) {
        // Too short to share out: one thread, on the bytes fetched already.
        return st.search == Deflater::MatchSearch::Fast ? Matcher<true>(st, st.coder, replayIO, lp).Run()
                                                        : Matcher<false>(st, st.coder, replayIO, lp).Run();
    }
    // Lends the caller's chains and rings to a worker until every worker is done.
    struct Lend {
        Deflater::State& st;
        explicit Lend(Deflater::State& s) : st(s) {
            st.lent.prev = std::move(st.prev);
            st.lent.keys = std::move(st.keys);
            st.lent.ring = std::move(st.ring);
            std::lock_guard<std::mutex> lock(st.spareMutex);
            st.spare.push_back(&st.lent);
        }
        ~Lend() {
            // An entry compressed ahead may hold them still: it gives them back when it ends.
            std::unique_lock<std::mutex> lock(st.spareMutex);
            st.spareBack.wait(lock, [this] {
                return std::find(st.spare.begin(), st.spare.end(), &st.lent) != st.spare.end();
            });
            st.spare.erase(std::remove(st.spare.begin(), st.spare.end(), &st.lent), st.spare.end());
            st.prev = std::move(st.lent.prev);
            st.keys = std::move(st.lent.keys);
            st.ring = std::move(st.lent.ring);
        }
    } lend(st);
    ChunkDriver driver(st, io, input, lp, chunk, workers);
    Replayer replay(st.window.get(), st.coder, replayIO);
    replay.Start();
    const uint32_t* symbols = nullptr;
    size_t count = 0;
    while (driver.Next(symbols, count)) replay.Feed(symbols, count);
    merges = driver.Merges();
    return replay.Finish();
}


// ---------------------------------------------------------------------------------------------------------
// Entries ahead of their turn
//
// A worker compresses a small entry's whole input, handed over in memory, with the one-thread matcher and
// block coder, into memory, noting each read and write in order. The caller plays them back at the
// entry's turn. A job no worker has started by then is called off: the caller compresses the entry itself.

// The state of a job: queued, running, done, called off.
enum class AheadState { Queued, Running, Done, CalledOff };

}  // namespace

struct AheadJob {
    std::vector<uint8_t> input;
    int level = 6;
    Deflater::MatchSearch search = Deflater::MatchSearch::Fast;
    unsigned workers = 1;
    std::vector<uint8_t> output;
    std::vector<int64_t> trace;  // in order: n > 0 a read of n bytes, n < 0 a write of -n bytes
    DeflateResult result;
    bool failed = false;
    std::mutex mutex;
    std::condition_variable ended;
    AheadState state = AheadState::Queued;
};

namespace {

class RecordingIO : public DeflateIO {
public:
    explicit RecordingIO(AheadJob& job) : job_(job) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        const size_t n = std::min<size_t>(count, job_.input.size() - pos_);
        if (n == 0) return 0;
        std::memcpy(buffer, job_.input.data() + pos_, n);
        pos_ += n;
        job_.trace.push_back(static_cast<int64_t>(n));
        return static_cast<unsigned>(n);
    }
    void WriteArchiveData(const uint8_t* buffer, size_t n) override {
        if (n == 0) return;
        job_.output.insert(job_.output.end(), buffer, buffer + n);
        job_.trace.push_back(-static_cast<int64_t>(n));
    }

private:
    AheadJob& job_;
    size_t pos_ = 0;
};

DeflateResult ResultOf(const BlockCoder& coder, int level, uint64_t size) {
    DeflateResult result;
    // The deflate option bits of the general purpose flags: fast for levels 1-2, maximum for 8-9.
    if (level <= 2)
        result.optionBits = 4;
    else if (level >= 8)
        result.optionBits = 2;
    result.compressedSize = size;
    result.stored = coder.StoredWhole();
    result.text = coder.Text();
    return result;
}

// On a worker.
void RunAhead(Deflater::State& st, AheadJob& job) {
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        if (job.state != AheadState::Queued) return;
        job.state = AheadState::Running;
    }
    bool ok = false;
    MatcherBuffers* buf = nullptr;
    bool light = false;
    try {
        buf = TakeSpare(st, job.workers, true, light);
        AllocateMatcher(*buf, light);
        std::memset(buf->window.get(), 0, kWindowSize);
        BlockCoder coder;
        coder.AllocateBuffers();
        RecordingIO io(job);
        job.output.reserve(job.input.size() / 2 + 64);
        coder.Start(io, job.level);
        const LevelParams& lp = kLevels[job.level];
        const uint64_t size = job.search == Deflater::MatchSearch::Fast && !light
                                  ? Matcher<true>(*buf, coder, io, lp).Run()
                                  : Matcher<false>(*buf, coder, io, lp).Run();
        job.result = ResultOf(coder, job.level, size);
        ok = true;
    } catch (...) {
        // The caller compresses the entry itself.
    }
    if (buf != nullptr) GiveBack(st, buf, light);
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        job.failed = !ok;
        job.state = AheadState::Done;
    }
    job.ended.notify_all();
}

}  // namespace

Deflater::Deflater() : state_(std::make_unique<State>()) {}
Deflater::~Deflater() {
    // The workers first: a job still running uses the state's buffers.
    state_->pool.reset();
}

size_t Deflater::AheadLimit() const {
    // What Deflate shares out among the workers (see ChunkDriver).
    return static_cast<size_t>(ShareableSize(state_->chunk));
}

std::shared_ptr<AheadJob> Deflater::CompressAhead(std::vector<uint8_t> input, int level) {
    State& st = *state_;
    auto job = std::make_shared<AheadJob>();
    job->input = std::move(input);
    job->level = std::clamp(level, 1, 9);
    job->search = st.search;
    job->workers = Threads();
    PoolOf(st, job->workers).Submit([&st, job] { RunAhead(st, *job); });
    return job;
}

const std::vector<uint8_t>& Deflater::AheadInput(const AheadJob& job) { return job.input; }

bool Deflater::AwaitAhead(AheadJob& job, DeflateIO& io) {
    std::unique_lock<std::mutex> lock(job.mutex);
    if (job.state == AheadState::Queued || job.state == AheadState::CalledOff) {
        job.state = AheadState::CalledOff;
        return false;
    }
    while (job.state != AheadState::Done) {
        if (job.ended.wait_for(lock, std::chrono::milliseconds(10)) == std::cv_status::timeout &&
            job.state != AheadState::Done) {
            lock.unlock();
            io.WaitingForWorkers();
            lock.lock();
        }
    }
    return !job.failed;
}

DeflateResult Deflater::ReplayAhead(const AheadJob& job, DeflateIO& io) {
    size_t in = 0;
    size_t out = 0;
    for (const int64_t step : job.trace) {
        if (step > 0) {
            io.AccountEntryData(job.input.data() + in, static_cast<unsigned>(step));
            in += static_cast<size_t>(step);
        } else {
            io.WriteArchiveData(job.output.data() + out, static_cast<size_t>(-step));
            out += static_cast<size_t>(-step);
        }
    }
    ++aheadReplays_;
    return job.result;
}

void Deflater::AllocateBuffers() {
    State& st = *state_;
    if (!st.window) st.windowDirty = false;
    AllocateMatcher(st);
    st.coder.AllocateBuffers();
}

void Deflater::ReleaseBuffers() {
    State& st = *state_;
    st.pool.reset();
    st.spare.clear();
    st.owned.clear();
    st.lightSpare.clear();
    st.light.clear();
    st.lent = MatcherBuffers{};
    st.window.reset();
    st.prev.reset();
    st.keys.reset();
    st.ring.reset();
    st.coder.ReleaseBuffers();
}

bool Deflater::HasBuffers() const {
    const State& st = *state_;
    return st.window && st.prev && st.keys && st.ring && st.coder.HasBuffers();
}

void Deflater::SetMatchSearch(MatchSearch search) { state_->search = search; }

void Deflater::SetThreads(unsigned threads) { state_->threads = threads; }

unsigned Deflater::Threads() const {
    // One worker per core by default, at most 16: each holds about 8 MB of chains and rings.
    return state_->threads == 0 ? std::min(parallel::WorkPool::Cores(), 16u) : state_->threads;
}

void Deflater::SetChunkSize(size_t bytes) {
    // A multiple of 32768, at least 65536 (see ChunkDriver).
    state_->chunk = std::max<size_t>(bytes / kWSize, 2) * kWSize;
}

DeflateResult Deflater::Deflate(DeflateIO& io, int level) {
    if (!HasBuffers()) AllocateBuffers();
    State& st = *state_;
    level = std::clamp(level, 1, 9);
    if (st.windowDirty) std::memset(st.window.get(), 0, kWindowSize);
    st.windowDirty = true;

    st.coder.Start(io, level);
    const LevelParams& lp = kLevels[level];
    const unsigned workers = Threads();
    lastMerges_ = 0;
    uint64_t size;
    if (lp.lazyMode && workers > 1 && io.CanReadAhead() && io.ExpectedEntrySize() >= AheadLimit()) {
        size = DeflateParallel(st, io, lp, workers, lastMerges_);
    } else {
        size = st.search == MatchSearch::Fast ? Matcher<true>(st, st.coder, io, lp).Run()
                                              : Matcher<false>(st, st.coder, io, lp).Run();
    }

    std::memset(st.window.get(), 0, kWindowSize - 1);
    st.windowDirty = false;
    return ResultOf(st.coder, level, size);
}

}  // namespace archive::codec
