// Unshrink on the Shrunk entries of archives made by other tools (hundreds of partial clears among them),
// and on hand-made streams for the cases no archive shows.
#include <gtest/gtest.h>

#include <map>

#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "tests/archive/codec/codec_test_io.h"

namespace {

using archive::codec::DecodeResult;
using codec_test::BitWriter;
using codec_test::MemorySource;
using codec_test::StringSink;
namespace ts = testing_support;

void DecodesEveryShrunkEntry(const std::string& dir, size_t atLeast) {
    const size_t n = codec_test::CheckLegacyEntries(
        dir, {1}, [&](archive::codec::DecodeWorkspace& ws, archive::codec::InputSource& in, archive::codec::OutputSink& out,
                      const ts::ZipEntry&) { return archive::codec::Unshrink(ws, in, out); });
    EXPECT_GE(n, atLeast);
}

TEST(UnshrinkTest, DecodesTheShrunkEntriesKeptWithTheTests) { DecodesEveryShrunkEntry(ts::FixtureDir(), 4); }

TEST(UnshrinkTest, DecodesEveryShrunkEntryOfTheExternalCorpus) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    DecodesEveryShrunkEntry(ts::LegacyDir(), 37);
}

// ---------------------------------------------------------------------------------------------------------
// A plain LZW encoder for round trips: codes widen (control 256, 1) as soon as the next code needs another
// bit, the table fills up to 8191 and then stays as it is; it never clears.
std::string Shrink(const std::string& in) {
    BitWriter w;
    std::map<std::pair<int, uint8_t>, int> table;
    unsigned bits = 9;
    int next = 257;
    int current = -1;
    for (char ch : in) {
        const auto c = static_cast<uint8_t>(ch);
        if (current < 0) {
            current = c;
            continue;
        }
        auto it = table.find({current, c});
        if (it != table.end()) {
            current = it->second;
            continue;
        }
        w.Bits(static_cast<uint32_t>(current), bits);
        if (next < 8192) {
            table[{current, c}] = next++;
            if (next > (1 << bits) && bits < 13) {
                w.Bits(256, bits).Bits(1, bits);
                ++bits;
            }
        }
        current = c;
    }
    if (current >= 0) w.Bits(static_cast<uint32_t>(current), bits);
    return w.Data();
}

using codec_test::Decoded;

Decoded RunUnshrink(const std::string& stream, size_t block = 16000) {
    return codec_test::DecodeWith(stream, block, [](auto& ws, auto& src, auto& sink) {
        return archive::codec::Unshrink(ws, src, sink);
    });
}

TEST(UnshrinkTest, RoundTripsThroughAPlainEncoder) {
    const std::string cases[] = {"a", "abababababababab", ts::TextBytes(300000, 5), ts::RandomBytes(100000, 6),
                                 std::string(100000, '\0')};
    for (const std::string& data : cases) {
        const std::string stream = Shrink(data);
        for (size_t block : {size_t{16000}, size_t{3}}) {
            const Decoded d = RunUnshrink(stream, block);
            EXPECT_EQ(d.result, DecodeResult::Ok);
            EXPECT_TRUE(d.out == data) << data.size() << " bytes";
        }
    }
}

// Codes of the given widths.
std::string Codes(std::initializer_list<std::pair<uint32_t, unsigned>> codes) {
    BitWriter w;
    for (auto [code, bits] : codes) w.Bits(code, bits);
    return w.Data();
}

TEST(UnshrinkTest, HandMadeStreams) {
    struct Case {
        const char* name;
        std::string stream;
        DecodeResult result;
        std::string out;
    } cases[] = {
        {"empty", "", DecodeResult::Ok, ""},
        {"one byte", Codes({{'a', 9}}), DecodeResult::Ok, "a"},
        {"a string code", Codes({{'a', 9}, {'b', 9}, {257, 9}}), DecodeResult::Ok, "abab"},
        {"the code being entered (previous string + its first byte)", Codes({{'a', 9}, {257, 9}, {258, 9}}),
         DecodeResult::Ok, "aaaaaa"},
        {"wider codes after 256, 1", Codes({{'a', 9}, {256, 9}, {1, 9}, {'b', 10}, {257, 10}}), DecodeResult::Ok,
         "abab"},
        // 257 = "ab" is a leaf: the clear frees it, and the next string entered ("bc") takes its code.
        {"partial clear frees leaves and reuses the lowest code",
         Codes({{'a', 9}, {'b', 9}, {256, 9}, {2, 9}, {'c', 9}, {257, 9}}), DecodeResult::Ok, "abcbc"},
        {"a partial bit group at the end is ignored", Codes({{'a', 9}, {'b', 9}, {3, 4}}), DecodeResult::Ok, "ab"},
        {"first code above 255", Codes({{300, 9}}), DecodeResult::DataError, ""},
        {"an undefined code that is not the next one", Codes({{'a', 9}, {258, 9}}), DecodeResult::DataError, "a"},
        {"control code followed by 3", Codes({{'a', 9}, {256, 9}, {3, 9}}), DecodeResult::DataError, "a"},
        {"codes wider than 13 bits",
         Codes({{'a', 9}, {256, 9}, {1, 9}, {256, 10}, {1, 10}, {256, 11}, {1, 11}, {256, 12}, {1, 12}, {256, 13},
                {1, 13}, {'b', 14}}),
         DecodeResult::DataError, "a"},
    };
    for (const Case& c : cases) {
        for (size_t block : {size_t{16000}, size_t{1}}) {
            const Decoded d = RunUnshrink(c.stream, block);
            EXPECT_EQ(d.result, c.result) << c.name;
            EXPECT_EQ(d.out, c.out) << c.name;
        }
    }
}

TEST(UnshrinkTest, AStringThatLoopsOnItselfIsDataError) {
    // After a clear frees 257, the next string is entered at 257 with the previous code 257 as its parent.
    const Decoded d = RunUnshrink(Codes({{'a', 9}, {'b', 9}, {257, 9}, {256, 9}, {2, 9}, {'c', 9}, {257, 9}}));
    EXPECT_EQ(d.result, DecodeResult::DataError);
}

TEST(UnshrinkTest, AWorkspaceWithoutMemoryGivesOutOfMemory) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    ws->failAllocations = true;
    MemorySource src(Codes({{'a', 9}}));
    StringSink sink;
    EXPECT_EQ(archive::codec::Unshrink(*ws, src, sink), DecodeResult::OutOfMemory);
}

}  // namespace
