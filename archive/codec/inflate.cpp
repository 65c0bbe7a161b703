// Inflate (method 8): the Deflate format of RFC 1951.
//
// The driver reads block headers, builds the Huffman tables and decodes stored blocks; Huffman blocks go
// to the fast loop (inflate_fast_loop.h) while input and output have room, and to the careful path here for
// the last bytes of the input and whenever the arena must be flushed first. Both share one bit buffer, so
// control may pass between them after any symbol.
//
//   header   -- type 0 --> stored: align, LEN/NLEN, copy LEN bytes ------------------+
//      |     -- type 1 --> fixed tables (built once, kept while no dynamic block comes) |
//      |     -- type 2 --> HLIT/HDIST/HCLEN, code-length code, lengths, tables        |
//      |     -- type 3 --> invalid                                                    |
//      +<-- symbols until end of block (fast loop <-> careful path) <-----------------+
//   repeat until the block with the final bit has ended.
//
// Invalid data (bad block type, LEN/NLEN mismatch, over-subscribed codes, more than 286 literal/length or
// 30 distance codes, a repeat with nothing to repeat or past the end, a symbol no code reaches, a distance
// reaching before the first output byte, input that ends early) ends the entry with DataError; what was
// decoded before the fault is handed to the sink first. Every loop consumes input bits or produces output,
// and every bit taken near the end is checked against the real end of the input, so bad data can neither
// hang the decoder nor make it read or write outside its buffers.
#include <algorithm>
#include <array>
#include <cstring>

#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "archive/codec/huffman_table.h"
#include "archive/codec/inflate_state.h"

namespace archive::codec {

using namespace inflate_detail;
using namespace huffman;

namespace {

// ---------------------------------------------------------------------------------------------------------
// Symbol tables of RFC 1951, 3.2.5

constexpr std::array<uint32_t, 288> kLitLenEntries = [] {
    constexpr unsigned kBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    constexpr unsigned kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                     2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    std::array<uint32_t, 288> t{};
    for (unsigned s = 0; s < 256; ++s) t[s] = SymbolEntry(s, kLiteral, 0);
    t[256] = SymbolEntry(0, kExceptional | kEndOfBlock, 0);
    for (unsigned s = 257; s < 286; ++s) t[s] = SymbolEntry(kBase[s - 257], 0, kExtra[s - 257]);
    t[286] = t[287] = kInvalid;  // part of the fixed code, never valid in data
    return t;
}();

constexpr std::array<uint32_t, 32> kDistEntries = [] {
    constexpr unsigned kBase[30] = {1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    std::array<uint32_t, 32> t{};
    for (unsigned s = 0; s < 30; ++s) t[s] = SymbolEntry(kBase[s], 0, s < 4 ? 0 : s / 2 - 1);
    t[30] = t[31] = kInvalid;  // part of the fixed code, never valid in data
    return t;
}();

constexpr std::array<uint32_t, 19> kPrecodeEntries = [] {
    std::array<uint32_t, 19> t{};
    for (unsigned s = 0; s < 19; ++s) t[s] = SymbolEntry(s, 0, 0);
    return t;
}();

// The order in which the code-length code lengths are sent.
constexpr uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

uint64_t LoadLE64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
    return v;
}

// ---------------------------------------------------------------------------------------------------------
// One entry's decoding.

class Inflater {
public:
    Inflater(State& st, InputSource& src, OutputSink& sink, FastLoops fast)
        : st_(st), src_(src), sink_(sink), fast_(fast) {}

    DecodeResult Run() {
        in_ = inEnd_ = st_.stage;
        out_ = flushed_ = st_.arena;
        Fill();
        bool final = false;
        while (!final) {
            if (!Need(3)) return Fail();
            final = Take(1) != 0;
            bool ok = false;
            switch (Take(2)) {
                case 0: ok = StoredBlock(); break;
                case 1: ok = FixedTables() && HuffmanBlock(); break;
                case 2: ok = DynamicTables() && HuffmanBlock(); break;
                default: ok = false; break;
            }
            if (!ok) return Fail();
        }
        Flush();
        return DecodeResult::Ok;
    }

private:
    // ----- input ---------------------------------------------------------------------------------------

    // Real bits left: those in the buffer and the bytes after `in_` (negative bytes once the buffer holds
    // padding).
    int64_t Avail() const { return int64_t{bitsleft_} + 8 * (inEnd_ - in_); }

    // Makes more than kInMargin bytes readable at `in_`, or notes the end of the source. Input is read in
    // place, straight from the source's block, wherever it can: only the seam between two blocks is staged
    // (the unread tail of one and the first kSeam bytes of the next), and once decoding has passed into the
    // next block's bytes it continues in that block itself. At the end, zero bytes pad the staging area so
    // that 8-byte loads stay inside it.
    void Fill() {
        if (srcEnded_) return;
        if (!direct_ && pendingLen_ > 0 && blockInStage_ && in_ >= blockInStage_) {
            // The staged bytes from blockInStage_ on are the first bytes of the block that pending_ ends.
            in_ = pending_ - (inEnd_ - in_);
            inEnd_ = pending_ + pendingLen_;
            pendingLen_ = 0;
            direct_ = true;
            blockInStage_ = nullptr;
            if (inEnd_ - in_ > kInMargin) return;
        }
        const size_t keep = static_cast<size_t>(inEnd_ - in_);
        blockInStage_ = !direct_ && blockInStage_ && blockInStage_ >= in_ ? st_.stage + (blockInStage_ - in_) : nullptr;
        std::memmove(st_.stage, in_, keep);
        in_ = st_.stage;
        inEnd_ = st_.stage + keep;
        direct_ = false;
        while (inEnd_ - in_ <= kInMargin) {
            if (pendingLen_ == 0) {
                pendingLen_ = src_.NextBlock(pending_);
                if (pendingLen_ == 0) {
                    srcEnded_ = true;
                    std::memset(const_cast<uint8_t*>(inEnd_), 0, kStagePad);
                    break;
                }
                blockInStage_ = inEnd_;
            }
            const size_t room = static_cast<size_t>(st_.stage + kStageCapacity - inEnd_);
            const size_t n = std::min({room, pendingLen_, kSeam});
            std::memcpy(const_cast<uint8_t*>(inEnd_), pending_, n);
            inEnd_ += n;
            pending_ += n;
            pendingLen_ -= n;
        }
    }

    void Refill() {
        if (!srcEnded_ && inEnd_ - in_ < kInMargin) Fill();
        RawRefill();
    }
    // Only where at least 8 staged bytes follow `in_`.
    void RawRefill() {
        bitbuf_ |= LoadLE64(in_) << bitsleft_;
        in_ += (63 - bitsleft_) >> 3;
        bitsleft_ |= 56;
    }

    // Makes at least n (<= 56) bits valid; false when the input ends before.
    bool Need(unsigned n) {
        if (bitsleft_ < n) Refill();
        return Avail() >= n;
    }
    void Consume(unsigned n) {
        bitbuf_ >>= n;
        bitsleft_ -= n;
    }
    uint32_t Take(unsigned n) {
        const uint32_t v = static_cast<uint32_t>(bitbuf_ & ((uint64_t{1} << n) - 1));
        Consume(n);
        return v;
    }

    // Looks up the next code in a table (two levels); returns its entry with the subtable step already
    // consumed, or kInvalid when the input ends inside the code.
    uint32_t Lookup(const uint32_t* table, unsigned rootBits) {
        Refill();
        uint32_t e = table[bitbuf_ & ((uint64_t{1} << rootBits) - 1)];
        if ((e & (kExceptional | kSubtable)) == (kExceptional | kSubtable)) {
            if (Avail() < rootBits) return kInvalid;
            const unsigned subBits = CodeBits(e);
            const uint32_t start = Value(e);
            Consume(rootBits);
            e = table[start + (bitbuf_ & ((uint64_t{1} << subBits) - 1))];
        }
        if (Avail() < BitsToConsume(e)) return kInvalid;
        return e;
    }

    // ----- output --------------------------------------------------------------------------------------

    uint8_t* ArenaEnd() { return st_.arena + kArenaSize; }

    void Flush() {
        if (out_ > flushed_) sink_.Write(flushed_, static_cast<size_t>(out_ - flushed_));
        flushed_ = out_;
    }

    // Hands the new bytes to the sink and keeps the last 32 KiB as history at the arena's front.
    void FlushAndSlide() {
        Flush();
        if (out_ - st_.arena > static_cast<ptrdiff_t>(kHistory)) {
            std::memmove(st_.arena, out_ - kHistory, kHistory);
            out_ = flushed_ = st_.arena + kHistory;
        }
    }

    DecodeResult Fail() {
        Flush();
        return DecodeResult::DataError;
    }

    // ----- blocks --------------------------------------------------------------------------------------

    bool StoredBlock() {
        const unsigned drop = bitsleft_ & 7;
        if (!Need(drop + 32)) return false;
        Consume(drop);
        unsigned len = Take(16);
        if (len != (~Take(16) & 0xFFFF)) return false;
        // Whole bytes still in the bit buffer come first.
        while (len > 0 && bitsleft_ >= 8) {
            if (Avail() < 8) return false;
            if (out_ == ArenaEnd()) FlushAndSlide();
            *out_++ = static_cast<uint8_t>(Take(8));
            --len;
        }
        if (len == 0) return true;
        // The buffer is empty: the next byte is *in_, and the bits above bitsleft_ are a copy of it.
        bitbuf_ = 0;
        bitsleft_ = 0;
        while (len > 0) {
            if (in_ >= inEnd_) {
                Fill();
                if (in_ >= inEnd_) return false;
            }
            if (out_ == ArenaEnd()) FlushAndSlide();
            const size_t n = std::min<size_t>({len, static_cast<size_t>(inEnd_ - in_),
                                               static_cast<size_t>(ArenaEnd() - out_)});
            std::memcpy(out_, in_, n);
            out_ += n;
            in_ += n;
            len -= static_cast<unsigned>(n);
        }
        return true;
    }

    bool FixedTables() {
        if (st_.fixedLoaded) return true;
        uint8_t lens[288 + 32];
        std::fill(lens, lens + 144, 8);
        std::fill(lens + 144, lens + 256, 9);
        std::fill(lens + 256, lens + 280, 7);
        std::fill(lens + 280, lens + 288, 8);
        std::fill(lens + 288, lens + 320, 5);
        if (!BuildCanonical(lens, 288, kLitLenEntries.data(), kLitLenRootBits, st_.litlen, kLitLenTableSize) ||
            !BuildCanonical(lens + 288, 32, kDistEntries.data(), kDistRootBits, st_.dist, kDistTableSize))
            return false;
        st_.fixedLoaded = true;
        return true;
    }

    bool DynamicTables() {
        st_.fixedLoaded = false;
        if (!Need(14)) return false;
        const unsigned hlit = Take(5) + 257;
        const unsigned hdist = Take(5) + 1;
        const unsigned hclen = Take(4) + 4;
        if (hlit > 286 || hdist > 30) return false;

        uint8_t preLens[19] = {};
        for (unsigned i = 0; i < hclen; ++i) {
            if (!Need(3)) return false;
            preLens[kPrecodeOrder[i]] = static_cast<uint8_t>(Take(3));
        }
        if (!BuildCanonical(preLens, 19, kPrecodeEntries.data(), kPrecodeBits, st_.precode, 1u << kPrecodeBits))
            return false;

        // Literal/length and distance lengths form one sequence: a repeat may cross from one to the other.
        // With the whole rest of the header surely staged (316 codes of at most 7 bits and 7 extra bits
        // each take less than 300 bytes), the bits need no checks against the end of the input.
        uint8_t lens[286 + 30];
        const unsigned total = hlit + hdist;
        const bool staged = inEnd_ - in_ > 300;
        unsigned i = 0;
        while (i < total) {
            uint32_t e;
            if (staged) {
                if (bitsleft_ < 14) RawRefill();
                e = st_.precode[bitbuf_ & ((1u << kPrecodeBits) - 1)];
            } else {
                e = Lookup(st_.precode, kPrecodeBits);
            }
            if (e & kExceptional) return false;
            Consume(BitsToConsume(e));
            const unsigned sym = Value(e);
            if (sym < 16) {
                lens[i++] = static_cast<uint8_t>(sym);
                continue;
            }
            static constexpr uint8_t kExtra[3] = {2, 3, 7};
            static constexpr uint8_t kBase[3] = {3, 3, 11};
            const unsigned extra = kExtra[sym - 16];
            if (sym == 16 && i == 0) return false;
            if (!staged && !Need(extra)) return false;
            const unsigned repeat = kBase[sym - 16] + Take(extra);
            const uint8_t value = sym == 16 ? lens[i - 1] : 0;
            if (repeat > total - i) return false;
            std::memset(lens + i, value, repeat);
            i += repeat;
        }
        if (lens[256] == 0) return false;  // a block that cannot end
        return BuildCanonical(lens, hlit, kLitLenEntries.data(), kLitLenRootBits, st_.litlen, kLitLenTableSize) &&
               BuildCanonical(lens + hlit, hdist, kDistEntries.data(), kDistRootBits, st_.dist, kDistTableSize);
    }

    enum class Step { More, End, Bad };

    bool HuffmanBlock() {
        for (;;) {
            if (!srcEnded_ && inEnd_ - in_ <= kInMargin) Fill();
            if (ArenaEnd() - out_ <= kOutMargin) FlushAndSlide();
            if (inEnd_ - in_ > kInMargin) {
                LoopState ls{bitbuf_,         bitsleft_, in_, inEnd_ - kInMargin, out_, ArenaEnd() - kOutMargin,
                             st_.arena,       st_.litlen, st_.dist};
                // With a full window of history behind `out_`, no distance can reach before the arena.
                const bool full = out_ - st_.arena >= static_cast<ptrdiff_t>(kHistory);
                const LoopExit exit = (full ? fast_.unchecked : fast_.checked)(ls);
                bitbuf_ = ls.bitbuf;
                bitsleft_ = ls.bitsleft;
                in_ = ls.in;
                out_ = ls.out;
                if (exit == LoopExit::EndOfBlock) return true;
                if (exit == LoopExit::BadData) return false;
                continue;
            }
            const Step step = CarefulSymbol();
            if (step == Step::End) return true;
            if (step == Step::Bad) return false;
        }
    }

    // One literal, length/distance pair or end of block, every bit checked against the real input end.
    Step CarefulSymbol() {
        uint32_t e = Lookup(st_.litlen, kLitLenRootBits);
        if (e & kLiteral) {
            Consume(BitsToConsume(e));
            if (out_ == ArenaEnd()) FlushAndSlide();
            *out_++ = static_cast<uint8_t>(Value(e));
            return Step::More;
        }
        if (e & kExceptional) {
            if (!(e & kEndOfBlock)) return Step::Bad;
            Consume(BitsToConsume(e));
            return Step::End;
        }
        uint64_t saved = bitbuf_;
        unsigned total = BitsToConsume(e);
        Consume(total);
        const unsigned length = Value(e) + static_cast<unsigned>((saved & ((uint64_t{1} << total) - 1)) >> CodeBits(e));

        e = Lookup(st_.dist, kDistRootBits);
        if (e & kExceptional) return Step::Bad;
        saved = bitbuf_;
        total = BitsToConsume(e);
        Consume(total);
        const unsigned distance = Value(e) + static_cast<unsigned>((saved & ((uint64_t{1} << total) - 1)) >> CodeBits(e));
        if (distance > static_cast<size_t>(out_ - st_.arena)) return Step::Bad;
        if (ArenaEnd() - out_ < static_cast<ptrdiff_t>(length)) FlushAndSlide();
        for (unsigned k = 0; k < length; ++k) out_[k] = out_[static_cast<ptrdiff_t>(k) - distance];
        out_ += length;
        return Step::More;
    }

    State& st_;
    InputSource& src_;
    OutputSink& sink_;
    const FastLoops fast_;

    const uint8_t* pending_ = nullptr;  // the rest of the source's current block (not yet staged or read)
    size_t pendingLen_ = 0;
    bool srcEnded_ = false;
    bool direct_ = false;                    // in_ points into the source's block, not the staging area
    const uint8_t* blockInStage_ = nullptr;  // where the block that pending_ ends begins in the staging area
    const uint8_t* in_ = nullptr;
    const uint8_t* inEnd_ = nullptr;  // real end of the readable input (staging area or source block)
    uint64_t bitbuf_ = 0;
    unsigned bitsleft_ = 0;

    uint8_t* out_ = nullptr;
    uint8_t* flushed_ = nullptr;  // output before this point has gone to the sink
};

}  // namespace

DecodeResult Inflate(DecodeWorkspace& ws, InputSource& in, OutputSink& out) {
    auto* st = static_cast<State*>(ws.Block(DecodeWorkspace::Slot::Inflate, sizeof(State)));
    if (!st) return DecodeResult::OutOfMemory;
    const FastLoops fast = ws.inflateImpl == InflateImpl::Portable ? PortableFastLoops() : BestFastLoops();
    return Inflater(*st, in, out, fast).Run();
}

}  // namespace archive::codec
