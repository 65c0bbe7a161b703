// Explode (method 6): the sliding dictionary with Shannon-Fano trees of the ZIP application note.
//
// Stream: the tree descriptions first (the literal tree of 256 values when flag bit 2 is set, then the
// length tree and the distance tree of 64 values each), then until the uncompressed size is reached:
//   1 bit 1 -> a literal: a code of the literal tree, or 8 raw bits without one;
//   1 bit 0 -> a match: the low 6 distance bits (7 with the 8 KiB dictionary of flag bit 1), a code of the
//              distance tree for the high 6 bits, distance = value + 1; a code of the length tree, plus
//              8 raw bits when it is 63, plus the minimum match (3 with a literal tree, 2 without).
//
// A tree description is a byte count minus one, then bytes that each give a bit length (low nibble + 1)
// and how many consecutive values have it (high nibble + 1); they must cover the tree's values exactly.
// Codes are assigned as the note prescribes: values sorted by bit length (stable), then from the last one
// backwards each gets the running code, which grows by 2^(16 - length) of the current length. The stream
// sends each code's bits most significant first, so the tables index the bit-reversed codes.
//
// The reference decoder's table widths depend on the compressed size (8 bits for distances above 200 000
// bytes); they change only the layout of its tables, never the output, so one width serves every entry.
// A description that does not cover its values, lengths whose codes would overlap, a code no value owns,
// or input that ends before the uncompressed size is reached make the entry end as DataError. A distance
// that reaches before the first output byte produces zero bytes there, as the original's zeroed window did.
#include <algorithm>

#include "archive/codec/bit_reader.h"
#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "archive/codec/huffman_table.h"
#include "archive/codec/lz_window.h"

namespace archive::codec {

namespace {

using namespace huffman;

constexpr unsigned kMaxCodeLen = 16;
constexpr unsigned kLiteralRoot = 10;
constexpr unsigned kSmallRoot = 8;  // length and distance trees
constexpr size_t kLiteralTableSize = TableCapacity(256, kLiteralRoot, kMaxCodeLen);
constexpr size_t kSmallTableSize = TableCapacity(64, kSmallRoot, kMaxCodeLen);
constexpr size_t kHistory = 8192;
constexpr size_t kWindowSize = kHistory + 64 * 1024;

struct ExplodeState {
    uint32_t literal[kLiteralTableSize];
    uint32_t length[kSmallTableSize];
    uint32_t distance[kSmallTableSize];
    uint8_t window[kWindowSize];
};

// Reads one tree description into n bit lengths.
bool ReadLengths(BitReader& br, unsigned n, uint8_t* lens) {
    uint32_t bytes = 0;
    if (!br.Read(8, bytes)) return false;
    unsigned filled = 0;
    for (uint32_t i = 0; i <= bytes; ++i) {
        uint32_t b = 0;
        if (!br.Read(8, b)) return false;
        const unsigned len = (b & 0x0F) + 1;
        const unsigned count = (b >> 4) + 1;
        if (count > n - filled) return false;
        std::fill(lens + filled, lens + filled + count, static_cast<uint8_t>(len));
        filled += count;
    }
    return filled == n;
}

// Assigns the Shannon-Fano codes of the application note and places them in a table.
bool BuildTree(const uint8_t* lens, unsigned n, unsigned rootBits, uint32_t* table, size_t capacity) {
    const int kraft = CheckLengths(lens, n, kMaxCodeLen);
    if (kraft < 0) return false;
    // Stable sort by length: a counting sort over the 16 lengths.
    unsigned order[256];
    unsigned k = 0;
    for (unsigned len = 1; len <= kMaxCodeLen; ++len) {
        for (unsigned s = 0; s < n; ++s) {
            if (lens[s] == len) order[k++] = s;
        }
    }
    uint32_t codes[256];
    uint32_t entries[256];
    uint32_t code = 0;
    uint32_t increment = 0;
    unsigned lastLen = 0;
    for (unsigned i = n; i-- > 0;) {
        const unsigned s = order[i];
        code += increment;
        if (lens[s] != lastLen) {
            lastLen = lens[s];
            increment = uint32_t{1} << (16 - lastLen);
        }
        // A code must start on a multiple of its own span and end inside 16 bits, or it would overlap a
        // longer code given out before it (possible only for an incomplete set of lengths).
        if ((code & (increment - 1)) != 0 || code + increment > 0x10000) return false;
        codes[s] = ReverseBits(code >> (16 - lastLen), lastLen);
        entries[s] = SymbolEntry(s, 0, 0);
    }
    return PlaceCodes(codes, lens, n, entries, rootBits, kraft == 0, table, capacity);
}

// Decodes one value of a tree; false for a code no value owns or input that ends inside the code.
bool DecodeSymbol(BitReader& br, const uint32_t* table, unsigned rootBits, unsigned& value) {
    uint32_t e = table[br.Peek(rootBits)];
    if (e & kSubtable) {
        const unsigned subBits = CodeBits(e);
        const uint32_t start = Value(e);
        if (!br.Skip(rootBits)) return false;
        e = table[start + br.Peek(subBits)];
    }
    if ((e & kExceptional) || !br.Skip(BitsToConsume(e))) return false;
    value = Value(e);
    return true;
}

DecodeResult Run(ExplodeState& st, BitReader& br, LzWindow& win, bool bigDictionary, bool literalTree,
                 uint64_t size) {
    uint8_t lens[256];
    if (literalTree) {
        if (!ReadLengths(br, 256, lens) || !BuildTree(lens, 256, kLiteralRoot, st.literal, kLiteralTableSize))
            return DecodeResult::DataError;
    }
    if (!ReadLengths(br, 64, lens) || !BuildTree(lens, 64, kSmallRoot, st.length, kSmallTableSize))
        return DecodeResult::DataError;
    if (!ReadLengths(br, 64, lens) || !BuildTree(lens, 64, kSmallRoot, st.distance, kSmallTableSize))
        return DecodeResult::DataError;

    const unsigned lowBits = bigDictionary ? 7 : 6;
    const unsigned minMatch = literalTree ? 3 : 2;
    while (win.Produced() < size) {
        uint32_t flag = 0;
        if (!br.Read(1, flag)) return DecodeResult::DataError;
        if (flag) {
            uint32_t literal = 0;
            if (literalTree) {
                unsigned v = 0;
                if (!DecodeSymbol(br, st.literal, kLiteralRoot, v)) return DecodeResult::DataError;
                literal = v;
            } else if (!br.Read(8, literal)) {
                return DecodeResult::DataError;
            }
            win.Put(static_cast<uint8_t>(literal));
            continue;
        }
        uint32_t low = 0;
        unsigned high = 0;
        unsigned length = 0;
        if (!br.Read(lowBits, low) || !DecodeSymbol(br, st.distance, kSmallRoot, high) ||
            !DecodeSymbol(br, st.length, kSmallRoot, length))
            return DecodeResult::DataError;
        if (length == 63) {
            uint32_t more = 0;
            if (!br.Read(8, more)) return DecodeResult::DataError;
            length += more;
        }
        length += minMatch;
        const size_t distance = ((size_t{high} << lowBits) | low) + 1;
        win.Copy(distance, static_cast<size_t>(std::min<uint64_t>(length, size - win.Produced())));
    }
    return DecodeResult::Ok;
}

}  // namespace

DecodeResult Explode(DecodeWorkspace& ws, InputSource& in, OutputSink& out, uint16_t flags,
                     uint32_t /*compressedSize*/, uint32_t uncompressedSize) {
    auto* st = static_cast<ExplodeState*>(ws.Block(DecodeWorkspace::Slot::Explode, sizeof(ExplodeState)));
    if (!st) return DecodeResult::OutOfMemory;
    BitReader br(in);
    LzWindow win(st->window, kWindowSize, kHistory, out);
    const DecodeResult r = Run(*st, br, win, (flags & 2) != 0, (flags & 4) != 0, uncompressedSize);
    win.Flush();
    return r;
}

}  // namespace archive::codec
