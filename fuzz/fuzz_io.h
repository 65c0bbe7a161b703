// Shared pieces of the decoder fuzzers: the input source cuts the fuzzer's bytes into blocks of a size
// chosen by the input itself, and the sink counts (and checksums) the output without keeping it.
//
// Every fuzzer input starts with one byte that chooses the block size (0 -> 16000 as in extraction,
// otherwise 1 to 255), so the decoders see both their staged fast paths and one-byte deliveries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/codec/decoder.h"

namespace fuzz {

class ChunkSource : public archive::codec::InputSource {
public:
    ChunkSource(const uint8_t* data, size_t size, size_t block) : data_(data), size_(size), block_(block) {}
    size_t NextBlock(const uint8_t*& p) override {
        if (pos_ >= size_) return 0;
        const size_t n = size_ - pos_ < block_ ? size_ - pos_ : block_;
        // A fresh heap copy per block: reading a block after the next call is caught by the sanitizer.
        current_.assign(data_ + pos_, data_ + pos_ + n);
        current_.shrink_to_fit();
        pos_ += n;
        p = current_.data();
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t block_;
    size_t pos_ = 0;
    std::vector<uint8_t> current_;
};

class HashSink : public archive::codec::OutputSink {
public:
    void Write(const uint8_t* p, size_t n) override {
        for (size_t i = 0; i < n; ++i) hash = (hash ^ p[i]) * 0x100000001B3ull;
        total += n;
    }
    uint64_t hash = 0xCBF29CE484222325ull;
    uint64_t total = 0;
};

inline size_t BlockSize(uint8_t b) { return b == 0 ? 16000 : b; }

}  // namespace fuzz
