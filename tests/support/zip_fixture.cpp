// Central-directory walk and traditional decryption for the codec tests (see zip_fixture.h).
#include "tests/support/zip_fixture.h"

#include <cstdlib>
#include <fstream>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "archive/codec/crypt.h"
#include "tests/support/test_support.h"

namespace testing_support {

namespace {

uint16_t Get16(const std::string& s, size_t at) {
    if (at + 2 > s.size()) throw std::runtime_error("zip fixture: record runs past the end");
    return static_cast<uint16_t>(static_cast<uint8_t>(s[at]) | static_cast<uint8_t>(s[at + 1]) << 8);
}
uint32_t Get32(const std::string& s, size_t at) { return Get16(s, at) | uint32_t{Get16(s, at + 2)} << 16; }

constexpr uint32_t kEndSignature = 0x06054b50;      // end of central directory, 22 bytes + comment
constexpr uint32_t kCentralSignature = 0x02014b50;  // central header, 46 bytes + name, extra, comment
constexpr uint32_t kLocalSignature = 0x04034b50;    // local header, 30 bytes + name, extra

}  // namespace

std::vector<ZipEntry> ReadZipEntries(const std::string& zipPath) {
    const std::string zip = ReadFile(zipPath);
    if (zip.size() < 22) throw std::runtime_error("zip fixture: too small: " + zipPath);
    // The end record may sit before an archive comment: search backwards.
    size_t end = std::string::npos;
    for (size_t at = zip.size() - 22;; --at) {
        if (Get32(zip, at) == kEndSignature) {
            end = at;
            break;
        }
        if (at == 0 || zip.size() - at > 22 + 0xFFFF) break;
    }
    if (end == std::string::npos) throw std::runtime_error("zip fixture: no end record: " + zipPath);
    const unsigned count = Get16(zip, end + 10);
    size_t at = Get32(zip, end + 16);

    std::vector<ZipEntry> entries;
    for (unsigned i = 0; i < count; ++i) {
        if (Get32(zip, at) != kCentralSignature) throw std::runtime_error("zip fixture: bad central header");
        ZipEntry e;
        e.flags = Get16(zip, at + 8);
        e.method = Get16(zip, at + 10);
        e.dosTime = Get16(zip, at + 12);
        e.dosDate = Get16(zip, at + 14);
        e.crc = Get32(zip, at + 16);
        e.compressedSize = Get32(zip, at + 20);
        e.uncompressedSize = Get32(zip, at + 24);
        const unsigned nameLen = Get16(zip, at + 28);
        const unsigned extraLen = Get16(zip, at + 30);
        const unsigned commentLen = Get16(zip, at + 32);
        const uint32_t local = Get32(zip, at + 42);
        e.name = zip.substr(at + 46, nameLen);
        at += 46 + nameLen + extraLen + commentLen;

        if (Get32(zip, local) != kLocalSignature) throw std::runtime_error("zip fixture: bad local header");
        const size_t data = local + 30 + Get16(zip, local + 26) + Get16(zip, local + 28);
        if (data + e.compressedSize > zip.size()) throw std::runtime_error("zip fixture: data past the end");
        e.data = zip.substr(data, e.compressedSize);
        entries.push_back(std::move(e));
    }
    return entries;
}

bool DecryptEntry(const ZipEntry& entry, const std::string& password, std::string& plain) {
    if (entry.data.size() < 12) return false;
    archive::codec::TraditionalCipher cipher;
    cipher.Init(password);
    std::string bytes = entry.data;
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    cipher.Decrypt(p, 12);
    const uint8_t check = (entry.flags & 0x0008) ? static_cast<uint8_t>(entry.dosTime >> 8)
                                                 : static_cast<uint8_t>(entry.crc >> 24);
    if (p[11] != check) return false;
    cipher.Decrypt(p + 12, bytes.size() - 12);
    plain = bytes.substr(12);
    return true;
}

std::string FixtureDir() { return SourceDir() + "/tests/data/legacy"; }

std::string LegacyDir() {
    const char* env = std::getenv("ZB_LEGACY_CORPUS");
    return env && *env ? std::string(env) : SharedDir() + "/testdata/legacy";
}

std::string LegacyCorpusMissing() {
    if (std::filesystem::is_regular_file(LegacyDir() + "/passwords.tsv")) return {};
    return "the external corpus " + LegacyDir() +
           " is not here (a clone of the project alone has no ../shared; ZB_LEGACY_CORPUS may name it)";
}

std::map<std::string, std::string> LegacyPasswords(const std::string& dir) {
    std::map<std::string, std::string> out;
    std::istringstream in(ReadFile(dir + "/passwords.tsv"));
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos)
            out[line] = "";
        else
            out[line.substr(0, tab)] = line.substr(tab + 1);
    }
    return out;
}

}  // namespace testing_support
