// Unreduce on the Reduced entries (factors 1 to 4) of archives made by other tools, on headerless streams
// with their expected output, and on hand-made streams for the cases no archive shows.
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

Decoded RunUnreduce(const std::string& stream, int factor, uint32_t size, size_t block = 16000) {
    return codec_test::DecodeWith(stream, block, [&](auto& ws, auto& src, auto& sink) {
        return archive::codec::Unreduce(ws, src, sink, factor, size);
    });
}

void DecodesEveryReducedEntry(const std::string& dir, size_t atLeast) {
    std::set<uint16_t> methods;
    const size_t n = codec_test::CheckLegacyEntries(
        dir, {2, 3, 4, 5}, [&](archive::codec::DecodeWorkspace& ws, archive::codec::InputSource& in,
                          archive::codec::OutputSink& out, const ts::ZipEntry& e) {
            methods.insert(e.method);
            return archive::codec::Unreduce(ws, in, out, e.method - 1, e.uncompressedSize);
        });
    EXPECT_GE(n, atLeast);
    EXPECT_EQ(methods, (std::set<uint16_t>{2, 3, 4, 5}));
}

TEST(UnreduceTest, DecodesTheReducedEntriesKeptWithTheTests) { DecodesEveryReducedEntry(ts::FixtureDir(), 7); }

TEST(UnreduceTest, DecodesEveryReducedEntryOfTheExternalCorpus) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    DecodesEveryReducedEntry(ts::LegacyDir(), 46);
}

TEST(UnreduceTest, DecodesTheHeaderlessStreams) {
    const std::string dir = ts::FixtureDir() + "/raw/";
    const std::string hamlet = ts::ReadFile(dir + "zip2_implode_hamlet_2048.out");
    ASSERT_EQ(hamlet.size(), 2048u);
    struct Case {
        const char* file;
        std::string expected;
    } cases[] = {
        {"zip2_reduce_hamlet_2048.bin", hamlet},
        {"zip2_reduce_zero_reduced.bin", hamlet + std::string(1024, '\0')},  // copies from before the start
    };
    for (const Case& c : cases) {
        const Decoded d = RunUnreduce(ts::ReadFile(dir + c.file), 4, static_cast<uint32_t>(c.expected.size()));
        EXPECT_EQ(d.result, DecodeResult::Ok) << c.file;
        EXPECT_TRUE(d.out == c.expected) << c.file;
    }
}

// ---------------------------------------------------------------------------------------------------------
// Hand-made streams: follower sets first (set 255 down to 0), then the follower-coded bytes.

struct Reduced {
    BitWriter w;
    std::vector<std::string> sets = std::vector<std::string>(256);
    bool started = false;

    Reduced& Set(uint8_t byte, const std::string& followers) {
        sets[byte] = followers;
        return *this;
    }
    void Start() {
        if (started) return;
        started = true;
        for (int i = 255; i >= 0; --i) w.Bits(static_cast<uint32_t>(sets[i].size()), 6).Bytes(sets[i]);
    }
    // A byte sent raw (the flag bit first when the previous byte has followers).
    Reduced& Raw(uint8_t b, uint8_t previous = 0) {
        Start();
        if (!sets[previous].empty()) w.Bits(1, 1);
        w.Bits(b, 8);
        return *this;
    }
    Reduced& Raw(const std::string& bytes) {
        for (char c : bytes) Raw(static_cast<uint8_t>(c));
        return *this;
    }
    // A byte sent as an index into the previous byte's follower set.
    Reduced& Index(unsigned index, unsigned bits) {
        Start();
        w.Bits(0, 1).Bits(index, bits);
        return *this;
    }
    std::string Data() {
        Start();
        return w.Data();
    }
};

TEST(UnreduceTest, HandMadeStreams) {
    struct Case {
        const char* name;
        int factor;
        std::string stream;
        uint32_t size;
        DecodeResult result;
        std::string out;
    } cases[] = {
        {"raw bytes", 1, Reduced().Raw("hello").Data(), 5, DecodeResult::Ok, "hello"},
        {"DLE 0 is the byte 144", 2, Reduced().Raw("a\x90").Raw(0).Raw("b").Data(), 3, DecodeResult::Ok, "a\x90" "b"},
        // factor 1: V = 0x02 -> length 2 + 3, distance (V >> 7) * 256 + C + 1 = 3
        {"repeat, factor 1", 1, Reduced().Raw("abc\x90\x02\x02").Data(), 8, DecodeResult::Ok, "abcabcab"},
        // factor 1: V = 0x81 -> length 1 + 3, distance 256 + 0 + 1 = 257
        {"high distance bits, factor 1", 1, Reduced().Raw(std::string(257, 'k') + "\x90\x81" + '\0').Data(), 261,
         DecodeResult::Ok, std::string(261, 'k')},
        // factor 4: V = 0x0F -> length 15 + next byte 5 = 20 + 3, distance C + 1 = 1
        {"extended length, factor 4", 4, Reduced().Raw("z\x90\x0F\x05").Raw(0).Data(), 24, DecodeResult::Ok,
         std::string(24, 'z')},
        // factor 4: V = 0xF3 -> length 3 + 3, distance 15 * 256 + 255 + 1 = 4096
        {"farthest distance, factor 4", 4, Reduced().Raw("q\x90\xF3\xFF").Data(), 7, DecodeResult::Ok,
         "q" + std::string(6, '\0')},
        {"repeat before the first byte gives zeros", 3, Reduced().Raw("\x90\x01\x09").Raw("x").Data(), 5,
         DecodeResult::Ok, std::string(4, '\0') + "x"},
        {"a repeat stops at the uncompressed size", 2, Reduced().Raw("ab\x90\x3E\x01").Data(), 10,
         DecodeResult::Ok, "ababababab"},
        // set 0 = {x, y}: one index bit
        {"follower index", 1, Reduced().Set(0, "xy").Index(1, 1).Raw('!', 'y').Data(), 2, DecodeResult::Ok, "y!"},
        {"index outside the follower set", 1, Reduced().Set(0, "xyz").Index(3, 2).Data(), 2, DecodeResult::DataError,
         ""},
        {"input ends before the size is reached", 1, Reduced().Raw("abc").Data(), 4, DecodeResult::DataError, "abc"},
        {"follower sets cut short", 1, std::string(100, '\0'), 1, DecodeResult::DataError, ""},
    };
    for (const Case& c : cases) {
        for (size_t block : {size_t{16000}, size_t{1}}) {
            const Decoded d = RunUnreduce(c.stream, c.factor, c.size, block);
            EXPECT_EQ(d.result, c.result) << c.name;
            EXPECT_EQ(d.out, c.out) << c.name;
        }
    }
}

TEST(UnreduceTest, FollowerSetsAreReadFromTheLastToTheFirst) {
    // Set 255 comes first in the stream: with only set 'a' filled, 'a' followed by index 0 must give 'b'.
    const Decoded d = RunUnreduce(Reduced().Set('a', "b").Raw('a').Index(0, 1).Data(), 1, 2);
    EXPECT_EQ(d.result, DecodeResult::Ok);
    EXPECT_EQ(d.out, "ab");
}

TEST(UnreduceTest, EveryTruncationIsDataErrorWithAPrefixOfTheOutput) {
    const std::string raw = ts::ReadFile(ts::FixtureDir() + "/raw/zip2_reduce_hamlet_2048.bin");
    const std::string expected = ts::ReadFile(ts::FixtureDir() + "/raw/zip2_implode_hamlet_2048.out");
    ASSERT_FALSE(raw.empty());
    for (size_t len = 0; len < raw.size(); len += 3) {
        const Decoded d = RunUnreduce(raw.substr(0, len), 4, 2048);
        EXPECT_EQ(d.result, DecodeResult::DataError) << "cut at " << len;
        EXPECT_TRUE(expected.compare(0, d.out.size(), d.out) == 0) << "cut at " << len;
    }
}

TEST(UnreduceTest, AWorkspaceWithoutMemoryGivesOutOfMemory) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    ws->failAllocations = true;
    MemorySource src(Reduced().Raw("a").Data());
    StringSink sink;
    EXPECT_EQ(archive::codec::Unreduce(*ws, src, sink, 1, 1), DecodeResult::OutOfMemory);
}

}  // namespace
