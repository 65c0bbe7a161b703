// A test-only walk over a ZIP file's central directory, for the codec tests that decode real archives
// written by other tools. It knows just enough of the format to hand each entry's compressed bytes to a
// decoder: no spanning, no ZIP64, no repair. The product's own reader is a separate component.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace testing_support {

struct ZipEntry {
    std::string name;
    uint16_t method = 0;
    uint16_t flags = 0;
    uint16_t dosTime = 0;
    uint16_t dosDate = 0;
    uint32_t crc = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    std::string data;  // the compressed bytes after the local header (with the encryption header, if any)

    bool Encrypted() const { return (flags & 0x0001) != 0; }
    bool StrongEncryption() const { return (flags & 0x0040) != 0; }
    bool IsFolder() const { return !name.empty() && name.back() == '/'; }
};

// Every entry of the archive, in central-directory order. Throws std::runtime_error for a file this walk
// cannot read.
std::vector<ZipEntry> ReadZipEntries(const std::string& zipPath);

// Checks and strips the 12-byte traditional encryption header of an encrypted entry with the given
// password. On success `plain` holds the decrypted compressed bytes; false when the check byte (the high
// byte of the CRC, or of the DOS time when flag bit 3 is set) does not match.
bool DecryptEntry(const ZipEntry& entry, const std::string& password, std::string& plain);

// Archives made by other tools, in two folders of the same layout (archives, passwords.tsv, expected/,
// raw/): the project's own few in tests/data/legacy, always present, and the external legacy corpus
// (ZB_LEGACY_CORPUS when set, else ../shared/testdata/legacy), which a clone of the project alone lacks.
std::string FixtureDir();
std::string LegacyDir();
// Why the external corpus cannot be used here; "" when it is present.
std::string LegacyCorpusMissing();
// passwords.tsv of either folder as archive name -> password ("" none, "?" unknown).
std::map<std::string, std::string> LegacyPasswords(const std::string& dir = LegacyDir());

}  // namespace testing_support
