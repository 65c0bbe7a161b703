// CRC-32 of the ZIP format: reflected polynomial 0xEDB88320, register preset to all ones and
// complemented at the end (ISO 3309).
//
// Update() works on the raw register (no pre- or post-inversion), as the engine keeps the register
// between pieces: start with 0xFFFFFFFF, fold every piece, complement at the end. Crc32() is the whole
// computation for one buffer.
//
// Three implementations give the same results: the portable byte-at-a-time table (the reference), slicing
// by 8, and a carry-less-multiply version chosen at run time where the processor has PCLMULQDQ and SSE4.1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive::codec {

// The 256-entry table of the reflected polynomial (also used by the traditional encryption).
extern const uint32_t kCrcTable[256];

enum class CrcImpl { Table, Slice8, Clmul, Best };

// Folds n bytes into the raw register with the chosen implementation (Best: the fastest available).
uint32_t Update(uint32_t reg, const void* data, size_t n, CrcImpl impl = CrcImpl::Best);
// CRC-32 of one buffer.
uint32_t Crc32(const void* data, size_t n);
// Whether the carry-less-multiply implementation is available on this processor.
bool ClmulAvailable();

}  // namespace archive::codec
