// Explode on the Imploded entries of archives made by other tools (every dictionary and tree variant), on a
// headerless stream with its expected output, and on hand-made streams for the cases no archive shows.
#include <gtest/gtest.h>

#include <set>

#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "tests/archive/codec/codec_test_io.h"

namespace {

using archive::codec::DecodeResult;
using codec_test::BitWriter;
using codec_test::MemorySource;
using codec_test::StringSink;
namespace ts = testing_support;

using codec_test::Decoded;

Decoded RunExplode(const std::string& stream, uint16_t flags, uint32_t size, size_t block = 16000) {
    return codec_test::DecodeWith(stream, block, [&](auto& ws, auto& src, auto& sink) {
        return archive::codec::Explode(ws, src, sink, flags, static_cast<uint32_t>(stream.size()), size);
    });
}

void DecodesEveryImplodedEntry(const std::string& dir, size_t atLeast) {
    std::set<uint16_t> variants;
    const size_t n = codec_test::CheckLegacyEntries(
        dir, {6}, [&](archive::codec::DecodeWorkspace& ws, archive::codec::InputSource& in, archive::codec::OutputSink& out,
                 const ts::ZipEntry& e) {
            variants.insert(e.flags & 6);
            return archive::codec::Explode(ws, in, out, e.flags, e.compressedSize, e.uncompressedSize);
        });
    EXPECT_GE(n, atLeast);
    EXPECT_EQ(variants, (std::set<uint16_t>{0, 2, 4, 6}));
}

TEST(ExplodeTest, DecodesTheImplodedEntriesKeptWithTheTests) { DecodesEveryImplodedEntry(ts::FixtureDir(), 6); }

TEST(ExplodeTest, DecodesEveryImplodedEntryOfTheExternalCorpus) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    DecodesEveryImplodedEntry(ts::LegacyDir(), 170);
}

TEST(ExplodeTest, DecodesTheHeaderlessStream) {
    const std::string raw = ts::ReadFile(ts::FixtureDir() + "/raw/zip2_implode_hamlet_256.bin");
    const std::string expected = ts::ReadFile(ts::FixtureDir() + "/raw/zip2_implode_hamlet_256.out");
    ASSERT_FALSE(raw.empty());
    for (size_t block : {size_t{16000}, size_t{1}}) {
        const Decoded d = RunExplode(raw, 0, 256, block);
        EXPECT_EQ(d.result, DecodeResult::Ok);
        EXPECT_EQ(d.out, expected);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Hand-made streams. A tree whose values all have the same length L gives value v the code n - 1 - v (the
// codes are handed out from the last value backwards), sent most significant bit first.

std::string EqualTree(unsigned values, unsigned len) {
    std::string d;
    d.push_back(static_cast<char>(values / 16 - 1));
    for (unsigned i = 0; i < values / 16; ++i) d.push_back(static_cast<char>(0xF0 | (len - 1)));
    return d;
}

struct Implode {
    bool bigDictionary;
    bool literalTree;
    BitWriter w;

    explicit Implode(uint16_t flags) : bigDictionary(flags & 2), literalTree(flags & 4) {
        if (literalTree) w.Bytes(EqualTree(256, 8));
        w.Bytes(EqualTree(64, 6));  // lengths
        w.Bytes(EqualTree(64, 6));  // distances
    }
    Implode& Literal(uint8_t c) {
        w.Bits(1, 1);
        if (literalTree)
            w.Code(255u - c, 8);
        else
            w.Bits(c, 8);
        return *this;
    }
    // A match of `length` bytes (>= the minimum match) at `distance`.
    Implode& Match(unsigned distance, unsigned length) {
        const unsigned lowBits = bigDictionary ? 7 : 6;
        const unsigned d = distance - 1;
        w.Bits(0, 1).Bits(d & ((1u << lowBits) - 1), lowBits).Code(63 - (d >> lowBits), 6);
        const unsigned l = length - (literalTree ? 3 : 2);
        if (l >= 63)
            w.Code(0, 6).Bits(l - 63, 8);
        else
            w.Code(63 - l, 6);
        return *this;
    }
    std::string Data() const { return w.Data(); }
};

TEST(ExplodeTest, HandMadeStreamsOfEveryVariant) {
    for (uint16_t flags : {0, 2, 4, 6}) {
        const unsigned minMatch = flags & 4 ? 3 : 2;
        struct Case {
            const char* name;
            std::string stream;
            uint32_t size;
            std::string out;
        } cases[] = {
            {"literals and a match", Implode(flags).Literal('a').Literal('b').Match(2, 4).Data(), 6, "ababab"},
            {"shortest match", Implode(flags).Literal('q').Match(1, minMatch).Data(), 1 + minMatch,
             std::string(1 + minMatch, 'q')},
            {"match before the first byte gives zeros", Implode(flags).Match(5, 4).Literal('z').Data(), 5,
             std::string(4, '\0') + "z"},
            {"length code 63 takes an extra byte", Implode(flags).Literal('x').Match(1, minMatch + 63 + 40).Data(),
             1 + minMatch + 103, std::string(1 + minMatch + 103, 'x')},
            {"longest match", Implode(flags).Literal('y').Match(1, minMatch + 63 + 255).Data(), 1 + minMatch + 318,
             std::string(1 + minMatch + 318, 'y')},
            {"a match stops at the uncompressed size", Implode(flags).Literal('m').Match(1, 50).Data(), 10,
             std::string(10, 'm')},
            {"farthest distance", Implode(flags).Literal('f').Match(flags & 2 ? 8192 : 4096, 5).Data(), 6,
             "f" + std::string(5, '\0')},
        };
        for (const Case& c : cases) {
            for (size_t block : {size_t{16000}, size_t{1}}) {
                const Decoded d = RunExplode(c.stream, flags, c.size, block);
                EXPECT_EQ(d.result, DecodeResult::Ok) << c.name << " flags " << flags;
                EXPECT_EQ(d.out, c.out) << c.name << " flags " << flags;
            }
        }
    }
}

TEST(ExplodeTest, InvalidTreeDescriptions) {
    const std::string distances = EqualTree(64, 6);
    std::string incomplete;  // 62 values of 6 bits and 2 of 7: the code 111111 belongs to no value
    incomplete.push_back(4);
    for (char b : {'\xF5', '\xF5', '\xF5', '\xD5', '\x16'}) incomplete.push_back(b);
    struct Case {
        const char* name;
        std::string lengthTree;
        std::string tail;
    } cases[] = {
        {"fewer values than the tree has", std::string("\x02\xF5\xF5\xF5"), ""},
        {"more values than the tree has", std::string("\x04\xF5\xF5\xF5\xF5\xF5"), ""},
        {"over-subscribed lengths", std::string("\x03\xF4\xF4\xF4\xF4"), ""},
        {"overlapping codes of an incomplete set", std::string("\x04\x06\xF5\xF5\xF5\xE5"), ""},  // 1 of 7, 63 of 6
        {"a code that no value owns", incomplete, std::string("\x00\x00")},
        {"description cut short", std::string("\x03\xF5"), ""},
    };
    for (const Case& c : cases) {
        BitWriter w;
        w.Bytes(c.lengthTree).Bytes(distances);
        // A match whose length code is 111111 (reserved in the incomplete tree), distance code for 0.
        w.Bits(1, 1).Bits('a', 8).Bits(0, 1).Bits(0, 6).Code(63, 6).Code(63, 6).Bytes(c.tail);
        const Decoded d = RunExplode(w.Data(), 0, 100);
        EXPECT_EQ(d.result, DecodeResult::DataError) << c.name;
    }
}

TEST(ExplodeTest, EveryTruncationIsDataErrorWithAPrefixOfTheOutput) {
    Implode s(6);
    std::string expected;
    for (int i = 0; i < 40; ++i) {
        s.Literal(static_cast<uint8_t>('a' + i % 26));
        expected += static_cast<char>('a' + i % 26);
    }
    s.Match(26, 30);
    for (int i = 0; i < 30; ++i) expected += expected[expected.size() - 26];
    const std::string stream = s.Data();
    ASSERT_EQ(RunExplode(stream, 6, static_cast<uint32_t>(expected.size())).out, expected);
    for (size_t len = 0; len < stream.size(); ++len) {
        const Decoded d = RunExplode(stream.substr(0, len), 6, static_cast<uint32_t>(expected.size()));
        EXPECT_EQ(d.result, DecodeResult::DataError) << "cut at " << len;
        EXPECT_EQ(d.out, expected.substr(0, d.out.size())) << "cut at " << len;
    }
}

TEST(ExplodeTest, AWorkspaceWithoutMemoryGivesOutOfMemory) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    ws->failAllocations = true;
    MemorySource src(Implode(0).Literal('a').Data());
    StringSink sink;
    EXPECT_EQ(archive::codec::Explode(*ws, src, sink, 0, 10, 1), DecodeResult::OutOfMemory);
    EXPECT_TRUE(sink.data.empty());
}

}  // namespace
