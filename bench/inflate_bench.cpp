// Inflate throughput: our decoder against libdeflate and zlib on the same raw Deflate streams.
//
// Inputs: the files named by the environment variable ZB_INFLATE_BENCH (separated by ':') and by the
// command-line arguments that Google Benchmark does not take for itself; each must be a raw Deflate stream
// (no zlib or gzip header). Without inputs the benchmark says so and does nothing. Make inputs with e.g.
//   python3 -c "import zlib,sys; c=zlib.compressobj(6,zlib.DEFLATED,-15); d=open(sys.argv[1],'rb').read();
//               open(sys.argv[2],'wb').write(c.compress(d)+c.flush())" DB.mdb DB.mdb.deflate
//
// The three decoders work under their usual conditions: ours pulls the input in 16000-byte blocks, as
// extraction hands it over, and its sink copies every chunk into one preallocated buffer; libdeflate and
// zlib decode from the whole input into the whole output buffer in one call. With ZB_INFLATE_BENCH_DISCARD=1
// our sink only counts the bytes, which times the decoder alone: the copy into the caller's buffer is a
// second pass over every output byte that the one-call decoders do not make. MB/s are of uncompressed
// output (10^6 bytes per second). A summary table with the ratio ours/libdeflate follows the run; it shows
// the best single run of each, which on a busy machine is steadier than the mean.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"

#ifdef ZB_HAVE_ZLIB
#include <zlib.h>
#endif
#ifdef ZB_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace {

using archive::codec::DecodeResult;

struct Input {
    std::string name;
    std::vector<uint8_t> compressed;
    size_t size = 0;           // uncompressed
    std::vector<uint8_t> out;  // output buffer, touched once so no decoder pays its page faults
};

std::vector<Input>& Inputs() {
    static std::vector<Input> inputs;
    return inputs;
}

// Best MB/s per decoder and input, for the summary.
std::map<std::string, std::map<std::string, double>>& Results() {
    static std::map<std::string, std::map<std::string, double>> r;
    return r;
}

class BlockSource : public archive::codec::InputSource {
public:
    explicit BlockSource(const std::vector<uint8_t>& data) : data_(data) {}
    size_t NextBlock(const uint8_t*& p) override {
        const size_t n = std::min<size_t>(16000, data_.size() - pos_);
        p = data_.data() + pos_;
        pos_ += n;
        return n;
    }

private:
    const std::vector<uint8_t>& data_;
    size_t pos_ = 0;
};

// ZB_INFLATE_BENCH_DISCARD=1: our sink only counts, to time the decoder without the copy to the caller.
bool Discard() {
    static const bool discard = std::getenv("ZB_INFLATE_BENCH_DISCARD") != nullptr;
    return discard;
}

class BufferSink : public archive::codec::OutputSink {
public:
    explicit BufferSink(std::vector<uint8_t>& buffer) : buffer_(buffer) {}
    void Write(const uint8_t* p, size_t n) override {
        if (n > buffer_.size() - used_) std::abort();
        if (!Discard()) std::memcpy(buffer_.data() + used_, p, n);
        used_ += n;
    }
    size_t used() const { return used_; }

private:
    std::vector<uint8_t>& buffer_;
    size_t used_ = 0;
};

// Our decoder's output size tells how large the output buffers must be.
size_t InflatedSize(const std::vector<uint8_t>& compressed) {
    struct Counter : archive::codec::OutputSink {
        size_t n = 0;
        void Write(const uint8_t*, size_t k) override { n += k; }
    } counter;
    auto ws = archive::codec::MakeDecodeWorkspace();
    BlockSource src(compressed);
    if (archive::codec::Inflate(*ws, src, counter) != DecodeResult::Ok) return 0;
    return counter.n;
}

template <typename Decode>
void RunDecoder(benchmark::State& state, Input& input, const char* decoder, Decode decode) {
    std::vector<uint8_t>& out = input.out;
    double best = 0;
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        const size_t n = decode(out);
        const auto t1 = std::chrono::steady_clock::now();
        if (n != input.size) {
            state.SkipWithError("wrong output size");
            return;
        }
        const double mbs = static_cast<double>(n) / std::chrono::duration<double>(t1 - t0).count() / 1e6;
        if (mbs > best) best = mbs;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size));
    Results()[input.name][decoder] = best;
}

void BM_Ours(benchmark::State& state, Input* input, archive::codec::InflateImpl impl) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    ws->inflateImpl = impl;
    const char* name = impl == archive::codec::InflateImpl::Best ? "ours" : "ours (portable loop)";
    RunDecoder(state, *input, name, [&](std::vector<uint8_t>& out) -> size_t {
        BlockSource src(input->compressed);
        BufferSink sink(out);
        if (archive::codec::Inflate(*ws, src, sink) != DecodeResult::Ok) return 0;
        return sink.used();
    });
}

#ifdef ZB_HAVE_LIBDEFLATE
void BM_Libdeflate(benchmark::State& state, Input* input) {
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    RunDecoder(state, *input, "libdeflate", [&](std::vector<uint8_t>& out) -> size_t {
        size_t actual = 0;
        if (libdeflate_deflate_decompress(d, input->compressed.data(), input->compressed.size(), out.data(),
                                          out.size(), &actual) != LIBDEFLATE_SUCCESS)
            return 0;
        return actual;
    });
    libdeflate_free_decompressor(d);
}
#endif

#ifdef ZB_HAVE_ZLIB
void BM_Zlib(benchmark::State& state, Input* input) {
    RunDecoder(state, *input, "zlib", [&](std::vector<uint8_t>& out) -> size_t {
        z_stream z{};
        if (inflateInit2(&z, -15) != Z_OK) return 0;
        z.next_in = const_cast<Bytef*>(input->compressed.data());
        z.avail_in = static_cast<uInt>(input->compressed.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        const int r = inflate(&z, Z_FINISH);
        const size_t n = z.total_out;
        inflateEnd(&z);
        return r == Z_STREAM_END ? n : 0;
    });
}
#endif

void LoadInput(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        std::fprintf(stderr, "inflate_bench: cannot read %s (skipped)\n", path.c_str());
        return;
    }
    Input in;
    in.name = path.substr(path.rfind('/') + 1);
    in.compressed.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    in.size = InflatedSize(in.compressed);
    if (in.size == 0) {
        std::fprintf(stderr, "inflate_bench: %s is not a raw Deflate stream (skipped)\n", path.c_str());
        return;
    }
    in.out.assign(in.size + 64, 1);
    Inputs().push_back(std::move(in));
}

void PrintSummary() {
    std::printf("\n%-24s %12s %12s %12s %12s %10s\n", "input (MB/s)", "ours", "portable", "libdeflate", "zlib",
                "ours/libd");
    for (const auto& [name, r] : Results()) {
        auto get = [&](const char* k) {
            auto it = r.find(k);
            return it == r.end() ? 0.0 : it->second;
        };
        const double ours = get("ours"), libd = get("libdeflate");
        std::printf("%-24s %12.0f %12.0f %12.0f %12.0f %10.3f\n", name.c_str(), ours, get("ours (portable loop)"),
                    libd, get("zlib"), libd > 0 ? ours / libd : 0.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<std::string> paths;
    if (const char* env = std::getenv("ZB_INFLATE_BENCH")) {
        std::stringstream ss(env);
        std::string p;
        while (std::getline(ss, p, ':')) {
            if (!p.empty()) paths.push_back(p);
        }
    }
    for (int i = 1; i < argc; ++i) paths.emplace_back(argv[i]);
    for (const std::string& p : paths) LoadInput(p);
    if (Inputs().empty()) {
        std::printf("inflate_bench: no input (set ZB_INFLATE_BENCH or pass raw Deflate files); skipped\n");
        return 0;
    }
    for (Input& in : Inputs()) {
        benchmark::RegisterBenchmark(("inflate/ours/" + in.name).c_str(), BM_Ours, &in,
                                     archive::codec::InflateImpl::Best)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("inflate/ours_portable/" + in.name).c_str(), BM_Ours, &in,
                                     archive::codec::InflateImpl::Portable)
            ->Unit(benchmark::kMillisecond);
#ifdef ZB_HAVE_LIBDEFLATE
        benchmark::RegisterBenchmark(("inflate/libdeflate/" + in.name).c_str(), BM_Libdeflate, &in)
            ->Unit(benchmark::kMillisecond);
#endif
#ifdef ZB_HAVE_ZLIB
        benchmark::RegisterBenchmark(("inflate/zlib/" + in.name).c_str(), BM_Zlib, &in)->Unit(benchmark::kMillisecond);
#endif
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    return 0;
}
