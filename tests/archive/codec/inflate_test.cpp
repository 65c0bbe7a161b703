// Inflate against python's zlib as the oracle, on hand-made invalid streams, and on the Deflated entries of
// archives made by other tools. Every stream runs through both inner loops (portable and the processor's
// best) and through several ways of cutting the input into blocks.
#include <gtest/gtest.h>

#include <map>

#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "tests/archive/codec/codec_test_io.h"

namespace {

using archive::codec::DecodeResult;
using archive::codec::DecodeWorkspace;
using archive::codec::InflateImpl;
using codec_test::BitWriter;
using codec_test::MemorySource;
using codec_test::StringSink;
namespace ts = testing_support;

using codec_test::Decoded;

Decoded RunInflate(DecodeWorkspace& ws, MemorySource& src, InflateImpl impl = InflateImpl::Best) {
    ws.inflateImpl = impl;
    StringSink sink;
    const DecodeResult r = archive::codec::Inflate(ws, src, sink);
    return {r, sink.data};
}

Decoded RunInflate(const std::string& stream, InflateImpl impl = InflateImpl::Best, size_t block = 16000) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    MemorySource src(stream, block);
    return RunInflate(*ws, src, impl);
}

// The ways input reaches the decoder: extraction's 16000-byte blocks, one byte per call, and random sizes.
struct Delivery {
    const char* name;
    size_t block;
    size_t maxRandom;
};
constexpr Delivery kDeliveries[] = {{"16000", 16000, 0}, {"1 byte", 1, 0}, {"random", 0, 40000}, {"7", 7, 0}};

// ---------------------------------------------------------------------------------------------------------
// zlib as the oracle

struct OracleCase {
    const char* name;
    std::string data;
};

std::vector<OracleCase> OracleData() {
    std::string mixed = ts::TextBytes(40000, 3) + ts::RandomBytes(30000, 4) + std::string(50000, 'x') +
                        ts::TextBytes(20000, 5);
    std::string shortPeriods;
    for (int i = 0; i < 3000; ++i) shortPeriods += std::string(static_cast<size_t>(1 + i % 9), static_cast<char>('a' + i % 7));
    return {
        {"empty", ""},
        {"one byte", "A"},
        {"text", ts::TextBytes(100000, 1)},
        {"random", ts::RandomBytes(70000, 2)},
        {"zeros", std::string(200000, '\0')},
        {"mixed", mixed},
        {"short periods", shortPeriods},
    };
}

TEST(InflateTest, ReproducesZlibOutputAtEveryLevelAndStrategy) {
    const std::vector<OracleCase> cases = OracleData();
    std::vector<codec_test::DeflateRequest> requests;
    for (const OracleCase& c : cases) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : {0, 2, 3, 4}) {
                if (level > 0 || strategy == 0) requests.push_back({&c.data, level, strategy});
            }
        }
    }
    const std::vector<std::string> streams = codec_test::ZlibDeflateMany(requests);
    auto ws = archive::codec::MakeDecodeWorkspace();  // one workspace for all: tables are rebuilt per block
    for (size_t i = 0; i < requests.size(); ++i) {
        const auto& q = requests[i];
        for (InflateImpl impl : {InflateImpl::Portable, InflateImpl::Best}) {
            MemorySource src(streams[i]);
            const Decoded d = RunInflate(*ws, src, impl);
            ASSERT_EQ(d.result, DecodeResult::Ok) << "case " << i << " level " << q.level << " strategy " << q.strategy;
            ASSERT_TRUE(d.out == *q.data) << "case " << i << " level " << q.level << " strategy " << q.strategy;
        }
    }
}

TEST(InflateTest, LargeStreamsSurviveEveryWayOfCuttingTheInput) {
    const std::vector<OracleCase> cases = {
        {"text 3 MB", ts::TextBytes(3'000'000, 7)},
        {"random 1.5 MB", ts::RandomBytes(1'500'000, 8)},
        {"zeros 2 MB", std::string(2'000'000, '\0')},
    };
    std::vector<codec_test::DeflateRequest> requests;
    for (const OracleCase& c : cases) {
        for (int level : {1, 6, 9}) requests.push_back({&c.data, level, 0});
    }
    const std::vector<std::string> streams = codec_test::ZlibDeflateMany(requests);
    size_t next = 0;
    for (const OracleCase& c : cases) {
        for (int level : {1, 6, 9}) {
            const std::string& stream = streams[next++];
            for (const Delivery& d : kDeliveries) {
                if (d.block == 1 && level != 6) continue;  // slow in a debug build; one level is enough
                for (InflateImpl impl : {InflateImpl::Portable, InflateImpl::Best}) {
                    auto ws = archive::codec::MakeDecodeWorkspace();
                    MemorySource src(stream, d.block, 99, d.maxRandom);
                    const Decoded out = RunInflate(*ws, src, impl);
                    ASSERT_EQ(out.result, DecodeResult::Ok) << c.name << " level " << level << " " << d.name;
                    ASSERT_EQ(out.out.size(), c.data.size()) << c.name << " level " << level << " " << d.name;
                    ASSERT_TRUE(out.out == c.data) << c.name << " level " << level << " " << d.name;
                }
            }
        }
    }
}

TEST(InflateTest, OutputReachesTheSinkInLargeChunks) {
    const std::string data = ts::TextBytes(2'000'000, 11);
    const std::string stream = codec_test::ZlibDeflate(data, 6);
    auto ws = archive::codec::MakeDecodeWorkspace();
    MemorySource src(stream);
    StringSink sink;
    ASSERT_EQ(archive::codec::Inflate(*ws, src, sink), DecodeResult::Ok);
    EXPECT_TRUE(sink.data == data);
    EXPECT_LE(sink.writes, data.size() / (128 * 1024) + 2);
}

TEST(InflateTest, BytesAfterTheFinalBlockAreIgnored) {
    const std::string data = ts::TextBytes(5000, 12);
    const Decoded d = RunInflate(codec_test::ZlibDeflate(data, 6) + "trailing garbage");
    EXPECT_EQ(d.result, DecodeResult::Ok);
    EXPECT_TRUE(d.out == data);
}

TEST(InflateTest, EveryTruncationIsDataErrorWithAPrefixOfTheOutput) {
    // A stream with a stored, a fixed and a dynamic block.
    const std::string a = ts::TextBytes(3000, 13);
    std::string stream;
    {
        BitWriter w;
        w.Bits(0, 1).Bits(0, 2).AlignToByte().Bits(5, 16).Bits(static_cast<uint16_t>(~5), 16).Bytes("hello");
        stream = w.Data();
    }
    // zlib's stream for `a` begins on a byte boundary after ours because the stored block ends aligned.
    const std::string tail = codec_test::ZlibDeflate(a + a, 6);
    stream += tail;
    const std::string expected = "hello" + a + a;
    const Decoded whole = RunInflate(stream);
    ASSERT_EQ(whole.result, DecodeResult::Ok);
    ASSERT_TRUE(whole.out == expected);
    for (size_t len = 0; len < stream.size(); ++len) {
        for (InflateImpl impl : {InflateImpl::Portable, InflateImpl::Best}) {
            const Decoded d = RunInflate(stream.substr(0, len), impl, len % 2 ? 1 : 16000);
            ASSERT_EQ(d.result, DecodeResult::DataError) << "cut at " << len;
            ASSERT_LE(d.out.size(), expected.size());
            ASSERT_TRUE(expected.compare(0, d.out.size(), d.out) == 0) << "cut at " << len;
        }
    }
}

// ---------------------------------------------------------------------------------------------------------
// Hand-made streams

// Fixed-code literal/length symbol.
void FixedSymbol(BitWriter& w, unsigned sym) {
    if (sym < 144)
        w.Code(0x30 + sym, 8);
    else if (sym < 256)
        w.Code(0x190 + sym - 144, 9);
    else if (sym < 280)
        w.Code(sym - 256, 7);
    else
        w.Code(0xC0 + sym - 280, 8);
}


// A dynamic block header whose code-length code gives symbols 0-15 four bits each (so no repeats), with
// the given literal/length and distance lengths. hlitField/hdistField override the counts sent.
void DynamicHeader(BitWriter& w, bool final, const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist,
                   int hlitField = -1, int hdistField = -1) {
    w.Bits(final, 1).Bits(2, 2);
    w.Bits(hlitField >= 0 ? static_cast<uint32_t>(hlitField) : static_cast<uint32_t>(lit.size() - 257), 5);
    w.Bits(hdistField >= 0 ? static_cast<uint32_t>(hdistField) : static_cast<uint32_t>(dist.size() - 1), 5);
    w.Bits(15, 4);  // all 19 code-length code lengths follow
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    for (uint8_t sym : kOrder) w.Bits(sym < 16 ? 4 : 0, 3);
    for (uint8_t l : lit) w.Code(l, 4);
    for (uint8_t l : dist) w.Code(l, 4);
}

std::string StoredBlock(const std::string& bytes, bool final, uint16_t nlenXor = 0xFFFF) {
    BitWriter w;
    w.Bits(final, 1).Bits(0, 2).AlignToByte();
    const auto len = static_cast<uint16_t>(bytes.size());
    w.Bits(len, 16).Bits(static_cast<uint16_t>(len ^ nlenXor), 16).Bytes(bytes);
    return w.Data();
}

struct CraftedCase {
    const char* name;
    std::string stream;
    DecodeResult result;
    std::string output;
};

std::vector<CraftedCase> CraftedCases() {
    std::vector<CraftedCase> cases;
    cases.push_back({"empty input", "", DecodeResult::DataError, ""});
    cases.push_back({"stored block", StoredBlock("abc", true), DecodeResult::Ok, "abc"});
    cases.push_back({"empty stored block", StoredBlock("", true), DecodeResult::Ok, ""});
    cases.push_back({"stored block with wrong NLEN", StoredBlock("abc", true, 0xFFFE), DecodeResult::DataError, ""});
    cases.push_back({"output of earlier blocks stays", StoredBlock("abc", false) + StoredBlock("de", true, 0),
                     DecodeResult::DataError, "abc"});
    {
        BitWriter w;
        w.Bits(1, 1).Bits(3, 2).Bits(0, 16);
        cases.push_back({"block type 3", w.Data(), DecodeResult::DataError, ""});
    }
    {
        BitWriter w;  // 'a', then length 3 at distance 1, then distance 2 reaching one byte too far
        w.Bits(1, 1).Bits(1, 2);
        FixedSymbol(w, 'a');
        FixedSymbol(w, 257);
        w.Code(0, 5);
        FixedSymbol(w, 256);
        BitWriter ok = w;
        ok.AlignToByte();
        cases.push_back({"match at the first byte", ok.Data(), DecodeResult::Ok, "aaaa"});
        BitWriter bad;
        bad.Bits(1, 1).Bits(1, 2);
        FixedSymbol(bad, 'a');
        FixedSymbol(bad, 257);
        bad.Code(4, 5).Bits(1, 1);  // distance symbol 4 + extra 1 = distance 6 > 1 byte of output
        FixedSymbol(bad, 256);
        cases.push_back({"distance beyond the output start", bad.Data(), DecodeResult::DataError, "a"});

        // The same slip far enough into a long stream that the fast loop, not the careful path, meets it:
        // 64 literals, length 10 at distance 1000, 200 more literals.
        BitWriter far;
        far.Bits(1, 1).Bits(1, 2);
        std::string lead;
        for (int i = 0; i < 64; ++i) {
            lead += static_cast<char>('a' + i % 26);
            FixedSymbol(far, static_cast<uint8_t>(lead.back()));
        }
        FixedSymbol(far, 264);            // length 10
        far.Code(19, 5).Bits(1000 - 769, 8);  // distance symbol 19: 769 + 8 extra bits
        for (int i = 0; i < 200; ++i) FixedSymbol(far, 'z');
        FixedSymbol(far, 256);
        cases.push_back({"distance beyond the output start in a long stream", far.Data(), DecodeResult::DataError, lead});
    }
    {
        BitWriter w;
        w.Bits(1, 1).Bits(1, 2);
        FixedSymbol(w, 'z');
        FixedSymbol(w, 286);  // in the fixed code, never valid
        cases.push_back({"fixed literal/length symbol 286", w.Data(), DecodeResult::DataError, "z"});
        BitWriter d;
        d.Bits(1, 1).Bits(1, 2);
        FixedSymbol(d, 'z');
        FixedSymbol(d, 257);
        d.Code(30, 5);
        cases.push_back({"fixed distance symbol 30", d.Data(), DecodeResult::DataError, "z"});
    }

    std::vector<uint8_t> lit(257, 0), dist(1, 0);
    lit['h'] = 1;
    lit[256] = 1;
    {
        BitWriter w;  // literals only, no distance code at all: valid
        DynamicHeader(w, true, lit, dist);
        w.Code(0, 1).Code(0, 1).Code(1, 1);
        cases.push_back({"dynamic block without distance codes", w.Data(), DecodeResult::Ok, "hh"});
    }
    {
        std::vector<uint8_t> l = lit, d = {1};
        l.push_back(2);  // symbol 257
        l[256] = 2;  // 'h' = 0, 256 = 10, 257 = 11
        BitWriter w;  // one distance code of one bit: incomplete, yet allowed
        DynamicHeader(w, true, l, d);
        w.Code(0, 1).Code(3, 2).Code(0, 1).Code(2, 2);
        cases.push_back({"single one-bit distance code", w.Data(), DecodeResult::Ok, "hhhh"});
        BitWriter bad;  // ... whose unused half is invalid
        DynamicHeader(bad, true, l, d);
        bad.Code(0, 1).Code(3, 2).Code(1, 1);
        cases.push_back({"unused half of a one-code distance table", bad.Data(), DecodeResult::DataError, "h"});
    }
    {
        std::vector<uint8_t> l(257, 8);
        BitWriter w;
        DynamicHeader(w, true, l, dist);
        cases.push_back({"over-subscribed literal/length code", w.Data(), DecodeResult::DataError, ""});
        std::vector<uint8_t> d(3, 1);
        BitWriter w2;
        DynamicHeader(w2, true, lit, d);
        cases.push_back({"over-subscribed distance code", w2.Data(), DecodeResult::DataError, ""});
        BitWriter w3;  // code-length code lengths all 1: over-subscribed
        w3.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(15, 4);
        for (int i = 0; i < 19; ++i) w3.Bits(1, 3);
        w3.Bits(0, 32);
        cases.push_back({"over-subscribed code-length code", w3.Data(), DecodeResult::DataError, ""});
    }
    {
        std::vector<uint8_t> l(287, 0);
        l['h'] = 1;
        l[256] = 1;
        BitWriter w;
        DynamicHeader(w, true, l, dist, 30);
        cases.push_back({"287 literal/length codes", w.Data(), DecodeResult::DataError, ""});
        std::vector<uint8_t> d(31, 0);
        BitWriter w2;
        DynamicHeader(w2, true, lit, d, -1, 30);
        cases.push_back({"31 distance codes", w2.Data(), DecodeResult::DataError, ""});
    }
    {
        std::vector<uint8_t> l = lit;
        l[256] = 0;
        l['i'] = 1;
        BitWriter w;
        DynamicHeader(w, true, l, dist);
        cases.push_back({"no end-of-block code", w.Data(), DecodeResult::DataError, ""});
    }
    {
        // Code-length code: 8 -> "0", 16 -> "10", 18 -> "11".
        auto header = [](BitWriter& w) {
            w.Bits(1, 1).Bits(2, 2).Bits(0, 5).Bits(0, 5).Bits(15, 4);
            static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
            for (uint8_t sym : kOrder) w.Bits(sym == 8 ? 1 : sym == 16 || sym == 18 ? 2 : 0, 3);
        };
        BitWriter w;
        header(w);
        w.Code(2, 2).Bits(0, 2);
        cases.push_back({"repeat with nothing before it", w.Data(), DecodeResult::DataError, ""});
        BitWriter w2;
        header(w2);
        w2.Code(3, 2).Bits(127, 7).Code(3, 2).Bits(127, 7);
        cases.push_back({"repeat past the last length", w2.Data(), DecodeResult::DataError, ""});
    }
    return cases;
}

TEST(InflateTest, HandMadeStreams) {
    for (const CraftedCase& c : CraftedCases()) {
        for (InflateImpl impl : {InflateImpl::Portable, InflateImpl::Best}) {
            for (size_t block : {size_t{16000}, size_t{1}}) {
                const Decoded d = RunInflate(c.stream, impl, block);
                EXPECT_EQ(d.result, c.result) << c.name;
                EXPECT_EQ(d.out, c.output) << c.name;
            }
        }
    }
}

TEST(InflateTest, FixedAndDynamicBlocksAlternateInOneWorkspace) {
    // The fixed tables are kept between blocks and entries; a dynamic block must replace them and a later
    // fixed block must bring them back.
    auto ws = archive::codec::MakeDecodeWorkspace();
    const std::string text = ts::TextBytes(30000, 21);
    const auto streams = codec_test::ZlibDeflateMany({{&text, 6, 4}, {&text, 6, 0}});
    const std::string& fixed = streams[0];
    const std::string& dynamic = streams[1];
    for (const std::string* s : {&fixed, &dynamic, &fixed, &fixed, &dynamic}) {
        MemorySource src(*s);
        const Decoded d = RunInflate(*ws, src);
        ASSERT_EQ(d.result, DecodeResult::Ok);
        ASSERT_TRUE(d.out == text);
    }
}

TEST(InflateTest, AWorkspaceWithoutMemoryGivesOutOfMemory) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    ws->failAllocations = true;
    MemorySource src(codec_test::ZlibDeflate("abc", 6));
    StringSink sink;
    EXPECT_EQ(archive::codec::Inflate(*ws, src, sink), DecodeResult::OutOfMemory);
    EXPECT_TRUE(sink.data.empty());
}

TEST(InflateTest, RandomBytesNeverCrashOrHang) {
    // Not an oracle test: garbage must end in DataError (or, rarely, a valid stream) without faults.
    auto ws = archive::codec::MakeDecodeWorkspace();
    const std::string good = codec_test::ZlibDeflate(ts::TextBytes(20000, 30), 6);
    for (uint32_t seed = 1; seed <= 300; ++seed) {
        std::string s = seed % 2 ? ts::RandomBytes(200 + seed * 7, seed) : good;
        if (seed % 2 == 0) {
            // Flip a few bits of a good stream.
            const std::string noise = ts::RandomBytes(8, seed);
            for (int i = 0; i < 4; ++i) {
                const size_t at = (static_cast<uint8_t>(noise[i]) * 131u + seed * 17u) % s.size();
                s[at] = static_cast<char>(s[at] ^ (1 << (noise[i + 4] & 7)));
            }
        }
        MemorySource src(s, 1 + seed % 5000);
        StringSink sink;
        archive::codec::Inflate(*ws, src, sink);
    }
}

// ---------------------------------------------------------------------------------------------------------
// Archives made by other tools

size_t DecodeEveryDeflatedEntry(const std::string& dir) {
    return codec_test::CheckLegacyEntries(
        dir, {8}, [](DecodeWorkspace& ws, archive::codec::InputSource& in, archive::codec::OutputSink& out,
                     const ts::ZipEntry&) { return archive::codec::Inflate(ws, in, out); });
}

TEST(InflateTest, DecodesTheDeflatedEntriesKeptWithTheTests) { EXPECT_GE(DecodeEveryDeflatedEntry(ts::FixtureDir()), 5u); }

TEST(InflateTest, DecodesEveryDeflatedEntryOfTheExternalCorpus) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    EXPECT_GE(DecodeEveryDeflatedEntry(ts::LegacyDir()), 240u);
}

}  // namespace
