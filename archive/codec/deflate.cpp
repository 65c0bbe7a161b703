// Deflater: the compressor as the writer sees it. The work happens in rooms of its own:
//   deflate_matcher.cpp   the one-thread match search and parse, in front of the block coder (trees.cpp);
//   deflate_parallel.cpp  one large entry parsed on worker threads in chunks and the parses joined;
//   deflate_ahead.cpp     small entries compressed ahead of their turn on the workers and played back;
//   deflate_state.h       what they share: the buffers, the settings, the workers.
// Here: the buffers' lifetime, the settings, and the choice of room for each entry.
#include "archive/codec/deflate.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/codec/deflate_matcher.h"
#include "archive/codec/deflate_parallel.h"
#include "archive/codec/deflate_state.h"
#include "archive/codec/deflate_tables.h"
#include "archive/parallel/work_pool.h"

namespace archive::codec {

Deflater::Deflater() : state_(std::make_unique<State>()) {}
Deflater::~Deflater() {
    // The workers first: a job still running uses the state's buffers.
    state_->pool.reset();
}

size_t Deflater::AheadLimit() const {
    // What Deflate shares out among the workers (deflate_parallel.cpp).
    return static_cast<size_t>(ShareableSize(state_->chunk));
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
    // A multiple of 32768, at least 65536 (the chunks of deflate_parallel.cpp).
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
        size = RunMatcher(st, st.coder, io, lp, st.search == MatchSearch::Fast);
    }

    std::memset(st.window.get(), 0, kWindowSize - 1);
    st.windowDirty = false;
    return ResultOf(st.coder, level, size);
}

}  // namespace archive::codec
