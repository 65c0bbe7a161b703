// Bit output of the Deflate coder: values go in least-significant bit first (RFC 1951 3.1.1) and leave
// through DeflateIO::WriteArchiveData.
//
// Every write is observable (the writer lets the application process window messages after each one), so
// the writes must fall exactly where a 16-bit bit buffer feeding a 1024-byte output buffer puts them:
//   - the bit buffer hands over two bytes whenever a value no longer fits into its 16 bits, that is the
//     k-th byte pair leaves once more than 16k bits have been sent since the last alignment;
//   - a pair goes into the output buffer when two bytes are free there, else the full buffer is written
//     first. So the 1024 bytes of run m are written once more than 8192(m+1) + 16 bits have been sent;
//   - alignment pads the last byte, writes a still-full run of 1024 bytes on its own, and then writes the
//     rest (at most 1024 bytes) in one call. An empty buffer is not written.
// Nothing else can be observed during a flush, so instead of a 16-bit buffer this writer keeps a 64-bit
// accumulator and a larger staging area, and hands out the 1024-byte runs by the rule above (Pump) at
// the end of each block and whenever the staging area fills up. The bytes and the sequence of write calls
// are the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "archive/codec/deflate_io.h"

namespace archive::codec {

class BitWriter {
public:
    static constexpr size_t kRun = 1024;
    // Staging capacity: PumpIfFull keeps it below kHighWater between checks; a check happens at least once
    // per symbol (at most 48 bits) and once per code length sent.
    static constexpr size_t kHighWater = 16 * 1024;
    static constexpr size_t kCapacity = kHighWater + 2 * kRun;

    BitWriter() : stage_(kCapacity + 16) {}

    void Start(DeflateIO& io) {
        io_ = &io;
        acc_ = 0;
        nacc_ = 0;
        pos_ = 0;
    }

    // Sends the lowest n bits of value (n <= 32, value < 2^n).
    void Put(uint32_t value, unsigned n) {
        acc_ |= static_cast<uint64_t>(value) << nacc_;
        nacc_ += n;
        if (nacc_ >= 32) {
            const uint32_t low = static_cast<uint32_t>(acc_);
            uint8_t* p = stage_.data() + pos_;
            p[0] = static_cast<uint8_t>(low);
            p[1] = static_cast<uint8_t>(low >> 8);
            p[2] = static_cast<uint8_t>(low >> 16);
            p[3] = static_cast<uint8_t>(low >> 24);
            pos_ += 4;
            acc_ >>= 32;
            nacc_ -= 32;
        }
    }

    void PumpIfFull() {
        if (pos_ >= kHighWater) Pump();
    }

    // Writes every 1024-byte run that the 16-bit scheme would have written by now.
    void Pump() { WriteRuns(kRun * 8 + 16); }

    // Pads to a byte boundary and writes out everything (see the opening comment for the call pattern).
    void Align() {
        WriteRuns(kRun * 8);
        while (nacc_ > 0) {
            stage_[pos_++] = static_cast<uint8_t>(acc_);
            acc_ >>= 8;
            nacc_ = nacc_ > 8 ? nacc_ - 8 : 0;
        }
        acc_ = 0;
        if (pos_ > 0) io_->WriteArchiveData(stage_.data(), pos_);
        pos_ = 0;
    }

    // Raw data after Align(): straight to the output, never through the staging area.
    void WriteRaw(const uint8_t* data, size_t n) {
        if (n > 0) io_->WriteArchiveData(data, n);
    }

    // Bits sent since the last alignment and not yet written.
    uint64_t PendingBits() const { return static_cast<uint64_t>(pos_) * 8 + nacc_; }

private:
    // Writes leading runs of 1024 bytes while more than `limit` bits stand behind the run's start.
    void WriteRuns(uint64_t limit) {
        size_t start = 0;
        while ((static_cast<uint64_t>(pos_ - start) * 8 + nacc_) > limit) {
            io_->WriteArchiveData(stage_.data() + start, kRun);
            start += kRun;
        }
        if (start > 0) {
            std::memmove(stage_.data(), stage_.data() + start, pos_ - start);
            pos_ -= start;
        }
    }

    DeflateIO* io_ = nullptr;
    std::vector<uint8_t> stage_;
    uint64_t acc_ = 0;
    unsigned nacc_ = 0;
    size_t pos_ = 0;
};

}  // namespace archive::codec
