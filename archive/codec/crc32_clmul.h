// Internal to the CRC-32 implementation: the pieces crc32.cpp and crc32_clmul.cpp share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive::codec {

// Slicing by 8 on the raw register; also finishes what the folding loop leaves.
uint32_t UpdateSlice8(uint32_t reg, const uint8_t* p, size_t n);
// Whether this processor runs UpdateClmul (PCLMULQDQ and SSE4.1; always false off x86).
bool ClmulSupported();
// Carry-less-multiply folding on the raw register. Only to be called when ClmulSupported().
uint32_t UpdateClmul(uint32_t reg, const uint8_t* p, size_t n);

}  // namespace archive::codec
