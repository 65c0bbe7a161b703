// Unshrink (method 1): the dynamic LZW of the ZIP application note, "Expanding Shrunk Files".
//
// Codes are read least significant bit first, 9 bits wide at the start. Codes 0-255 are single bytes,
// 256 is the control code and 257-8191 are strings: each is a parent code plus one byte. After the first
// code (a plain byte), every code's string is output and a new string is entered in the lowest free code
// above 256: the previous code's string plus the first byte of this one. A code that is free at that moment
// can only be the one being entered (the previous string plus its own first byte).
// Control code 256 is followed by 1 (codes grow one bit wider, never past 13) or 2 (partial clear: every
// string that is no other string's parent is freed, and the lowest freed code is the next one entered).
// Decoding ends when the input has no whole code left.
//
// Strings are unwound from their last byte to their first onto a stack, then output in order. Anything a
// valid stream cannot contain ends the entry as DataError: a first code above 255, a control code followed
// by anything but 1 or 2, codes wider than 13 bits, a free code other than the next one, or a parent chain
// longer than the table (a loop).
#include "archive/codec/bit_reader.h"
#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "archive/codec/lz_window.h"

namespace archive::codec {

namespace {

constexpr unsigned kTableSize = 8192;  // codes of at most 13 bits
constexpr unsigned kControl = 256;
constexpr unsigned kFirstFree = 257;
constexpr unsigned kMaxBits = 13;
constexpr size_t kOutSize = 64 * 1024;

struct UnshrinkState {
    uint16_t parent[kTableSize];
    uint8_t value[kTableSize];
    bool isFree[kTableSize];
    bool hasChild[kTableSize];
    uint8_t stack[kTableSize];
    uint8_t out[kOutSize];
};

class Unshrinker {
public:
    Unshrinker(UnshrinkState& st, BitReader& br, LzWindow& win) : st_(st), br_(br), win_(win) {}

    DecodeResult Run() {
        for (unsigned c = 0; c < kTableSize; ++c) {
            st_.parent[c] = 0;
            st_.value[c] = static_cast<uint8_t>(c);
            st_.isFree[c] = c >= kFirstFree;
        }
        unsigned bits = 9;
        uint32_t previous = 0;
        if (!br_.Read(bits, previous)) return DecodeResult::Ok;  // empty entry
        if (previous > 255) return DecodeResult::DataError;
        uint8_t firstOfPrevious = static_cast<uint8_t>(previous);
        win_.Put(firstOfPrevious);
        unsigned nextFree = kFirstFree;

        for (;;) {
            uint32_t code = 0;
            if (!br_.Read(bits, code)) return DecodeResult::Ok;
            if (code == kControl) {
                uint32_t op = 0;
                if (!br_.Read(bits, op)) return DecodeResult::Ok;
                if (op == 1) {
                    if (++bits > kMaxBits) return DecodeResult::DataError;
                } else if (op == 2) {
                    PartialClear();
                    nextFree = FindFree(kFirstFree);
                } else {
                    return DecodeResult::DataError;
                }
                continue;
            }

            // Unwind the string onto the stack, last byte first.
            unsigned sp = kTableSize;
            unsigned c = code;
            if (st_.isFree[code]) {
                if (code != nextFree) return DecodeResult::DataError;
                st_.stack[--sp] = firstOfPrevious;
                c = previous;
            }
            while (c >= kFirstFree) {
                if (sp == 0) return DecodeResult::DataError;
                st_.stack[--sp] = st_.value[c];
                c = st_.parent[c];
            }
            if (sp == 0) return DecodeResult::DataError;
            st_.stack[--sp] = static_cast<uint8_t>(c);
            firstOfPrevious = static_cast<uint8_t>(c);
            for (unsigned i = sp; i < kTableSize; ++i) win_.Put(st_.stack[i]);

            if (nextFree < kTableSize) {
                st_.parent[nextFree] = static_cast<uint16_t>(previous);
                st_.value[nextFree] = firstOfPrevious;
                st_.isFree[nextFree] = false;
                nextFree = FindFree(nextFree + 1);
            }
            previous = code;
        }
    }

private:
    unsigned FindFree(unsigned from) const {
        while (from < kTableSize && !st_.isFree[from]) ++from;
        return from;
    }

    // Frees every string code that is no other code's parent.
    void PartialClear() {
        for (unsigned c = kFirstFree; c < kTableSize; ++c) st_.hasChild[c] = false;
        for (unsigned c = kFirstFree; c < kTableSize; ++c) {
            if (!st_.isFree[c] && st_.parent[c] >= kFirstFree) st_.hasChild[st_.parent[c]] = true;
        }
        for (unsigned c = kFirstFree; c < kTableSize; ++c) {
            if (!st_.hasChild[c]) st_.isFree[c] = true;
        }
    }

    UnshrinkState& st_;
    BitReader& br_;
    LzWindow& win_;
};

}  // namespace

DecodeResult Unshrink(DecodeWorkspace& ws, InputSource& in, OutputSink& out) {
    auto* st = static_cast<UnshrinkState*>(ws.Block(DecodeWorkspace::Slot::Unshrink, sizeof(UnshrinkState)));
    if (!st) return DecodeResult::OutOfMemory;
    BitReader br(in);
    LzWindow win(st->out, kOutSize, 0, out);
    const DecodeResult r = Unshrinker(*st, br, win).Run();
    win.Flush();
    return r;
}

}  // namespace archive::codec
