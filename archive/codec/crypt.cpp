// The traditional ZIP stream cipher (ZIP application note, "Traditional PKWARE Encryption").
//
// State: three 32-bit keys. Every plain byte updates them: key0 through one CRC-32 step, key1 by a linear
// congruential step on key0's low byte, key2 through one CRC-32 step on key1's high byte. The keystream
// byte comes from the low 16 bits of key2. Decryption XORs first and updates with the plain result;
// encryption updates with the plain byte after taking the keystream byte, so both sides stay in step.
#include "archive/codec/crypt.h"

#include "archive/codec/crc32.h"

namespace archive::codec {

namespace {
inline uint32_t CrcStep(uint32_t reg, uint8_t b) { return kCrcTable[(reg ^ b) & 0xFF] ^ (reg >> 8); }
}  // namespace

void TraditionalCipher::Init(const std::string& password) {
    key0_ = 0x12345678;
    key1_ = 0x23456789;
    key2_ = 0x34567890;
    for (const char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

void TraditionalCipher::UpdateKeys(uint8_t plain) {
    key0_ = CrcStep(key0_, plain);
    key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
    key2_ = CrcStep(key2_, static_cast<uint8_t>(key1_ >> 24));
}

uint8_t TraditionalCipher::StreamByte() const {
    const uint32_t t = (key2_ | 2) & 0xFFFF;
    return static_cast<uint8_t>((t * (t ^ 1)) >> 8);
}

uint8_t TraditionalCipher::DecryptByte(uint8_t c) {
    const uint8_t p = static_cast<uint8_t>(c ^ StreamByte());
    UpdateKeys(p);
    return p;
}

uint8_t TraditionalCipher::EncryptByte(uint8_t p) {
    const uint8_t c = static_cast<uint8_t>(p ^ StreamByte());
    UpdateKeys(p);
    return c;
}

void TraditionalCipher::Decrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) data[i] = DecryptByte(data[i]);
}

void TraditionalCipher::Encrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) data[i] = EncryptByte(data[i]);
}

}  // namespace archive::codec
