// Unreduce (methods 2 to 5, compression factor 1 to 4): follower sets and DLE-coded repeats, as the ZIP
// application note describes "Expanding Reduced Files".
//
// Stream: 256 follower sets, from set 255 down to set 0, each a 6-bit count and that many 8-bit bytes.
// Then bytes, until the uncompressed size is reached: when the follower set of the previous byte is empty,
// 8 raw bits; otherwise 1 bit, and 1 means 8 raw bits, 0 an index into the set of B(N) bits (the bits
// needed for N - 1, at least 1). The bytes drive this machine (factor f, DLE = 144):
//   plain   DLE -> escape; any other byte is output
//   escape  0 -> output DLE; V -> length L = V & (0xFF >> f), then either extend (L all ones) or distance
//   extend  L += byte -> distance
//   distance  copy L + 3 bytes from ((V >> (8 - f)) * 256 + byte + 1) back
// A copy reaching before the first output byte gives zero bytes there. An index outside its follower set,
// or input that ends before the uncompressed size is reached, ends the entry as DataError.
#include <algorithm>

#include "archive/codec/bit_reader.h"
#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "archive/codec/lz_window.h"

namespace archive::codec {

namespace {

constexpr size_t kHistory = 4096;  // the largest distance, factor 4: 15 * 256 + 255 + 1
constexpr size_t kWindowSize = 16384 + 64 * 1024;
constexpr uint8_t kDle = 144;

struct UnreduceState {
    uint8_t followers[256][64];
    uint8_t count[256];
    uint8_t window[kWindowSize];
};

// Bits of an index into a follower set of n (>= 1) bytes.
unsigned IndexBits(unsigned n) {
    unsigned bits = 1;
    while ((1u << bits) < n) ++bits;
    return bits;
}

DecodeResult Run(UnreduceState& st, BitReader& br, LzWindow& win, int factor, uint64_t size) {
    for (int set = 255; set >= 0; --set) {
        uint32_t n = 0;
        if (!br.Read(6, n)) return DecodeResult::DataError;
        st.count[set] = static_cast<uint8_t>(n);
        for (uint32_t i = 0; i < n; ++i) {
            uint32_t b = 0;
            if (!br.Read(8, b)) return DecodeResult::DataError;
            st.followers[set][i] = static_cast<uint8_t>(b);
        }
    }

    const unsigned lengthMask = 0xFFu >> factor;
    enum { kPlain, kEscape, kExtend, kDistance } state = kPlain;
    unsigned last = 0;
    unsigned v = 0;
    unsigned length = 0;
    while (win.Produced() < size) {
        // The next byte of the follower-coded stream.
        uint32_t c = 0;
        const unsigned n = st.count[last];
        uint32_t raw = 1;
        if (n != 0 && !br.Read(1, raw)) return DecodeResult::DataError;
        if (raw) {
            if (!br.Read(8, c)) return DecodeResult::DataError;
        } else {
            uint32_t index = 0;
            if (!br.Read(IndexBits(n), index) || index >= n) return DecodeResult::DataError;
            c = st.followers[last][index];
        }
        last = c;

        switch (state) {
            case kPlain:
                if (c == kDle)
                    state = kEscape;
                else
                    win.Put(static_cast<uint8_t>(c));
                break;
            case kEscape:
                if (c == 0) {
                    win.Put(kDle);
                    state = kPlain;
                } else {
                    v = c;
                    length = v & lengthMask;
                    state = length == lengthMask ? kExtend : kDistance;
                }
                break;
            case kExtend:
                length += c;
                state = kDistance;
                break;
            case kDistance: {
                const size_t distance = ((v >> (8 - factor)) << 8) + c + 1;
                const uint64_t left = size - win.Produced();
                win.Copy(distance, static_cast<size_t>(std::min<uint64_t>(length + 3, left)));
                state = kPlain;
                break;
            }
        }
    }
    return DecodeResult::Ok;
}

}  // namespace

DecodeResult Unreduce(DecodeWorkspace& ws, InputSource& in, OutputSink& out, int factor,
                      uint32_t uncompressedSize) {
    if (factor < 1 || factor > 4) return DecodeResult::DataError;
    auto* st = static_cast<UnreduceState*>(ws.Block(DecodeWorkspace::Slot::Unreduce, sizeof(UnreduceState)));
    if (!st) return DecodeResult::OutOfMemory;
    BitReader br(in);
    LzWindow win(st->window, kWindowSize, kHistory, out);
    const DecodeResult r = Run(*st, br, win, factor, uncompressedSize);
    win.Flush();
    return r;
}

}  // namespace archive::codec
