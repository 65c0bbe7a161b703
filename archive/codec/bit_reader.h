// Least-significant-first bit reader over an InputSource, for the older methods (Shrink, Reduce, Implode).
//
// Bits come from each byte's least significant end, and every new byte goes in above the bits already
// held, as the ZIP application note describes for all three methods. Peek() shows bits beyond the end of
// the input as zeros, so a decoder may look ahead by a whole table index at the very end; Skip() and Read()
// refuse to consume bits that the input does not have, which is how a decoder notices truncated data.
// Inflate has its own, faster bit buffer (inflate_fast_loop.h).
#pragma once

#include <cstddef>
#include <cstdint>

#include "archive/codec/decoder.h"

namespace archive::codec {

class BitReader {
public:
    explicit BitReader(InputSource& src) : src_(src) {}

    // Whether at least n (<= 32) real bits remain.
    bool Has(unsigned n) {
        FillTo(n);
        return count_ >= n;
    }
    // The next n (<= 32) bits without consuming them; zeros past the end of the input.
    uint32_t Peek(unsigned n) {
        FillTo(n);
        return static_cast<uint32_t>(buf_ & ((uint64_t{1} << n) - 1));
    }
    // Consumes n bits; false (and nothing consumed) when the input has fewer.
    bool Skip(unsigned n) {
        FillTo(n);
        if (count_ < n) return false;
        buf_ >>= n;
        count_ -= n;
        return true;
    }
    bool Read(unsigned n, uint32_t& value) {
        value = Peek(n);
        return Skip(n);
    }

private:
    void FillTo(unsigned n) {
        while (count_ < n) {
            if (left_ == 0) {
                if (ended_) return;
                left_ = src_.NextBlock(next_);
                if (left_ == 0) {
                    ended_ = true;
                    return;
                }
            }
            buf_ |= uint64_t{*next_++} << count_;
            --left_;
            count_ += 8;
        }
    }

    InputSource& src_;
    const uint8_t* next_ = nullptr;
    size_t left_ = 0;
    bool ended_ = false;
    uint64_t buf_ = 0;
    unsigned count_ = 0;
};

}  // namespace archive::codec
