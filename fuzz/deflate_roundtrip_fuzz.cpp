// Compresses arbitrary input at a level taken from its first byte, with both match searches, and checks
// that the two streams are equal, that an independent decoder gives the input back (or that a
// whole-entry store holds it raw), that the returned size is what was written, and that the output stays
// within the bound of coding every byte as a fixed-tree literal plus block overhead.
#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/codec/deflate.h"
#include "tests/archive/codec/deflate_symbols.h"

namespace {

struct Out {
    std::string bytes;
    uint32_t size;
    uint16_t method;
};

Out Run(archive::codec::Deflater& d, const std::string& in, int level, size_t piece) {
    deflate_test::RecordingIO io(in, piece);
    const archive::codec::DeflateResult r = d.Deflate(io, level);
    return {io.Output(), static_cast<uint32_t>(r.compressedSize), static_cast<uint16_t>(r.stored ? 0 : 8)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static archive::codec::Deflater fast, portable;
    static bool init = false;
    if (!init) {
        portable.SetMatchSearch(archive::codec::Deflater::MatchSearch::Portable);
        init = true;
    }
    const int level = 1 + data[0] % 9;
    const size_t piece = 1 + (data[0] >> 4) * 4096;
    const std::string in(reinterpret_cast<const char*>(data + 1), size - 1);
    const Out a = Run(fast, in, level, SIZE_MAX);
    const Out b = Run(portable, in, level, piece);
    if (a.bytes != b.bytes || a.method != b.method) __builtin_trap();
    if (a.size != a.bytes.size()) __builtin_trap();
    if (a.bytes.size() > in.size() + in.size() / 8 + 5 * (in.size() / 4096 + 1) + 64) __builtin_trap();
    if (a.method == 0) {
        if (a.bytes != in) __builtin_trap();
    } else {
        const auto decoded = deflate_test::Decode(a.bytes);
        if (decoded.data != in || decoded.bytesUsed != a.bytes.size()) __builtin_trap();
    }
    return 0;
}
