// The Deflate compressor of the writer: an LZ77 matcher over a 32 KiB window with 15-bit hash chains
// (greedy for levels 1-3, lazy for 4-9) in front of the block coder, which buffers symbols, ends blocks,
// and writes each block in the cheapest of stored, fixed and dynamic form. An entry whose only block
// would not get smaller is written raw and switched to method 0 (whole-entry store).
//
// The output for a given input and level is fixed: the same bytes on every machine and every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace archive {
class TZipHeaderInfo;
}

namespace archive::codec {

// The writer's input and output routines as the compressor sees them.
class DeflateIO {
public:
    virtual ~DeflateIO() = default;
    // Up to count bytes of the entry's data (progress and CRC are the implementer's business); 0 at the end.
    virtual unsigned ReadEntryData(uint8_t* buffer, unsigned count) = 0;
    // Writes n bytes of compressed output; raises ENotEnoughRoom / EUserCanceled.
    virtual void WriteArchiveData(const uint8_t* buffer, size_t n) = 0;
};

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

    // Compresses one entry at `level` (1..9; values outside are clamped). Updates entry.Flags (deflate
    // option bits), entry.Method (0 on a whole-entry store) and entry.InternalAttributes (0 binary,
    // 1 text). Returns the compressed size written.
    uint32_t Deflate(DeflateIO& io, int level, TZipHeaderInfo& entry);

    // How the match search compares bytes: Portable two at a time, Fast eight at a time. Both find the
    // same matches, so the output is the same; Fast is the default, tests run both.
    enum class MatchSearch { Portable, Fast };
    void SetMatchSearch(MatchSearch search);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace archive::codec
