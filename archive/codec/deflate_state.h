// The working state of a Deflater, shared by the compressor's rooms: the caller's matcher buffers and
// block coder, the settings, and the workers with the matcher buffers they borrow. The one-thread run
// (deflate.cpp), the chunk driver (deflate_parallel.cpp) and the entries compressed ahead
// (deflate_ahead.cpp) all work on it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/codec/deflate.h"
#include "archive/codec/deflate_matcher.h"
#include "archive/codec/trees.h"
#include "archive/parallel/work_pool.h"

namespace archive::codec {

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

// The workers, made on first use and kept for the operation.
parallel::WorkPool& PoolOf(Deflater::State& st, unsigned workers);

// A worker's matcher buffers: spare ones, or new ones. Sets with rings stay at one per worker: the
// caller's own, lent while an entry is shared out, and one more per further worker. A piece of a shared
// entry always finds one (no more pieces run at once than there are workers, and while they run the
// caller's set is lent); an entry compressed ahead takes a spare one or, when there is none, a set
// without rings (`light`). Allocation happens outside the lock.
MatcherBuffers* TakeSpare(Deflater::State& st, unsigned workers, bool ahead, bool& light);

// Hands a worker's set back (`light`: a set without rings) and wakes whoever waits for one.
void GiveBack(Deflater::State& st, MatcherBuffers* buf, bool light);

// What an entry's run tells the entry's header, from the block coder that wrote it.
DeflateResult ResultOf(const BlockCoder& coder, int level, uint64_t size);

}  // namespace archive::codec
