// The working memory of the decompressors for one extraction call.
//
// Every decoder keeps its windows and tables in one block of its own, allocated the first time an entry
// of that method is decoded and reused by every later entry of the same call; nothing is allocated per
// entry or per byte. A block that cannot be allocated makes the decoder return OutOfMemory, so the entry
// ends without output and the extraction goes on with the next one.
//
// Blocks are raw, 64-byte aligned memory: each decoder lays its own trivially copyable state over its block
// and never relies on what a previous entry left in it beyond what it says itself (Inflate keeps its fixed
// tables between entries, for instance).
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/codec/decoder.h"

namespace archive::codec {

enum class InflateImpl {
    Best,      // the fastest loop this processor can run, chosen once per process
    Portable,  // the plain C++ loop (tests force it to compare both)
};

class DecodeWorkspace {
public:
    enum class Slot { Inflate, Explode, Unshrink, Unreduce, Count };

    DecodeWorkspace() = default;
    ~DecodeWorkspace();
    DecodeWorkspace(const DecodeWorkspace&) = delete;
    DecodeWorkspace& operator=(const DecodeWorkspace&) = delete;

    // The block of a decoder, at least `bytes` long; nullptr when it cannot be allocated. `fresh` is set
    // when the block was just allocated (its contents are then zero).
    void* Block(Slot slot, size_t bytes, bool* fresh = nullptr);

    // Inflate's inner loop (tests run both and compare).
    InflateImpl inflateImpl = InflateImpl::Best;
    // For tests: every later allocation fails, as on a machine out of memory.
    bool failAllocations = false;

private:
    struct Area {
        void* data = nullptr;
        size_t size = 0;
    };
    Area areas_[static_cast<int>(Slot::Count)];
};

}  // namespace archive::codec
