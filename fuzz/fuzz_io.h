// Shared pieces of the decoder fuzzers: the input source cuts the fuzzer's bytes into blocks of a size
// chosen by the input itself, and the sink counts (and hashes) the output without keeping it.
//
// Every fuzzer input starts with one byte that chooses the block size (0 -> 16000 as in extraction,
// otherwise 1 to 255), so the decoders see both their staged fast paths and one-byte deliveries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/codec/decoder.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZB_FUZZ_ASAN 1
#endif
#endif
#ifndef ZB_FUZZ_ASAN
#define ZB_FUZZ_ASAN 0
#endif
#if ZB_FUZZ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace fuzz {

// The input is copied once; the blocks are slices of that copy. Only the block handed out last is
// readable: the others are poisoned for AddressSanitizer, so a decoder that reads a block after asking
// for the next (or reads past the end of the input) is caught, without a heap copy per block.
class ChunkSource : public archive::codec::InputSource {
public:
    ChunkSource(const uint8_t* data, size_t size, size_t block)
        : copy_(data, data + size), size_(size), block_(block) {
        Poison(0, size_);
    }
    ~ChunkSource() override { Unpoison(0, size_); }
    ChunkSource(const ChunkSource&) = delete;
    ChunkSource& operator=(const ChunkSource&) = delete;

    size_t NextBlock(const uint8_t*& p) override {
        Poison(last_, pos_ - last_);
        if (pos_ >= size_) return 0;
        const size_t n = size_ - pos_ < block_ ? size_ - pos_ : block_;
        Unpoison(pos_, n);
        p = copy_.data() + pos_;
        last_ = pos_;
        pos_ += n;
        return n;
    }

private:
    void Poison(size_t at, size_t n) {
#if ZB_FUZZ_ASAN
        if (n) __asan_poison_memory_region(copy_.data() + at, n);
#endif
    }
    void Unpoison(size_t at, size_t n) {
#if ZB_FUZZ_ASAN
        if (n) __asan_unpoison_memory_region(copy_.data() + at, n);
#endif
    }

    std::vector<uint8_t> copy_;
    size_t size_;
    size_t block_;
    size_t pos_ = 0;
    size_t last_ = 0;
};

// Counts the output and folds it into a hash, eight bytes at a time and without coverage tracing
// (decoders can turn a few kilobytes of input into megabytes of output, so this must not be the slow
// part, and its loop has nothing to teach the fuzzer).
class HashSink : public archive::codec::OutputSink {
public:
    __attribute__((no_sanitize("coverage"))) void Write(const uint8_t* p, size_t n) override {
        total += n;
        size_t i = 0;
        for (; i + 8 <= n; i += 8) {
            uint64_t w;
            std::memcpy(&w, p + i, 8);
            Mix(w);
        }
        for (; i < n; ++i) Mix(p[i]);
    }
    uint64_t hash = 0xCBF29CE484222325ull;
    uint64_t total = 0;

private:
    __attribute__((no_sanitize("coverage"))) void Mix(uint64_t w) {
        hash = (hash ^ w) * 0x100000001B3ull;
        hash ^= hash >> 29;
    }
};

inline size_t BlockSize(uint8_t b) { return b == 0 ? 16000 : b; }

}  // namespace fuzz
