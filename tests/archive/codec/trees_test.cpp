// The block coder on its own: symbols go in by hand, so each rule can be hit exactly: the text/binary
// classification at its boundary, the block-end rules, the choice between whole-entry store, stored,
// fixed and dynamic form with its ties, the case of a block whose data has left the window, and trees
// that need their lengths limited. Every stream is read back with the test decoder.
#include "archive/codec/trees.h"

#include <gtest/gtest.h>

#include <random>

#include "tests/archive/codec/deflate_symbols.h"

namespace {

using archive::codec::BlockCoder;
using deflate_test::Decode;
using deflate_test::RecordingIO;

struct Coder {
    explicit Coder(int level = 6) : io("") {
        coder.AllocateBuffers();
        coder.Start(io, level);
    }
    // The header fields the writer takes from the coder: internal attributes (1 text) and method.
    int16_t Attributes() const { return coder.Text() ? 1 : 0; }
    uint16_t Method() const { return coder.StoredWhole() ? 0 : 8; }
    // Records literals; returns whether the last one asked for the block to end.
    bool Literals(const std::string& bytes, uint32_t pos = 0, int32_t blockStart = 0) {
        bool end = false;
        for (char c : bytes) end = coder.RecordLiteral(static_cast<uint8_t>(c), pos, blockStart);
        return end;
    }
    BlockCoder coder;
    RecordingIO io;
};

std::string Bytes(size_t n, int lo, int hi, uint32_t seed) {
    std::mt19937 rng(seed);
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(static_cast<char>(lo + static_cast<int>(rng() % (hi - lo + 1))));
    return s;
}

TEST(TreesTest, FirstBlockClassifiesTextAndBinary) {
    struct Row {
        int binary;
        int text;
        int16_t expected;
    };
    for (const Row& row : {Row{100, 400, 1}, Row{101, 400, 0}, Row{0, 0, 1}, Row{1, 3, 0}, Row{1, 4, 1}}) {
        SCOPED_TRACE(std::to_string(row.binary) + " binary, " + std::to_string(row.text) + " text");
        Coder c;
        // Controls 0..6 and bytes 128..255 count as binary, 7..127 as text.
        c.Literals(Bytes(row.binary / 2, 0, 6, 1) + Bytes(row.binary - row.binary / 2, 128, 255, 2));
        c.Literals(Bytes(row.text, 7, 127, 3));
        c.coder.FlushBlock(nullptr, row.binary + row.text, true);
        EXPECT_EQ(c.Attributes(), row.expected);
    }
}

TEST(TreesTest, MatchedBytesAndLaterBlocksDoNotClassify) {
    Coder c;
    c.Literals(Bytes(400, 'a', 'z', 4));
    for (int i = 0; i < 500; ++i) c.coder.RecordMatch(1, 10, 0, 0);  // bytes in matches do not count
    c.coder.FlushBlock(nullptr, 5400, false);
    EXPECT_EQ(c.Attributes(), 1);
    c.Literals(Bytes(3000, 128, 255, 5));
    c.coder.FlushBlock(nullptr, 3000, true);
    EXPECT_EQ(c.Attributes(), 1);
    const auto d = Decode(c.io.Output());
    EXPECT_EQ(d.blocks.size(), 2u);
}

TEST(TreesTest, BlockEndRules) {
    // Levels 1 and 2: only at the 32767th symbol.
    {
        Coder c(2);
        EXPECT_FALSE(c.Literals(std::string(4096, 'a'), 1'000'000, 0));
        EXPECT_FALSE(c.Literals(std::string(32766 - 4096, 'a'), 1'000'000, 0));
        EXPECT_TRUE(c.Literals("a", 1'000'000, 0));
    }
    // Above level 2, also at a multiple of 4096 symbols when fewer than half are matches and 8 bits per
    // symbol (plus distance bits) come to less than half the input. 4096 literals: 4096 bytes estimated,
    // so the input must be 8194 bytes or more (half of 8193 rounds down to 4096, which is not more).
    struct Row {
        int level;
        uint32_t pos;
        int32_t blockStart;
        bool ends;
    };
    for (const Row& row : {Row{3, 8193, 0, false}, Row{3, 8194, 0, true}, Row{9, 9000, 807, false},
                           Row{9, 9000, 806, true}, Row{6, 100, -8094, true}, Row{2, 100000, 0, false}}) {
        SCOPED_TRACE(std::to_string(row.level) + " " + std::to_string(row.pos) + " " + std::to_string(row.blockStart));
        Coder c(row.level);
        EXPECT_FALSE(c.Literals(std::string(4095, 'a'), row.pos, row.blockStart));
        EXPECT_EQ(c.Literals("a", row.pos, row.blockStart), row.ends);
    }
    // Half or more matches: the block goes on.
    {
        Coder c(6);
        bool ended = false;
        for (int i = 0; i < 2048; ++i) {
            ended |= c.coder.RecordLiteral('x', 1'000'000, 0);
            ended |= c.coder.RecordMatch(1, 258, 1'000'000, 0);
        }
        EXPECT_FALSE(ended);
        EXPECT_EQ(c.coder.SymbolCount(), 4096u);
    }
    // Distance bits count: 1000 matches at distance 32000 (13 extra bits) among 4096 symbols.
    {
        Coder c(6);
        for (int i = 0; i < 3096; ++i) c.coder.RecordLiteral('x', 0, 0);
        for (int i = 0; i < 999; ++i) c.coder.RecordMatch(32000, 3, 0, 0);
        // estimate = (4096*8 + 1000*(5+13)) / 8 = 6346 bytes: ends for 12694 bytes of input, not 12692
        EXPECT_FALSE(c.coder.RecordMatch(32000, 3, 12692, 0));
    }
    {
        Coder c(6);
        for (int i = 0; i < 3096; ++i) c.coder.RecordLiteral('x', 0, 0);
        for (int i = 0; i < 999; ++i) c.coder.RecordMatch(32000, 3, 0, 0);
        EXPECT_TRUE(c.coder.RecordMatch(32000, 3, 12694, 0));
    }
}

TEST(TreesTest, WholeEntryStoreWritesTheRawBytes) {
    Coder c;
    const std::string data = "qwertyuiopasdfghjklzxcvbnm";
    c.Literals(data);
    const uint64_t size = c.coder.FlushBlock(reinterpret_cast<const uint8_t*>(data.data()), data.size(), true);
    EXPECT_EQ(size, data.size());
    EXPECT_EQ(c.Method(), 0);
    ASSERT_EQ(c.io.writes.size(), 1u);
    EXPECT_EQ(c.io.writes[0], data);
}

// A single block whose start has left the window cannot be stored whole (there is nothing left to copy):
// it is coded instead, the entry stays deflated and its stream is complete.
TEST(TreesTest, WholeEntryStoreWithoutDataFallsBackToCodedBlock) {
    Coder c;
    const std::string data = Bytes(3000, 0, 255, 7);
    c.Literals(data);
    const uint64_t size = c.coder.FlushBlock(nullptr, 2000, true);  // would be stored if the data were there
    EXPECT_LE(c.coder.LastDecision().storedLength, static_cast<int64_t>(c.coder.LastDecision().staticBytes));
    EXPECT_EQ(c.Method(), 8);
    const std::string out = c.io.Output();
    EXPECT_EQ(size, out.size());
    const auto d = Decode(out);
    ASSERT_EQ(d.blocks.size(), 1u);
    EXPECT_NE(d.blocks[0].type, 0);
    EXPECT_EQ(d.data, data);
}

TEST(TreesTest, LaterIncompressibleBlockIsStoredWithHeader) {
    Coder c;
    c.Literals(std::string(2000, 'a'));
    c.coder.FlushBlock(nullptr, 2000, false);
    const std::string noise = Bytes(5000, 0, 255, 8);
    c.Literals(noise);
    const uint64_t size = c.coder.FlushBlock(reinterpret_cast<const uint8_t*>(noise.data()), noise.size(), true);
    EXPECT_EQ(c.Method(), 8);
    const std::string out = c.io.Output();
    EXPECT_EQ(size, out.size());
    const auto d = Decode(out);
    ASSERT_EQ(d.blocks.size(), 2u);
    EXPECT_EQ(d.blocks[1].type, 0);
    EXPECT_EQ(d.data, std::string(2000, 'a') + noise);
    // Without the data the same block must be coded.
    Coder e;
    e.Literals(std::string(2000, 'a'));
    e.coder.FlushBlock(nullptr, 2000, false);
    e.Literals(noise);
    e.coder.FlushBlock(nullptr, noise.size(), true);
    const auto d2 = Decode(e.io.Output());
    EXPECT_NE(d2.blocks[1].type, 0);
    EXPECT_EQ(d2.data, d.data);
}

// Equal sizes go to the fixed trees (searching random blocks for ties), and a stored block wins over both
// when raw data plus its 4 length bytes is no larger.
TEST(TreesTest, TiesGoToFixedTreesAndToStoredBlocks) {
    std::mt19937 rng(42);
    int ties = 0, storedTies = 0;
    for (int trial = 0; trial < 4000 && (ties < 5 || storedTies < 1); ++trial) {
        Coder c;
        const size_t n = 5 + rng() % 120;
        const int hi = static_cast<int>(rng() % 2 ? 'z' : 255);
        const std::string data = Bytes(n, 'a', hi, static_cast<uint32_t>(trial));
        // A first block so that the second is not a whole-entry store.
        c.Literals("x");
        c.coder.FlushBlock(nullptr, 1, false);
        c.Literals(data);
        const int64_t storedLen = static_cast<int64_t>(n) + static_cast<int64_t>(rng() % 3) - 1;
        c.coder.FlushBlock(reinterpret_cast<const uint8_t*>(data.data()), storedLen, true);
        const auto dec = c.coder.LastDecision();
        const auto d = Decode(c.io.Output());
        ASSERT_EQ(d.blocks.size(), 2u);
        const uint64_t best = std::min(dec.staticBytes, dec.dynamicBytes);
        if (static_cast<uint64_t>(storedLen) + 4 <= best) {
            EXPECT_EQ(d.blocks[1].type, 0);
            storedTies += static_cast<uint64_t>(storedLen) + 4 == best;
        } else if (dec.staticBytes <= dec.dynamicBytes) {
            EXPECT_EQ(d.blocks[1].type, 1);
            ties += dec.staticBytes == dec.dynamicBytes;
        } else {
            EXPECT_EQ(d.blocks[1].type, 2);
        }
    }
    EXPECT_GE(ties, 5);
    EXPECT_GE(storedTies, 1);
}

// Frequencies growing like Fibonacci numbers make a Huffman tree deeper than 15 bits; the lengths must be
// limited and the stream still decode (both trees).
TEST(TreesTest, DeepTreesAreLimitedTo15Bits) {
    Coder c;
    std::string expect;
    unsigned a = 1, b = 1;
    for (int sym = 0; sym < 21; ++sym) {
        for (unsigned k = 0; k < a; ++k) c.coder.RecordLiteral(static_cast<uint8_t>('A' + sym), 0, 0);
        expect += std::string(a, static_cast<char>('A' + sym));
        const unsigned next = a + b;
        a = b;
        b = next;
    }
    ASSERT_LT(c.coder.SymbolCount(), 32767u);
    c.coder.FlushBlock(nullptr, expect.size(), false);
    // Distances: codes 0..19 with Fibonacci frequencies, each a 3-byte match.
    a = 1, b = 1;
    std::string tail = "abcdefghijklmnopqrstuvwxyz";
    tail += tail;
    tail += tail;
    tail += tail;
    tail += tail;
    tail += tail;
    tail += tail;
    tail += tail;
    tail += tail;
    tail += tail;  // 13312 bytes, so every distance up to 1024 is in reach
    for (char ch : tail) c.coder.RecordLiteral(static_cast<uint8_t>(ch), 0, 0);
    std::string out = expect + tail;
    static const unsigned dist[20] = {1, 2, 3, 4, 5, 7, 9, 13, 17, 25, 33, 49, 65, 97, 129, 193, 257, 385, 513, 769};
    for (int code = 0; code < 20; ++code) {
        for (unsigned k = 0; k < std::min(a, 1500u); ++k) {
            c.coder.RecordMatch(dist[code], 3, 0, 0);
            for (int i = 0; i < 3; ++i) out.push_back(out[out.size() - dist[code]]);
        }
        const unsigned next = a + b;
        a = b;
        b = next;
    }
    c.coder.FlushBlock(nullptr, 1, true);
    const auto d = Decode(c.io.Output());
    ASSERT_EQ(d.blocks.size(), 2u);
    EXPECT_EQ(d.blocks[0].type, 2);
    EXPECT_EQ(d.blocks[1].type, 2);
    EXPECT_EQ(d.data, out);
}

// The returned size is the stream's size, and the block coder's bit count matches what was written for
// every form, including several stored blocks in a row.
TEST(TreesTest, CompressedSizeIsWhatWasWritten) {
    std::mt19937 rng(3);
    for (int trial = 0; trial < 50; ++trial) {
        Coder c(1 + trial % 9);
        std::string expect;
        const int blocks = 1 + trial % 5;
        uint64_t size = 0;
        for (int blk = 0; blk < blocks; ++blk) {
            const bool noisy = (rng() % 2) != 0;
            const std::string data = noisy ? Bytes(100 + rng() % 3000, 0, 255, rng()) : std::string(50 + rng() % 500, 'q');
            c.Literals(data);
            expect += data;
            const bool last = blk == blocks - 1;
            size = c.coder.FlushBlock(reinterpret_cast<const uint8_t*>(data.data()), data.size(), last);
        }
        const std::string out = c.io.Output();
        EXPECT_EQ(size, out.size());
        if (c.Method() == 0) {
            EXPECT_EQ(out, expect);
        } else {
            EXPECT_EQ(Decode(out).data, expect);
        }
    }
}

}  // namespace
