// The Deflate compressor of the writer: an LZ77 matcher over a 32 KiB window with 15-bit hash chains
// (greedy for levels 1-3, lazy for 4-9) in front of the block coder, which buffers symbols, ends blocks,
// and writes each block in the cheapest of stored, fixed and dynamic form. An entry whose only block
// would not get smaller is written raw and switched to method 0 (whole-entry store).
//
// The output for a given input and level is fixed: the same bytes on every machine and every build, and
// for every number of worker threads.
//
// Deflater is the face the writer sees (deflate.cpp); the matcher (deflate_matcher.cpp), one entry shared
// out over worker threads (deflate_parallel.cpp) and entries compressed ahead of their turn
// (deflate_ahead.cpp) sit behind it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "archive/codec/deflate_io.h"

namespace archive::codec {

// What compressing an entry tells the entry's header.
struct DeflateResult {
    uint64_t compressedSize = 0;
    bool stored = false;      // written raw: the entry becomes a stored one (method 0)
    bool text = false;        // the first block's literals look like text
    uint16_t optionBits = 0;  // the deflate option bits of the general purpose flags (4 fast, 2 maximum)
};

// An entry compressed ahead of its turn (Deflater::CompressAhead; deflate_ahead.cpp).
struct AheadJob;

class Deflater {
public:
    Deflater();
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    // The six working buffers: allocated once per archive operation, released after it (also on failure).
    void AllocateBuffers();
    void ReleaseBuffers();
    bool HasBuffers() const;

    // Compresses one entry at `level` (1..9; values outside are clamped).
    DeflateResult Deflate(DeflateIO& io, int level);

    // How the match search compares bytes: Portable two at a time, Fast eight at a time. Both find the
    // same matches, so the output is the same; Fast is the default, tests run both.
    enum class MatchSearch { Portable, Fast };
    void SetMatchSearch(MatchSearch search);

    // Worker threads for levels 4-9 when the IO can read ahead (0: one per core, at most 16; 1: none,
    // everything on the caller's thread). The output is the same for every setting.
    void SetThreads(unsigned threads);
    unsigned Threads() const;
    // The piece of input a worker parses at a time (rounded down to a multiple of 32768, at least
    // 65536). The output is the same for every size; tests use small ones.
    static constexpr size_t kDefaultChunk = size_t{1} << 20;
    void SetChunkSize(size_t bytes);
    // Test hook: pairs of pieces of the last entry whose parses did not meet and were parsed again as one.
    unsigned LastMerges() const { return lastMerges_; }

    // Entries ahead of their turn (with more than one worker): the caller hands a small entry's whole
    // input, read ahead, to a worker, which compresses it with the one-thread matcher into memory and
    // notes the reads and writes that run makes. At the entry's turn the caller checks that the input is
    // still the entry's data (AheadInput), and ReplayAhead then gives its routines those reads
    // (AccountEntryData, for progress and CRC) and writes in their order: what Deflate would have done on
    // the same input, reads, writes, events and result alike. Entries of AheadLimit() bytes or more are
    // shared out by Deflate itself and are not taken ahead.
    size_t AheadLimit() const;
    std::shared_ptr<AheadJob> CompressAhead(std::vector<uint8_t> input, int level);
    static const std::vector<uint8_t>& AheadInput(const AheadJob& job);
    // At the entry's turn: waits for the job, letting the caller pump its messages (WaitingForWorkers);
    // false when no worker had started it (it is then called off) or it failed, so the entry is to be
    // compressed as usual.
    bool AwaitAhead(AheadJob& job, DeflateIO& io);
    DeflateResult ReplayAhead(const AheadJob& job, DeflateIO& io);
    // Test hook: entries of this operation that were replayed from a worker's run.
    unsigned AheadReplays() const { return aheadReplays_; }

    struct State;  // the working state (deflate_state.h)

private:
    std::unique_ptr<State> state_;
    unsigned lastMerges_ = 0;
    unsigned aheadReplays_ = 0;
};

}  // namespace archive::codec
