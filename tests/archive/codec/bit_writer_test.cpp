// The bit output must make the same bytes in the same write calls as a 16-bit bit buffer feeding a
// 1024-byte output buffer (every write is observable: the writer pumps messages after each). A plain model
// of that scheme is the reference; random runs of values, alignments, raw data and pumps must agree with it.
#include "archive/codec/bit_writer.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/archive/codec/deflate_symbols.h"

namespace {

using archive::codec::BitWriter;

// The reference: values enter a 16-bit buffer from its lowest free bit; a value that does not fit fills
// the buffer, which goes out as two bytes, and the rest starts the next buffer. Two bytes go into the
// output buffer when two are free there, otherwise it is written first; one byte when it is not full.
class Model {
public:
    void Send(unsigned value, int length) {
        if (valid_ > 16 - length) {
            buf_ |= static_cast<uint16_t>(value << valid_);
            PutShort(buf_);
            buf_ = static_cast<uint16_t>(value >> (16 - valid_));
            valid_ += length - 16;
        } else {
            buf_ |= static_cast<uint16_t>(value << valid_);
            valid_ += length;
        }
    }
    void Align() {
        if (valid_ > 8)
            PutShort(buf_);
        else if (valid_ > 0)
            PutByte(static_cast<uint8_t>(buf_));
        Flush();
        buf_ = 0;
        valid_ = 0;
    }
    void Raw(const std::string& data) {
        if (!data.empty()) writes.push_back(data);
    }
    std::vector<std::string> writes;

private:
    void PutShort(uint16_t w) {
        if (out_.size() + 2 > 1024) Flush();
        out_.push_back(static_cast<char>(w & 0xFF));
        out_.push_back(static_cast<char>(w >> 8));
    }
    void PutByte(uint8_t b) {
        if (out_.size() == 1024) Flush();
        out_.push_back(static_cast<char>(b));
    }
    void Flush() {
        if (!out_.empty()) writes.push_back(out_);
        out_.clear();
    }
    uint16_t buf_ = 0;
    int valid_ = 0;
    std::string out_;
};

TEST(BitWriterTest, WritesFallWhereThe16BitSchemePutsThem) {
    std::mt19937 rng(1);
    for (int run = 0; run < 300; ++run) {
        SCOPED_TRACE(run);
        deflate_test::RecordingIO io("");
        BitWriter w;
        w.Start(io);
        Model m;
        // Long runs of values cross many 1024-byte boundaries; short ones probe the alignment cases.
        const int ops = run % 3 == 0 ? 20000 + static_cast<int>(rng() % 20000) : static_cast<int>(rng() % 3000);
        const int alignEvery = 1 + static_cast<int>(rng() % 5000);
        for (int i = 0; i < ops; ++i) {
            const int r = static_cast<int>(rng() % alignEvery);
            if (r == 0) {
                w.Align();
                m.Align();
                if (rng() % 2) {
                    const std::string raw(1 + rng() % 3000, static_cast<char>('a' + rng() % 26));
                    w.WriteRaw(reinterpret_cast<const uint8_t*>(raw.data()), raw.size());
                    m.Raw(raw);
                }
            } else if (r == 1) {
                w.Pump();  // the coder pumps at block ends: it must not move any write
            } else {
                const int len = 1 + static_cast<int>(rng() % 16);
                const unsigned value = rng() & ((1u << len) - 1);
                w.Put(value, len);
                m.Send(value, len);
                w.PumpIfFull();
            }
        }
        w.Align();
        m.Align();
        ASSERT_EQ(io.writes.size(), m.writes.size());
        for (size_t i = 0; i < m.writes.size(); ++i) ASSERT_EQ(io.writes[i], m.writes[i]) << "write " << i;
    }
}

// The boundary cases of alignment one by one: 8192 bits and up to 16 more fill exactly one buffer.
TEST(BitWriterTest, AlignmentAroundAFullBuffer) {
    for (int extra = -9; extra <= 20; ++extra) {
        SCOPED_TRACE(extra);
        deflate_test::RecordingIO io("");
        BitWriter w;
        w.Start(io);
        Model m;
        const int bits = 8192 + extra;
        for (int i = 0; i < bits; ++i) {
            w.Put(i & 1, 1);
            m.Send(i & 1, 1);
        }
        w.Pump();
        w.Align();
        m.Align();
        EXPECT_EQ(io.writes, m.writes);
    }
}

}  // namespace
