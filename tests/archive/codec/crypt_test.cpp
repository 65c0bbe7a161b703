// The traditional cipher: round trips, and the encrypted entries of archives made by other tools (the
// check byte from the CRC or, with a data descriptor, from the DOS time; wrong and unknown passwords).
#include <gtest/gtest.h>

#include "archive/codec/crypt.h"
#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "tests/archive/codec/codec_test_io.h"

namespace {

using archive::codec::DecodeResult;
using archive::codec::TraditionalCipher;
using codec_test::MemorySource;
using codec_test::StringSink;
namespace ts = testing_support;

std::string Encrypt(const std::string& password, std::string data) {
    TraditionalCipher c;
    c.Init(password);
    c.Encrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
    return data;
}

std::string Decrypt(const std::string& password, std::string data) {
    TraditionalCipher c;
    c.Init(password);
    c.Decrypt(reinterpret_cast<uint8_t*>(data.data()), data.size());
    return data;
}

TEST(CryptTest, RoundTripsAndDependsOnEveryPasswordByte) {
    const std::string plain = ts::RandomBytes(5000, 1) + std::string(3000, '\0');
    const std::string passwords[] = {"", "a", "secret", std::string("nul\0inside", 10), "\xE4\xF6\xFC"};
    for (const std::string& password : passwords) {
        const std::string cipher = Encrypt(password, plain);
        EXPECT_NE(cipher, plain) << password;
        EXPECT_EQ(Decrypt(password, cipher), plain) << password;
        EXPECT_NE(Decrypt(password + "x", cipher), plain) << password;
    }
    EXPECT_NE(Encrypt("secret", plain), Encrypt("secreT", plain));
}

TEST(CryptTest, InitStartsOverAndBytewiseEqualsBlockwise) {
    const std::string plain = ts::TextBytes(1000, 2);
    TraditionalCipher c;
    c.Init("pw");
    std::string once = plain;
    c.Encrypt(reinterpret_cast<uint8_t*>(once.data()), once.size());
    c.Init("pw");  // the keys of the first run must not leak into the second
    std::string bytewise;
    for (char ch : plain) bytewise.push_back(static_cast<char>(c.EncryptByte(static_cast<uint8_t>(ch))));
    EXPECT_EQ(once, bytewise);
}

TEST(CryptTest, DecryptsWhatInfoZipEncrypted) {
    // Info-ZIP zip as the oracle for the key schedule: an entry it encrypts must decrypt to the original.
    if (!ts::HaveTool("zip")) GTEST_SKIP() << "zip not installed";
    ts::TempDir dir;
    const std::string content = ts::TextBytes(20000, 3);
    ts::WriteFile(dir / "f.txt", content);
    const auto r = ts::Run("cd " + ts::ShellQuote(dir.Path()) + " && zip -q -0 -P 'Top Secret!' a.zip f.txt");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const auto entries = ts::ReadZipEntries(dir / "a.zip");
    ASSERT_EQ(entries.size(), 1u);
    std::string plain;
    EXPECT_FALSE(ts::DecryptEntry(entries[0], "top secret!", plain) && plain == content);
    ASSERT_TRUE(ts::DecryptEntry(entries[0], "Top Secret!", plain));
    EXPECT_EQ(plain, content);
}

// Decodes an entry after decryption; stored entries are their own output.
DecodeResult DecodeEntry(archive::codec::DecodeWorkspace& ws, const ts::ZipEntry& e, const std::string& compressed,
                         std::string& out) {
    if (e.method == 0) {
        out = compressed;
        return DecodeResult::Ok;
    }
    MemorySource src(compressed);
    StringSink sink;
    DecodeResult r = DecodeResult::DataError;
    if (e.method == 8) r = archive::codec::Inflate(ws, src, sink);
    out = sink.data;
    return r;
}

// Counts of what DecryptsEveryEncryptedEntry saw.
struct Decrypted {
    size_t withTimeCheck = 0, withCrcCheck = 0, withExpected = 0;
};

Decrypted DecryptsEveryEncryptedEntry(const std::string& dir) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    size_t withTimeCheck = 0, withCrcCheck = 0, withExpected = 0;
    for (const auto& [archive, password] : ts::LegacyPasswords(dir)) {
        if (password == "?") continue;
        for (const ts::ZipEntry& e : ts::ReadZipEntries(dir + "/" + archive)) {
            if (!e.Encrypted() || e.StrongEncryption()) continue;
            std::string compressed;
            EXPECT_TRUE(ts::DecryptEntry(e, password, compressed)) << archive << " " << e.name;
            ++((e.flags & 0x0008) ? withTimeCheck : withCrcCheck);
            std::string out;
            EXPECT_EQ(DecodeEntry(*ws, e, compressed, out), DecodeResult::Ok) << archive << " " << e.name;
            EXPECT_EQ(codec_test::Crc(out), e.crc) << archive << " " << e.name;
            const std::string expected = codec_test::LegacyExpected(dir, archive, e.name);
            if (!expected.empty()) {
                ++withExpected;
                EXPECT_EQ(out, expected) << archive << " " << e.name;
            }
        }
    }
    return {withTimeCheck, withCrcCheck, withExpected};
}

TEST(CryptTest, DecryptsTheEncryptedEntriesKeptWithTheTests) {
    const Decrypted d = DecryptsEveryEncryptedEntry(ts::FixtureDir());
    EXPECT_GE(d.withTimeCheck, 2u);
    EXPECT_GE(d.withCrcCheck, 5u);
    EXPECT_GE(d.withExpected, 1u);
}

TEST(CryptTest, DecryptsEveryEncryptedEntryOfTheExternalCorpus) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    const Decrypted d = DecryptsEveryEncryptedEntry(ts::LegacyDir());
    EXPECT_GE(d.withTimeCheck + d.withCrcCheck, 263u);
    EXPECT_GE(d.withTimeCheck, 200u);
    EXPECT_GE(d.withCrcCheck, 20u);
    EXPECT_GT(d.withExpected, 5u);
}

// Tries wrong passwords on every encrypted entry; returns {tried, tried on unknown passwords}.
std::pair<size_t, size_t> WrongPasswordsAreRefused(const std::string& dir) {
    // An entry whose check byte passes by chance (1 in 256) must still fail its CRC.
    auto ws = archive::codec::MakeDecodeWorkspace();
    size_t tried = 0, unknown = 0;
    for (const auto& [archive, password] : ts::LegacyPasswords(dir)) {
        for (const ts::ZipEntry& e : ts::ReadZipEntries(dir + "/" + archive)) {
            if (!e.Encrypted() || e.StrongEncryption() || e.uncompressedSize == 0) continue;
            for (const std::string wrong : {"", "wrong", "Password", "test1"}) {
                if (wrong == password) continue;
                ++tried;
                if (password == "?") ++unknown;
                std::string compressed;
                if (!ts::DecryptEntry(e, wrong, compressed)) continue;
                std::string out;
                const DecodeResult r = DecodeEntry(*ws, e, compressed, out);
                EXPECT_TRUE(r != DecodeResult::Ok || codec_test::Crc(out) != e.crc) << archive << " " << e.name;
            }
        }
    }
    return {tried, unknown};
}

TEST(CryptTest, WrongPasswordsAreRefusedOnTheEntriesKeptWithTheTests) {
    EXPECT_GT(WrongPasswordsAreRefused(ts::FixtureDir()).first, 30u);
}

TEST(CryptTest, WrongAndUnknownPasswordsAreRefusedOnTheExternalCorpus) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    const auto [tried, unknown] = WrongPasswordsAreRefused(ts::LegacyDir());
    EXPECT_GT(tried, 500u);
    EXPECT_GE(unknown, 4u * 10u);
}

TEST(CryptTest, TheCheckByteComesFromTheTimeWhenADataDescriptorFollows) {
    // The same entry with flag bit 3 cleared must be checked against the CRC's high byte instead, which
    // differs from the time's for this entry.
    for (const ts::ZipEntry& e : ts::ReadZipEntries(ts::FixtureDir() + "/lz_encrypt.zip")) {
        if (!e.Encrypted() || !(e.flags & 0x0008) || (e.crc >> 24) == (e.dosTime >> 8)) continue;
        std::string plain;
        EXPECT_TRUE(ts::DecryptEntry(e, "foo", plain)) << e.name;
        ts::ZipEntry noDescriptor = e;
        noDescriptor.flags &= static_cast<uint16_t>(~0x0008);
        EXPECT_FALSE(ts::DecryptEntry(noDescriptor, "foo", plain)) << e.name;
        return;
    }
    FAIL() << "no encrypted entry with a data descriptor in lz_encrypt.zip";
}

}  // namespace
