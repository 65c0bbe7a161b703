// The compressor on several threads must give exactly what it gives on one: the same bytes, the same
// reads (pieces and their order, each read being where progress and the CRC happen) and the same writes,
// interleaved the same way, for every level, thread count and chunk size; on inputs that put chunk ends
// inside long runs, inside matches and within a match's length of the input's end. A read error ahead
// surfaces at the read that meets it, and a write error stops the workers and leaves the compressor fit
// for the next entry.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <stdexcept>

#include "archive/codec/deflate.h"
#include "tests/support/test_support.h"

namespace {

using archive::codec::Deflater;
using archive::codec::DeflateResult;
namespace ts = testing_support;

// Feeds an input and records every call as the writer would see it: "r<n>" for n bytes handed out
// (ReadEntryData, or AccountEntryData after reading ahead) and "w<n>" for a write.
class TraceIO : public archive::codec::DeflateIO {
public:
    explicit TraceIO(const std::string& in, bool readAhead) : in_(in), readAhead_(readAhead) {}

    // A read that meets the failure position fails whole, as the writer's does.
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        if (fetched_ + count > failAt) throw std::runtime_error("Stream read error");
        const size_t n = FetchEntryData(buffer, count);
        if (n > 0) AccountEntryData(buffer, static_cast<unsigned>(n));
        return static_cast<unsigned>(n);
    }
    bool CanReadAhead() const override { return readAhead_; }
    // Reading ahead hands out the bytes before the failure, and fails at the next call.
    size_t FetchEntryData(uint8_t* buffer, size_t count) override {
        if (fetched_ == failAt) throw std::runtime_error("Stream read error");
        const size_t n = std::min({count, in_.size() - fetched_, failAt - fetched_});
        std::memcpy(buffer, in_.data() + fetched_, n);
        fetched_ += n;
        return n;
    }
    void AccountEntryData(const uint8_t* buffer, unsigned n) override {
        if (std::memcmp(buffer, in_.data() + accounted_, n) != 0) trace += "!";
        accounted_ += n;
        trace += "r" + std::to_string(n) + " ";
    }
    void WriteArchiveData(const uint8_t* buffer, size_t n) override {
        if (++writes == failOnWrite) throw std::runtime_error("Not enough room to write archive");
        out.append(reinterpret_cast<const char*>(buffer), n);
        trace += "w" + std::to_string(n) + " ";
    }

    std::string out, trace;
    size_t failAt = SIZE_MAX;
    size_t failOnWrite = 0;
    size_t writes = 0;

private:
    const std::string& in_;
    const bool readAhead_;
    size_t fetched_ = 0;
    size_t accounted_ = 0;
};

struct Outcome {
    std::string out, trace;
    DeflateResult result;
};

Outcome Compress(Deflater& d, const std::string& in, int level, bool readAhead = true) {
    TraceIO io(in, readAhead);
    Outcome r;
    r.result = d.Deflate(io, level);
    r.out = std::move(io.out);
    r.trace = std::move(io.trace);
    return r;
}

void ExpectSame(const Outcome& a, const Outcome& b) {
    EXPECT_EQ(a.out.size(), b.out.size());
    EXPECT_TRUE(a.out == b.out) << "output bytes differ";
    EXPECT_TRUE(a.trace == b.trace) << "reads and writes differ";
    EXPECT_EQ(a.result.compressedSize, b.result.compressedSize);
    EXPECT_EQ(a.result.stored, b.result.stored);
    EXPECT_EQ(a.result.text, b.result.text);
    EXPECT_EQ(a.result.optionBits, b.result.optionBits);
}

constexpr size_t K = 1024;

// Each input puts something awkward where 64 KiB and 128 KiB chunks end (all of them multiples of 64 KiB).
std::vector<std::pair<std::string, std::string>> Inputs() {
    std::vector<std::pair<std::string, std::string>> v;
    v.emplace_back("random", ts::RandomBytes(420 * K, 1));
    v.emplace_back("text", ts::TextBytes(600 * K + 77, 2));
    // Zero runs across chunk ends, some far longer than a chunk's tail, between text.
    std::string zeros = ts::TextBytes(100 * K, 3) + std::string(300 * K, '\0') + ts::TextBytes(50 * K, 4) +
                        std::string(70 * K, '\0') + ts::TextBytes(90 * K, 5) + std::string(40 * K, '\x07');
    v.emplace_back("zero runs", zeros);
    // A 3000-byte record repeated with small changes: long matches run over every chunk end.
    std::string rec = ts::TextBytes(3000, 6), rep;
    for (uint32_t i = 0; rep.size() < 520 * K; ++i) {
        rec[i % rec.size()] = static_cast<char>('A' + i % 26);
        rep += rec;
    }
    v.emplace_back("repeats", rep);
    // Inputs ending a few bytes before, at and after the place a last chunk would begin or end.
    for (const size_t size : {size_t{256 * K - 100}, size_t{256 * K + 200}, size_t{320 * K - 1}, size_t{384 * K + 258}}) {
        std::string s = ts::TextBytes(size / 2, 7) + ts::RandomBytes(size / 4, 8);
        s += s.substr(10, size - s.size());
        v.emplace_back("end at " + std::to_string(size), s);
    }
    return v;
}

TEST(DeflateParallel, SameBytesReadsAndWritesForEveryLevelThreadCountAndChunkSize) {
    Deflater one;
    one.SetThreads(1);
    const unsigned threadCounts[] = {2, 3, 8};
    std::vector<Deflater> many(3);
    for (const auto& [name, in] : Inputs()) {
        unsigned merges = 0;
        for (int level = 1; level <= 9; ++level) {
            const Outcome ref = Compress(one, in, level);
            for (const size_t chunk : {64 * K, 128 * K}) {
                for (size_t t = 0; t < 3; ++t) {
                    SCOPED_TRACE(name + ", level " + std::to_string(level) + ", " + std::to_string(threadCounts[t]) +
                                 " threads, chunk " + std::to_string(chunk));
                    many[t].SetThreads(threadCounts[t]);
                    many[t].SetChunkSize(chunk);
                    ExpectSame(Compress(many[t], in, level), ref);
                    merges += many[t].LastMerges();
                }
            }
        }
        // Runs far longer than a chunk's tail keep two parses out of step: the pair is parsed again.
        if (name == "zero runs") {
            EXPECT_GT(merges, 0u);
        }
    }
}

// The corpus's large database through the default chunk size at the backup's level.
TEST(DeflateParallel, TheCorpusDatabaseAtLevelSix) {
    std::string path;
    if (const char* env = std::getenv("ZB_BENCH_CORPUS")) path = std::string(env) + "/DB/DB.mdb";
    if (path.empty() || !ts::PathExists(path)) path = ts::SourceDir() + "/../bench-corpus/corpus/DB/DB.mdb";
    if (!ts::PathExists(path)) GTEST_SKIP() << "the external corpus is absent: no benchmark corpus at " << path;
    const std::string in = ts::ReadFile(path);
    Deflater one, two;
    one.SetThreads(1);
    two.SetThreads(2);
    ExpectSame(Compress(two, in, 6), Compress(one, in, 6));
}

// A read that fails ahead raises its exception where the one-thread path meets it: after the same
// reads and writes. A write that fails stops the workers; the next entry comes out as from a fresh
// compressor.
TEST(DeflateParallel, FailuresSurfaceInOrderAndLeaveNoTrace) {
    const std::string in = ts::TextBytes(700 * K, 9);
    Deflater one, two;
    one.SetThreads(1);
    two.SetThreads(2);
    two.SetChunkSize(64 * K);
    for (const size_t failAt : {size_t{40 * K}, size_t{300 * K}, size_t{690 * K}}) {
        SCOPED_TRACE(failAt);
        TraceIO a(in, true), b(in, true);
        a.failAt = b.failAt = failAt;
        EXPECT_THROW(one.Deflate(a, 6), std::runtime_error);
        EXPECT_THROW(two.Deflate(b, 6), std::runtime_error);
        EXPECT_EQ(b.trace, a.trace);
    }
    TraceIO full(in, true);
    full.failOnWrite = 5;
    EXPECT_THROW(two.Deflate(full, 6), std::runtime_error);
    const std::string next = ts::RandomBytes(200 * K, 10) + in.substr(0, 300 * K);
    ExpectSame(Compress(two, next, 7), Compress(one, next, 7));
    // An IO that cannot read ahead stays on one thread.
    ExpectSame(Compress(two, next, 7, false), Compress(one, next, 7));
}

}  // namespace
