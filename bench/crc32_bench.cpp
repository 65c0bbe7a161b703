// CRC-32 throughput of each implementation, and of zlib's crc32 for comparison where it is linked.
// Sizes: a 4 KiB block (per-call overhead shows), 64 KiB (the engine's larger pieces), 1 MiB (streaming;
// fits the cache, so it measures the code and not the memory).
//
// Run: build/bench/crc32_bench --benchmark_counters_tabular=true
// bytes_per_second is the figure to read (GB/s = bytes_per_second / 1e9).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "archive/codec/crc32.h"

#ifdef ZB_HAVE_ZLIB
#include <zlib.h>
#endif

namespace {

std::vector<uint8_t> Data(size_t n) {
    std::vector<uint8_t> v(n);
    uint32_t s = 0x9E3779B9u;
    for (auto& b : v) {
        s ^= s << 13;
        s ^= s >> 17;
        s ^= s << 5;
        b = static_cast<uint8_t>(s >> 24);
    }
    return v;
}

void BM_Crc32(benchmark::State& state, archive::codec::CrcImpl impl) {
    if (impl == archive::codec::CrcImpl::Clmul && !archive::codec::ClmulAvailable()) {
        state.SkipWithError("no PCLMULQDQ on this processor");
        return;
    }
    const auto data = Data(static_cast<size_t>(state.range(0)));
    uint32_t reg = 0xFFFFFFFFu;
    for (auto _ : state) {
        reg = archive::codec::Update(reg, data.data(), data.size(), impl);
        benchmark::DoNotOptimize(reg);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK_CAPTURE(BM_Crc32, table, archive::codec::CrcImpl::Table)->Arg(4096)->Arg(65536)->Arg(1 << 20);
BENCHMARK_CAPTURE(BM_Crc32, slice8, archive::codec::CrcImpl::Slice8)->Arg(4096)->Arg(65536)->Arg(1 << 20);
BENCHMARK_CAPTURE(BM_Crc32, clmul, archive::codec::CrcImpl::Clmul)->Arg(4096)->Arg(65536)->Arg(1 << 20);

#ifdef ZB_HAVE_ZLIB
void BM_Crc32Zlib(benchmark::State& state) {
    const auto data = Data(static_cast<size_t>(state.range(0)));
    uLong crc = crc32(0L, Z_NULL, 0);
    for (auto _ : state) {
        crc = crc32(crc, data.data(), static_cast<uInt>(data.size()));
        benchmark::DoNotOptimize(crc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32Zlib)->Arg(4096)->Arg(65536)->Arg(1 << 20);
#endif

}  // namespace

BENCHMARK_MAIN();
