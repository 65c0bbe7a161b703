// One entry on several threads (levels 4-9): the input cut into chunks that workers parse with the matcher,
// the parses joined where they meet, and the joined symbols replayed through the block coder on the
// caller's thread, so that the output, the reads and the writes are those of the one-thread run. How and
// why this holds: deflate_parallel.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/codec/deflate.h"
#include "archive/codec/deflate_io.h"
#include "archive/codec/deflate_tables.h"

namespace archive::codec {

// The smallest input shared out: a first chunk and half of the next (the first tail's room).
uint64_t ShareableSize(size_t chunk);

// Compresses the entry on `workers` worker threads (lazy levels only; io must be able to read ahead) into
// the state's block coder, which the caller has started; an input shorter than ShareableSize runs on the
// caller's thread. Returns the compressed size; `merges` receives the pairs of chunks parsed again as one.
uint64_t DeflateParallel(Deflater::State& st, DeflateIO& io, const LevelParams& lp, unsigned workers,
                         unsigned& merges);

}  // namespace archive::codec
