// CRC-32 by carry-less multiplication (PCLMULQDQ), compiled for that instruction set by function
// attributes only, so the rest of the program keeps running on any x86-64.
//
// A CRC is the remainder of the message polynomial modulo P. For a 128-bit block A followed by D more
// bits, A * x^D mod P can be replaced by a 128-bit value with the same remainder: split A into its two
// 64-bit halves and multiply each by a 33-bit constant, x^(D+32) mod P for one and x^(D-32) mod P for the
// other (bit-reflected, as the ZIP CRC is). Folding that into the block D bits further on removes A
// without changing the CRC. Four 128-bit accumulators fold over 64-byte strides (D = 512): four
// independent multiply chains hide the instruction's latency. They are then folded into one (D = 128),
// single blocks of 16 follow, and the last accumulator plus the tail of fewer than 16 bytes go through
// slicing by 8 with a zero register: the accumulator is a 16-byte message with the same CRC as everything
// folded into it. That final step costs a few nanoseconds and needs no reduction constants.
//
// The register enters like any CRC register: XORed into the first four message bytes.
#include "archive/codec/crc32_clmul.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace archive::codec {

#if defined(__x86_64__) || defined(__i386__)

namespace {

// x^n mod P in the reflected form the folding multiplies with: bit-reversed 32-bit remainder, shifted
// left once (the reflected product of two 64-bit halves comes out one bit short).
constexpr uint64_t FoldConstant(int n) {
    uint64_t r = 1;
    for (int i = 0; i < n; ++i) {
        r <<= 1;
        if (r & (uint64_t{1} << 32)) r ^= 0x104C11DB7u;
    }
    uint64_t reflected = 0;
    for (int i = 0; i < 32; ++i)
        if (r & (uint64_t{1} << i)) reflected |= uint64_t{1} << (31 - i);
    return reflected << 1;
}

// Low lane multiplies the low (earlier) half of an accumulator, high lane the high half.
constexpr uint64_t kFold512[2] = {FoldConstant(512 + 32), FoldConstant(512 - 32)};
constexpr uint64_t kFold128[2] = {FoldConstant(128 + 32), FoldConstant(128 - 32)};

__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i acc, __m128i k, __m128i next) {
    const __m128i lo = _mm_clmulepi64_si128(acc, k, 0x00);
    const __m128i hi = _mm_clmulepi64_si128(acc, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(lo, hi), next);
}

__attribute__((target("pclmul,sse2"))) inline __m128i Load(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

}  // namespace

bool ClmulSupported() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

__attribute__((target("pclmul,sse4.1"))) uint32_t UpdateClmul(uint32_t reg, const uint8_t* p, size_t n) {
    if (n < 64) return UpdateSlice8(reg, p, n);

    __m128i x0 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i x1 = Load(p + 16);
    __m128i x2 = Load(p + 32);
    __m128i x3 = Load(p + 48);
    p += 64;
    n -= 64;

    const __m128i k512 = _mm_set_epi64x(static_cast<long long>(kFold512[1]), static_cast<long long>(kFold512[0]));
    while (n >= 64) {
        x0 = Fold(x0, k512, Load(p));
        x1 = Fold(x1, k512, Load(p + 16));
        x2 = Fold(x2, k512, Load(p + 32));
        x3 = Fold(x3, k512, Load(p + 48));
        p += 64;
        n -= 64;
    }

    const __m128i k128 = _mm_set_epi64x(static_cast<long long>(kFold128[1]), static_cast<long long>(kFold128[0]));
    x0 = Fold(x0, k128, x1);
    x0 = Fold(x0, k128, x2);
    x0 = Fold(x0, k128, x3);
    while (n >= 16) {
        x0 = Fold(x0, k128, Load(p));
        p += 16;
        n -= 16;
    }

    alignas(16) uint8_t rest[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(rest), x0);
    return UpdateSlice8(UpdateSlice8(0, rest, 16), p, n);
}

#else

bool ClmulSupported() { return false; }
uint32_t UpdateClmul(uint32_t reg, const uint8_t* p, size_t n) { return UpdateSlice8(reg, p, n); }

#endif

}  // namespace archive::codec
