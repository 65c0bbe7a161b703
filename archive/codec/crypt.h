// The traditional PKWARE stream cipher of the ZIP format: three 32-bit keys initialised from the password,
// updated with every plain byte through the CRC-32 table, and a keystream byte derived from the third key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace archive::codec {

class TraditionalCipher {
public:
    // Sets the keys from the password (each byte of it updates the keys).
    void Init(const std::string& password);
    uint8_t DecryptByte(uint8_t c);
    uint8_t EncryptByte(uint8_t p);
    void Decrypt(uint8_t* data, size_t n);
    void Encrypt(uint8_t* data, size_t n);

private:
    void UpdateKeys(uint8_t plain);
    uint8_t StreamByte() const;
    uint32_t key0_ = 0x12345678, key1_ = 0x23456789, key2_ = 0x34567890;
};

}  // namespace archive::codec
