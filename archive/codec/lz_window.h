// Output window of the older methods: literals and back-references over a sliding history.
//
// The buffer holds `history` bytes of history followed by the bytes not yet handed on. When it is full, the
// new bytes go to the sink in one call and the last `history` bytes move to the front, so a reference never
// wraps around. A reference that reaches before the first byte of the entry yields zero bytes for that part,
// as the original compressors assumed a window that starts out zeroed. Nothing here can write outside the
// buffer: a copy that does not fit first flushes, and copies are at most a few hundred bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "archive/codec/decoder.h"

namespace archive::codec {

class LzWindow {
public:
    // buffer: history + a chunk of at least 1024 bytes.
    LzWindow(uint8_t* buffer, size_t size, size_t history, OutputSink& sink)
        : buf_(buffer), end_(buffer + size), out_(buffer), flushed_(buffer), history_(history), sink_(sink) {}

    uint64_t Produced() const { return produced_; }

    void Put(uint8_t b) {
        if (out_ == end_) Slide();
        *out_++ = b;
        ++produced_;
    }

    // Repeats `length` (< 1024) bytes from `distance` (>= 1, <= history) back.
    void Copy(size_t distance, size_t length) {
        if (static_cast<size_t>(end_ - out_) < length) Slide();
        size_t i = 0;
        const size_t have = static_cast<size_t>(out_ - buf_);
        if (distance > have) {
            const size_t zeros = distance - have < length ? distance - have : length;
            std::memset(out_, 0, zeros);
            i = zeros;
        }
        const ptrdiff_t back = static_cast<ptrdiff_t>(distance);
        for (; i < length; ++i) out_[i] = out_[static_cast<ptrdiff_t>(i) - back];
        out_ += length;
        produced_ += length;
    }

    void Flush() {
        if (out_ > flushed_) sink_.Write(flushed_, static_cast<size_t>(out_ - flushed_));
        flushed_ = out_;
    }

private:
    void Slide() {
        Flush();
        if (static_cast<size_t>(out_ - buf_) > history_) {
            std::memmove(buf_, out_ - history_, history_);
            out_ = flushed_ = buf_ + history_;
        }
    }

    uint8_t* const buf_;
    uint8_t* const end_;
    uint8_t* out_;
    uint8_t* flushed_;
    const size_t history_;
    OutputSink& sink_;
    uint64_t produced_ = 0;
};

}  // namespace archive::codec
