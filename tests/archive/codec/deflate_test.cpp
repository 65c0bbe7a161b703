// The Deflate compressor end to end: every stream must inflate back to its input (our test decoder for
// every case, python's zlib for a set of them), the matcher's documented choices must show in the symbols
// (window position 0 never a source, the too-far rule, block ends), reads and writes must come in the
// documented pieces, and the output must be a function of the input and the level only: the same for both
// match searches, for any read piece size, after a failed entry, and the same stream the zip tool makes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>

#include "archive/codec/deflate.h"
#include "tests/archive/codec/deflate_symbols.h"
#include "tests/support/test_support.h"

namespace {

using archive::codec::Deflater;
using deflate_test::Decode;
using deflate_test::RecordingIO;
using Search = Deflater::MatchSearch;
namespace ts = testing_support;

struct Result {
    std::string out;
    uint32_t size = 0;
    uint16_t method = 0;
    uint16_t flags = 0;
    int16_t attributes = 0;
    std::vector<RecordingIO::Read> reads;
    std::vector<std::string> writes;
};

Result Compress(Deflater& d, const std::string& in, int level, size_t pieceCap = SIZE_MAX) {
    RecordingIO io(in, pieceCap);
    Result r;
    const archive::codec::DeflateResult result = d.Deflate(io, level);
    r.size = static_cast<uint32_t>(result.compressedSize);
    r.out = io.Output();
    r.method = result.stored ? 0 : 8;
    r.flags = result.optionBits;
    r.attributes = result.text ? 1 : 0;
    r.reads = io.reads;
    r.writes = io.writes;
    return r;
}

Result Compress(const std::string& in, int level, Search search = Search::Fast, size_t pieceCap = SIZE_MAX) {
    Deflater d;
    d.AllocateBuffers();
    d.SetMatchSearch(search);
    return Compress(d, in, level, pieceCap);
}

// The data back from a result: raw bytes for a whole-entry store, else the inflated stream.
std::string Restore(const Result& r) {
    if (r.method == 0) return r.out;
    const auto decoded = Decode(r.out);
    EXPECT_EQ(decoded.bytesUsed, r.out.size()) << "bytes after the last block";
    return decoded.data;
}

std::string Mixed(size_t n, uint32_t seed) {
    std::string s;
    uint32_t k = seed;
    while (s.size() < n) {
        s += ts::TextBytes(3000 + k % 5000, k);
        s += ts::RandomBytes(500 + k % 3000, k + 1);
        k = k * 1103515245u + 12345u;
    }
    s.resize(n);
    return s;
}

struct Case {
    std::string name;
    std::string data;
};

std::vector<Case> Cases() {
    std::vector<Case> c = {
        {"empty", ""},
        {"one_byte", "A"},
        {"ten_letters", "abcdefghij"},
        {"zeros_100000", std::string(100000, '\0')},
        {"random_200000", ts::RandomBytes(200000, 7)},
        {"text_300000", ts::TextBytes(300000, 3)},
        {"mixed_400000", Mixed(400000, 11)},
        {"aaaa", "aaaa"},
        {"abcabcabc", "abcabcabcabcabcabcabc"},
    };
    for (size_t n : {261, 262, 263, 32767, 32768, 32769, 65273, 65274, 65275, 65535, 65536, 65537, 98305}) {
        c.push_back({"text_" + std::to_string(n), ts::TextBytes(n, static_cast<uint32_t>(n))});
        c.push_back({"random_" + std::to_string(n), ts::RandomBytes(n, static_cast<uint32_t>(n))});
    }
    return c;
}

// ---------------------------------------------------------------------------------------------------------

TEST(DeflateTest, EveryLevelRoundTripsAndBothSearchesAgree) {
    for (const auto& c : Cases()) {
        for (int level = 1; level <= 9; ++level) {
            SCOPED_TRACE(c.name + " level " + std::to_string(level));
            const Result fast = Compress(c.data, level, Search::Fast);
            const Result portable = Compress(c.data, level, Search::Portable);
            ASSERT_EQ(fast.out, portable.out);
            EXPECT_EQ(fast.size, fast.out.size());
            EXPECT_EQ(Restore(fast), c.data);
            if (fast.method == 0) {
                EXPECT_EQ(fast.out, c.data);
            }
        }
    }
}

TEST(DeflateTest, LargeTextRoundTripsAtEveryLevel) {
    const std::string text = ts::TextBytes(5'000'000, 99);
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        const Result r = Compress(text, level);
        EXPECT_EQ(r.method, 8);
        EXPECT_EQ(r.size, r.out.size());
        EXPECT_LT(r.out.size(), text.size() / 2);
        EXPECT_EQ(Restore(r), text);
    }
}

// An independent decoder: python's zlib inflates every stream we make (raw, window bits -15).
TEST(DeflateTest, ZlibInflatesOurStreams) {
    if (!ts::HaveTool("python3")) GTEST_SKIP() << "python3 not found";
    ts::TempDir dir;
    int files = 0;
    std::vector<Case> cases = Cases();
    cases.push_back({"text_5000000", ts::TextBytes(5'000'000, 5)});
    for (const auto& c : cases) {
        for (int level : {1, 2, 3, 4, 5, 6, 7, 8, 9}) {
            if (c.data.size() > 1'000'000 && level % 3 != 0) continue;
            const Result r = Compress(c.data, level);
            if (r.method == 0) continue;  // stored raw, nothing to inflate
            const std::string stem = dir / (c.name + "." + std::to_string(level));
            ts::WriteFile(stem + ".in", c.data);
            ts::WriteFile(stem + ".def", r.out);
            files++;
        }
    }
    ASSERT_GT(files, 100);
    const std::string script =
        "import glob,sys,zlib\n"
        "bad=0\n"
        "for f in sorted(glob.glob(sys.argv[1]+'/*.def')):\n"
        "  d=zlib.decompressobj(-15)\n"
        "  out=d.decompress(open(f,'rb').read())\n"
        "  ok=d.eof and not d.unused_data and out==open(f[:-4]+'.in','rb').read()\n"
        "  if not ok: bad+=1; print('BAD',f)\n"
        "print('checked',len(glob.glob(sys.argv[1]+'/*.def')),'bad',bad)\n";
    ts::WriteFile(dir / "check.py", script);
    const auto res = ts::Run("python3 " + ts::ShellQuote(dir / "check.py") + " " + ts::ShellQuote(dir.Path()));
    EXPECT_EQ(res.exitCode, 0) << res.output;
    EXPECT_NE(res.output.find("checked " + std::to_string(files) + " bad 0"), std::string::npos) << res.output;
}

// 64 KiB of text ending in a 12-byte tail that also stands 1000 and 20000 bytes back. The far copy goes on
// with the bytes 32768 before the end, which are what the window holds past the end after its last slide:
// the search must still take the near copy, the first to reach the end of the input.
std::string EndMatchedNearAndFar() {
    std::string s = ts::TextBytes(65536, 31);
    const std::string tail = "@#tail#@1234";
    const size_t end = s.size();
    s.replace(end - 32768, 4, "XYZW");
    s.replace(end - 13, 13, "!" + tail);
    s.replace(end - 13 - 1000, 17, "(" + tail + "near");
    s.replace(end - 13 - 20000, 17, ")" + tail + "XYZW");
    return s;
}

// The zip tool of the peers makes the very same stream at the same level; its archive's local header says
// where the entry's data lies.
TEST(DeflateTest, SameStreamAsTheZipTool) {
    if (!ts::HaveTool("zip")) GTEST_SKIP() << "zip not found";
    const std::vector<Case> cases = {
        {"text", ts::TextBytes(700000, 21)},
        {"mixed", Mixed(300000, 5)},
        {"zeros", std::string(100000, '\0')},
        {"ten", "abcdefghij"},
        {"random", ts::RandomBytes(70000, 8)},
        {"boundary", ts::TextBytes(65274, 4)},
        {"end_match", EndMatchedNearAndFar()},
    };
    ts::TempDir dir;
    for (const auto& c : cases) {
        ts::WriteFile(dir / c.name, c.data);
        for (int level = 1; level <= 9; ++level) {
            SCOPED_TRACE(c.name + " level " + std::to_string(level));
            const std::string zipPath = dir / (c.name + std::to_string(level) + ".zip");
            const auto res = ts::Run("cd " + ts::ShellQuote(dir.Path()) + " && zip -q -X -" + std::to_string(level) +
                                     " " + ts::ShellQuote(zipPath) + " " + c.name);
            ASSERT_EQ(res.exitCode, 0) << res.output;
            const std::string zip = ts::ReadFile(zipPath);
            ASSERT_GE(zip.size(), 30u);
            auto u16 = [&](size_t at) { return static_cast<unsigned>(static_cast<uint8_t>(zip[at]) | static_cast<uint8_t>(zip[at + 1]) << 8); };
            auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
            const unsigned method = u16(8), flags = u16(6), csize = u32(18);
            const size_t dataAt = 30 + u16(26) + u16(28);
            const Result r = Compress(c.data, level);
            EXPECT_EQ(r.method, method);
            EXPECT_EQ(r.flags, flags & 6);
            EXPECT_EQ(r.out, zip.substr(dataAt, csize));
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// The matcher's documented choices

TEST(DeflateTest, HundredThousandZerosAreTwoLiteralsAnd388Matches) {
    const Result r = Compress(std::string(100000, '\0'), 6);
    ASSERT_EQ(r.method, 8);
    const auto d = Decode(r.out);
    ASSERT_EQ(d.blocks.size(), 1u);
    const auto& b = d.blocks[0];
    EXPECT_TRUE(b.last);
    EXPECT_EQ(b.type, 2);
    ASSERT_EQ(b.symbols.size(), 2u + 387 + 1);
    // Position 0 is never a match source, so the matches start at position 2.
    EXPECT_FALSE(b.symbols[0].IsMatch());
    EXPECT_FALSE(b.symbols[1].IsMatch());
    for (size_t i = 2; i < 2 + 387; ++i) {
        EXPECT_EQ(b.symbols[i].distance, 1);
        EXPECT_EQ(b.symbols[i].value, 258);
    }
    EXPECT_EQ(b.symbols.back().distance, 1);
    EXPECT_EQ(b.symbols.back().value, 152);
    EXPECT_EQ(r.attributes, 0);  // two literals 0: binary
}

TEST(DeflateTest, ShortTextIsStoredWhole) {
    const Result r = Compress("abcdefghij", 6);
    EXPECT_EQ(r.method, 0);
    EXPECT_EQ(r.size, 10u);
    ASSERT_EQ(r.writes.size(), 1u);
    EXPECT_EQ(r.writes[0], "abcdefghij");
    EXPECT_EQ(r.attributes, 1);
}

TEST(DeflateTest, EmptyEntry) {
    const Result r = Compress("", 6);
    EXPECT_EQ(r.method, 0);
    EXPECT_EQ(r.size, 0u);
    EXPECT_TRUE(r.writes.empty());
    EXPECT_EQ(r.attributes, 1);
    ASSERT_EQ(r.reads.size(), 1u);
    EXPECT_EQ(r.reads[0].asked, 32768u);
    EXPECT_EQ(r.reads[0].got, 0u);
}

TEST(DeflateTest, OptionBitsPerLevelAlsoOnWholeEntryStore) {
    const std::map<int, uint16_t> expected = {{1, 4}, {2, 4}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 2}, {9, 2}};
    for (const auto& [level, bits] : expected) {
        SCOPED_TRACE(level);
        const Result big = Compress(ts::TextBytes(50000, 1), level);
        EXPECT_EQ(big.method, 8);
        EXPECT_EQ(big.flags, bits);
        const Result small = Compress("xyz", level);
        EXPECT_EQ(small.method, 0);
        EXPECT_EQ(small.flags, bits);
    }
}

TEST(DeflateTest, LevelsOutsideOneToNineAreClamped) {
    const std::string text = ts::TextBytes(80000, 12);
    const std::string l1 = Compress(text, 1).out, l9 = Compress(text, 9).out;
    EXPECT_EQ(Compress(text, 0).out, l1);
    EXPECT_EQ(Compress(text, -5).out, l1);
    EXPECT_EQ(Compress(text, 10).out, l9);
    EXPECT_EQ(Compress(text, INT_MAX).out, l9);
}

// "aXYZ" + zeros + "XYZQ": the second XYZ can only be a 3-byte match more than 4096 bytes back.
TEST(DeflateTest, FarThreeByteMatchKeptInFastModeDroppedInLazyMode) {
    for (size_t gap : {4000u, 5000u}) {
        const std::string data = "aXYZ" + std::string(gap, '\0') + "XYZQ" + std::string(100, '\0');
        const unsigned distance = static_cast<unsigned>(gap + 3);
        for (int level = 1; level <= 9; ++level) {
            SCOPED_TRACE("gap " + std::to_string(gap) + " level " + std::to_string(level));
            const Result r = Compress(data, level);
            ASSERT_EQ(r.method, 8);
            const auto d = Decode(r.out);
            bool found = false;
            for (const auto& b : d.blocks)
                for (const auto& s : b.symbols) found |= s.IsMatch() && s.value == 3 && s.distance == distance;
            const bool kept = level <= 3 || distance <= 4096;
            EXPECT_EQ(found, kept);
            EXPECT_EQ(d.data, data);
        }
    }
}

// Units of three random literals and one 258-byte match: at the 4096th symbol the estimate says the
// block is worth ending, which levels 3 to 9 do and levels 1 and 2 do not.
TEST(DeflateTest, EstimateRuleEndsBlocksAt4096SymbolsFromLevel3) {
    std::string data;
    const std::string noise = ts::RandomBytes(3 * 3000, 77);
    for (int i = 0; i < 3000; ++i) data += noise.substr(3 * i, 3) + std::string(258, '\0');
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        const Result r = Compress(data, level);
        const auto d = Decode(r.out);
        EXPECT_EQ(d.data, data);
        ASSERT_GE(d.blocks.size(), 1u);
        if (level >= 3) {
            EXPECT_EQ(d.blocks[0].symbols.size(), 4096u);
            EXPECT_GT(d.blocks.size(), 1u);
        } else {
            EXPECT_EQ(d.blocks.size(), 1u);
        }
    }
}

// Bytes in which no three consecutive ones occur twice: nothing to match.
std::string DistinctTriples(size_t n, int lo = 0, int hi = 255) {
    std::vector<bool> used(1u << 24);
    std::string s = {static_cast<char>(lo), static_cast<char>(lo + 1)};
    while (s.size() < n) {
        const unsigned ab = (static_cast<uint8_t>(s[s.size() - 2]) << 16) | (static_cast<uint8_t>(s[s.size() - 1]) << 8);
        int c = hi;
        while (c >= lo && used[ab | c]) c--;
        if (c < lo) break;
        used[ab | c] = true;
        s.push_back(static_cast<char>(c));
    }
    return s;
}

// Without the estimate rule (levels 1 and 2) a block ends at its 32767th symbol. Data without repeats is
// all literals: a stored block's length counts them, as does a coded block's symbol list (a block whose
// start has slid out of the window cannot be stored).
TEST(DeflateTest, BlocksEndAt32767Symbols) {
    const std::string data = DistinctTriples(100000);
    ASSERT_EQ(data.size(), 100000u);
    for (int level : {1, 2}) {
        const Result r = Compress(data, level);
        ASSERT_EQ(r.method, 8);
        const auto d = Decode(r.out);
        EXPECT_EQ(d.data, data);
        ASSERT_EQ(d.blocks.size(), 4u);
        auto symbols = [](const deflate_test::Block& b) { return b.type == 0 ? b.storedLength : b.symbols.size(); };
        for (int i = 0; i < 3; ++i) EXPECT_EQ(symbols(d.blocks[i]), 32767u);
        EXPECT_EQ(symbols(d.blocks[3]), 100000u - 3 * 32767);
        EXPECT_TRUE(d.blocks[3].last);
    }
}

// A later block of incompressible data, still in the window, is a stored block; the entry stays deflated.
TEST(DeflateTest, IncompressibleLaterBlockIsStored) {
    const std::string data = ts::TextBytes(150000, 2) + ts::RandomBytes(20000, 3);
    const Result r = Compress(data, 6);
    EXPECT_EQ(r.method, 8);
    const auto d = Decode(r.out);
    EXPECT_EQ(d.data, data);
    ASSERT_GE(d.blocks.size(), 2u);
    EXPECT_NE(d.blocks[0].type, 0);
    bool stored = false;
    for (const auto& b : d.blocks) stored |= b.type == 0;
    EXPECT_TRUE(stored);
}

// Only the literals of the first block classify the entry (a block of 32767 literals at level 1).
TEST(DeflateTest, FirstBlockDecidesTextOrBinary) {
    const std::string text = DistinctTriples(40000, 7, 127), binary = DistinctTriples(40000, 128, 255);
    ASSERT_EQ(text.size(), 40000u);
    ASSERT_EQ(binary.size(), 40000u);
    EXPECT_EQ(Compress(text + binary, 1).attributes, 1);
    EXPECT_EQ(Compress(binary + text, 1).attributes, 0);
    // 26214 text and 6553 binary literals in the first block: binary is not more than a quarter of text.
    EXPECT_EQ(Compress(text.substr(0, 26214) + binary, 1).attributes, 1);
    EXPECT_EQ(Compress(text.substr(0, 26213) + binary, 1).attributes, 0);
}

// ---------------------------------------------------------------------------------------------------------
// Reads and writes

TEST(DeflateTest, ReadsComeInPiecesOfAbout32K) {
    {
        const Result r = Compress(ts::TextBytes(32768, 1), 6);
        ASSERT_EQ(r.reads.size(), 2u);
        EXPECT_EQ(r.reads[0].asked, 32768u);
        EXPECT_EQ(r.reads[0].got, 32768u);
        EXPECT_EQ(r.reads[1].got, 0u);
    }
    {
        const Result r = Compress(ts::TextBytes(1'000'000, 1), 6);
        EXPECT_EQ(r.reads.front().asked, 32768u);
        EXPECT_EQ(r.reads.back().got, 0u);
        for (size_t i = 1; i + 1 < r.reads.size(); ++i) {
            EXPECT_GE(r.reads[i].asked, 32768u - 262);
            EXPECT_LE(r.reads[i].asked, 32768u + 262);
        }
        EXPECT_LE(r.reads.size(), 1'000'000 / 32000 + 2);
    }
}

// Reads that bring fewer bytes than asked (a pipe, a slow device) do not change the stream.
TEST(DeflateTest, ShortReadsGiveTheSameStream) {
    for (const auto& c : {Mixed(200000, 4), ts::TextBytes(140000, 8), ts::RandomBytes(70000, 9)}) {
        for (int level : {1, 6, 9}) {
            const std::string whole = Compress(c, level).out;
            EXPECT_EQ(Compress(c, level, Search::Fast, 1000).out, whole);
            EXPECT_EQ(Compress(c, level, Search::Portable, 4097).out, whole);
        }
    }
}

// Full output buffers go out as 1024-byte writes; only the end of the entry writes less.
TEST(DeflateTest, WritesAre1024BytesUntilTheEnd) {
    const Result r = Compress(ts::TextBytes(600000, 6), 6);
    ASSERT_GT(r.writes.size(), 10u);
    for (size_t i = 0; i + 1 < r.writes.size(); ++i) ASSERT_EQ(r.writes[i].size(), 1024u) << i;
    EXPECT_LE(r.writes.back().size(), 1024u);
    EXPECT_GT(r.writes.back().size(), 0u);
}

// A stored block after coded ones: the rest of the output buffer with the block header, then LEN/NLEN,
// then the raw bytes straight from the window.
TEST(DeflateTest, StoredBlockWritesHeaderLengthsAndData) {
    const std::string data = ts::TextBytes(150000, 2) + ts::RandomBytes(20000, 3);
    const Result r = Compress(data, 6);
    bool seen = false;
    for (size_t i = 1; i + 1 < r.writes.size(); ++i) {
        if (r.writes[i].size() != 4) continue;
        const auto& w = r.writes[i];
        const unsigned len = static_cast<uint8_t>(w[0]) | static_cast<uint8_t>(w[1]) << 8;
        const unsigned nlen = static_cast<uint8_t>(w[2]) | static_cast<uint8_t>(w[3]) << 8;
        if ((len ^ 0xFFFF) != nlen) continue;
        EXPECT_EQ(r.writes[i + 1].size(), len);
        EXPECT_NE(data.find(r.writes[i + 1]), std::string::npos);
        seen = true;
    }
    EXPECT_TRUE(seen);
}

// ---------------------------------------------------------------------------------------------------------
// One compressor for many entries

TEST(DeflateTest, EntriesDoNotInfluenceEachOther) {
    const std::vector<std::string> inputs = {ts::TextBytes(90000, 1), std::string(70000, 'z'), Mixed(120000, 2),
                                             "tiny", ts::TextBytes(65274, 3), ""};
    Deflater shared;
    shared.AllocateBuffers();
    for (int level : {1, 6, 9}) {
        for (const auto& in : inputs) {
            const Result a = Compress(shared, in, level);
            const Result b = Compress(in, level);
            EXPECT_EQ(a.out, b.out);
            EXPECT_EQ(a.method, b.method);
        }
    }
}

// An entry that ends by an exception of the output routine (disk full, cancel) leaves the compressor fit
// for the next entry, with the same output as a fresh one.
TEST(DeflateTest, FailedEntryLeavesNoTrace) {
    Deflater d;
    d.AllocateBuffers();
    const std::string first = Mixed(300000, 3);
    RecordingIO failing(first);
    failing.failOnWrite = 5;
    EXPECT_THROW(d.Deflate(failing, 6), std::runtime_error);
    EXPECT_EQ(failing.writes.size(), 4u);
    const std::string next = ts::TextBytes(40000, 4) + std::string(3, '\0');
    EXPECT_EQ(Compress(d, next, 6).out, Compress(next, 6).out);
    EXPECT_EQ(Compress(d, next, 1).out, Compress(next, 1).out);
}

TEST(DeflateTest, BuffersCanBeReleasedAndAllocatedAgain) {
    Deflater d;
    EXPECT_FALSE(d.HasBuffers());
    d.AllocateBuffers();
    EXPECT_TRUE(d.HasBuffers());
    const std::string in = ts::TextBytes(50000, 5);
    const std::string before = Compress(d, in, 6).out;
    d.ReleaseBuffers();
    EXPECT_FALSE(d.HasBuffers());
    d.AllocateBuffers();
    EXPECT_EQ(Compress(d, in, 6).out, before);
    d.ReleaseBuffers();
    // Without buffers the compressor allocates them itself rather than fail.
    EXPECT_EQ(Compress(d, in, 6).out, before);
}

}  // namespace
