// The Deflate compressor against zlib's raw deflate at the same level, on the benchmark corpus:
// DB/DB.mdb (a logger database) and gcide.dict (English text). The corpus folder comes from
// ZB_BENCH_CORPUS (the folder /work/shared/bench/make_corpus.sh filled; default ../bench-corpus beside
// the shared folder); a missing file skips its benchmarks.
//
// Reported per run: input MB/s (bytes_per_second) and the compressed size as a fraction of the input
// (ratio). Our stream is fixed by the format choices of the engine, not by zlib's, so sizes differ a
// little; both are raw Deflate.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "archive/codec/deflate.h"

#ifdef ZB_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

std::string CorpusDir() {
    if (const char* env = std::getenv("ZB_BENCH_CORPUS")) return env;
    return std::string(ZB_SHARED_DIR) + "/../bench-corpus";
}

const std::string& Load(const std::string& relative) {
    static std::vector<std::pair<std::string, std::string>> cache;
    for (const auto& [name, data] : cache)
        if (name == relative) return data;
    std::ifstream in(CorpusDir() + "/" + relative, std::ios::binary);
    std::ostringstream ss;
    if (in) ss << in.rdbuf();
    cache.emplace_back(relative, ss.str());
    return cache.back().second;
}

class MemoryIO : public archive::codec::DeflateIO {
public:
    explicit MemoryIO(const std::string& in) : in_(in) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        const size_t n = std::min<size_t>(count, in_.size() - pos_);
        std::memcpy(buffer, in_.data() + pos_, n);
        pos_ += n;
        return static_cast<unsigned>(n);
    }
    void WriteArchiveData(const uint8_t*, size_t n) override { written += n; }
    size_t written = 0;

private:
    const std::string& in_;
    size_t pos_ = 0;
};

void Ours(benchmark::State& state, const char* file) {
    const std::string& data = Load(file);
    if (data.empty()) {
        state.SkipWithError("corpus file missing (set ZB_BENCH_CORPUS)");
        return;
    }
    archive::codec::Deflater deflater;
    deflater.AllocateBuffers();
    size_t out = 0;
    for (auto _ : state) {
        MemoryIO io(data);
        benchmark::DoNotOptimize(deflater.Deflate(io, static_cast<int>(state.range(0))).compressedSize);
        out = io.written;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.counters["ratio"] = static_cast<double>(out) / static_cast<double>(data.size());
    state.counters["out_bytes"] = static_cast<double>(out);
}

#ifdef ZB_HAVE_ZLIB
void Zlib(benchmark::State& state, const char* file) {
    const std::string& data = Load(file);
    if (data.empty()) {
        state.SkipWithError("corpus file missing (set ZB_BENCH_CORPUS)");
        return;
    }
    std::vector<unsigned char> buf(1 << 20);
    size_t out = 0;
    for (auto _ : state) {
        z_stream z{};
        deflateInit2(&z, static_cast<int>(state.range(0)), Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
        z.avail_in = static_cast<uInt>(data.size());
        out = 0;
        int rc;
        do {
            z.next_out = buf.data();
            z.avail_out = static_cast<uInt>(buf.size());
            rc = deflate(&z, Z_FINISH);
            out += buf.size() - z.avail_out;
        } while (rc == Z_OK);
        deflateEnd(&z);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
    state.counters["ratio"] = static_cast<double>(out) / static_cast<double>(data.size());
    state.counters["out_bytes"] = static_cast<double>(out);
}
BENCHMARK_CAPTURE(Zlib, db_mdb, "corpus/DB/DB.mdb")->Arg(6)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Zlib, gcide_dict, "corpus-text/gcide.dict")->Arg(6)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
#endif

BENCHMARK_CAPTURE(Ours, db_mdb, "corpus/DB/DB.mdb")->Arg(6)->Arg(1)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_CAPTURE(Ours, gcide_dict, "corpus-text/gcide.dict")->Arg(6)->Arg(1)->Arg(9)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
