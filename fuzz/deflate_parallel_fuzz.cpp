// The compressor on several threads against the one-thread compressor: the fuzzer's bytes are a recipe
// for an input of 100 to 400 KiB (pieces of the bytes themselves, runs, and copies from earlier output
// at chosen distances, so matches and runs fall across the small chunk ends used here), compressed at a
// level, thread count and chunk size chosen by the recipe. Bytes, reads and writes must be the same.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "archive/codec/deflate.h"

namespace {

class TraceIO : public archive::codec::DeflateIO {
public:
    explicit TraceIO(const std::string& in) : in_(in) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        const size_t n = FetchEntryData(buffer, count);
        if (n > 0) AccountEntryData(buffer, static_cast<unsigned>(n));
        return static_cast<unsigned>(n);
    }
    bool CanReadAhead() const override { return true; }
    size_t FetchEntryData(uint8_t* buffer, size_t count) override {
        const size_t n = std::min(count, in_.size() - fetched_);
        std::memcpy(buffer, in_.data() + fetched_, n);
        fetched_ += n;
        return n;
    }
    void AccountEntryData(const uint8_t*, unsigned n) override { trace += "r" + std::to_string(n); }
    void WriteArchiveData(const uint8_t* buffer, size_t n) override {
        out.append(reinterpret_cast<const char*>(buffer), n);
        trace += "w" + std::to_string(n);
    }
    std::string out, trace;

private:
    const std::string& in_;
    size_t fetched_ = 0;
};

std::string Build(const uint8_t* data, size_t size) {
    const size_t target = (100 << 10) + (static_cast<size_t>(data[0]) << 10) + data[1] * 37;
    std::string s;
    size_t i = 2;
    // One byte of the recipe; past its end, a byte derived from the length so far.
    auto next = [&]() -> uint32_t {
        return i < size ? data[i++] : static_cast<uint32_t>((s.size() * 2654435761u) >> 24) & 0xFF;
    };
    while (s.size() < target) {
        const uint32_t op = next() % 4;
        if (op == 0) {
            s.append(reinterpret_cast<const char*>(data), size);  // the recipe itself
        } else if (op == 1) {
            s.append(static_cast<size_t>(next()) << (next() % 10), static_cast<char>(next()));  // a run
        } else {
            // A copy from earlier output: distance and length up to a few times the window.
            if (s.empty()) continue;
            const size_t dist = 1 + ((next() << 8 | next()) * 3u) % std::min<size_t>(s.size(), 40000);
            const size_t len = 3 + ((next() << 8 | next()) << (next() % 3));
            const size_t from = s.size() - dist;
            for (size_t k = 0; k < len; ++k) s.push_back(s[from + k]);
        }
    }
    s.resize(target);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const std::string in = Build(data, size);
    const int level = 4 + data[size - 1] % 6;  // levels 1-3 stay on one thread
    const unsigned threads = 2 + data[size - 2] % 3;
    const size_t chunk = size_t{65536} << (data[size - 2] >> 6);
    static archive::codec::Deflater one, many;
    one.SetThreads(1);
    many.SetThreads(threads);
    many.SetChunkSize(chunk);
    TraceIO a(in), b(in);
    const auto ra = one.Deflate(a, level);
    const auto rb = many.Deflate(b, level);
    if (a.out != b.out || a.trace != b.trace || ra.compressedSize != rb.compressedSize || ra.stored != rb.stored ||
        ra.text != rb.text)
        __builtin_trap();
    return 0;
}
