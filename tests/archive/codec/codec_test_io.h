// Shared pieces of the decoder tests: an input source that hands out blocks in chosen sizes, a sink that
// collects the output, an LSB-first bit writer for hand-made streams, the python zlib oracle, and a walk
// over the legacy archives.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "archive/codec/crc32.h"
#include "archive/codec/decode_workspace.h"
#include "archive/codec/decoder.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"

namespace codec_test {

using archive::codec::DecodeResult;

// Hands out `data` in blocks: a fixed size, or sizes from 1 to maxRandom chosen by a seed.
class MemorySource : public archive::codec::InputSource {
public:
    explicit MemorySource(std::string data, size_t blockSize = 16000, uint32_t randomSeed = 0,
                          size_t maxRandom = 0)
        : data_(std::move(data)), block_(blockSize), seed_(randomSeed), maxRandom_(maxRandom) {}

    size_t NextBlock(const uint8_t*& p) override {
        ++calls_;
        if (pos_ >= data_.size()) {
            ++callsAfterEnd_;
            return 0;
        }
        size_t n = block_;
        if (maxRandom_) {
            seed_ = seed_ * 1103515245u + 12345u;
            n = 1 + (seed_ >> 8) % maxRandom_;
        }
        n = std::min(n, data_.size() - pos_);
        // Each block is a fresh copy that is destroyed at the next call, so reading a stale block shows up
        // under the address sanitizer.
        current_.assign(data_.begin() + static_cast<std::ptrdiff_t>(pos_),
                        data_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        current_.shrink_to_fit();
        pos_ += n;
        p = current_.data();
        return n;
    }
    size_t Calls() const { return calls_; }
    size_t CallsAfterEnd() const { return callsAfterEnd_; }

private:
    std::string data_;
    std::vector<uint8_t> current_;
    size_t pos_ = 0;
    size_t block_;
    uint32_t seed_;
    size_t maxRandom_;
    size_t calls_ = 0;
    size_t callsAfterEnd_ = 0;
};

class StringSink : public archive::codec::OutputSink {
public:
    void Write(const uint8_t* p, size_t n) override {
        data.append(reinterpret_cast<const char*>(p), n);
        ++writes;
    }
    std::string data;
    size_t writes = 0;
};

// What one decoder call gave: its result and everything it wrote.
struct Decoded {
    archive::codec::DecodeResult result;
    std::string out;
};

// Runs `decode`(workspace, source, sink) on a fresh workspace over `stream` handed out in `block`-byte pieces.
template <class Decode>
Decoded DecodeWith(const std::string& stream, size_t block, Decode&& decode) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    MemorySource src(stream, block);
    StringSink sink;
    const archive::codec::DecodeResult r = decode(*ws, src, sink);
    return {r, sink.data};
}

// Writes bits least significant first, as every ZIP method reads them.
class BitWriter {
public:
    // The low `n` bits of value, least significant first.
    BitWriter& Bits(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; ++i) Bit((value >> i) & 1);
        return *this;
    }
    // A Huffman or Shannon-Fano code: its bits most significant first.
    BitWriter& Code(uint32_t code, unsigned len) {
        for (unsigned i = len; i-- > 0;) Bit((code >> i) & 1);
        return *this;
    }
    BitWriter& Bytes(const std::string& s) {
        for (char c : s) Bits(static_cast<uint8_t>(c), 8);
        return *this;
    }
    BitWriter& AlignToByte() {
        while (count_ % 8) Bit(0);
        return *this;
    }
    std::string Data() const { return out_; }

private:
    void Bit(unsigned b) {
        if (count_ % 8 == 0) out_.push_back('\0');
        if (b) out_.back() = static_cast<char>(out_.back() | (1 << (count_ % 8)));
        ++count_;
    }
    std::string out_;
    size_t count_ = 0;
};

inline uint32_t Crc(const std::string& s) { return archive::codec::Crc32(s.data(), s.size()); }

// Raw Deflate (no zlib header) made by python's zlib, for many inputs in one run of python: each request
// is the data, a level 0-9 and a strategy (0 default, 1 filtered, 2 Huffman only, 3 RLE, 4 fixed codes).
struct DeflateRequest {
    const std::string* data;
    int level;
    int strategy;
};
inline std::vector<std::string> ZlibDeflateMany(const std::vector<DeflateRequest>& requests) {
    namespace ts = testing_support;
    ts::TempDir dir;
    std::string manifest;
    for (size_t i = 0; i < requests.size(); ++i) {
        ts::WriteFile(dir / ("in" + std::to_string(i)), *requests[i].data);
        manifest += std::to_string(requests[i].level) + " " + std::to_string(requests[i].strategy) + "\n";
    }
    ts::WriteFile(dir / "manifest", manifest);
    const std::string script =
        "import os, sys, zlib\n"
        "d = sys.argv[1]\n"
        "for i, line in enumerate(open(os.path.join(d, 'manifest'))):\n"
        "    level, strategy = map(int, line.split())\n"
        "    data = open(os.path.join(d, 'in%d' % i), 'rb').read()\n"
        "    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)\n"
        "    open(os.path.join(d, 'out%d' % i), 'wb').write(c.compress(data) + c.flush())\n";
    ts::WriteFile(dir / "deflate.py", script);
    const auto r = ts::Run("python3 " + ts::ShellQuote(dir / "deflate.py") + " " + ts::ShellQuote(dir.Path()));
    EXPECT_EQ(r.exitCode, 0) << r.output;
    std::vector<std::string> out;
    for (size_t i = 0; i < requests.size(); ++i) out.push_back(ts::ReadFile(dir / ("out" + std::to_string(i))));
    return out;
}
inline std::string ZlibDeflate(const std::string& data, int level, int strategy = 0) {
    return ZlibDeflateMany({{&data, level, strategy}}).front();
}

// Every entry of every archive in `dir` (testing_support::FixtureDir() or LegacyDir()) with one of the given
// methods, encrypted ones only where their password is known (decrypted here); `visit` gets the archive
// name, the entry and its compressed bytes.
inline size_t ForEachLegacyEntry(const std::string& dir, const std::vector<uint16_t>& methods,
                                 const std::function<void(const std::string& archive,
                                                          const testing_support::ZipEntry& entry,
                                                          const std::string& compressed)>& visit) {
    namespace ts = testing_support;
    const auto passwords = ts::LegacyPasswords(dir);
    size_t visited = 0;
    for (const auto& [archive, password] : passwords) {
        for (const ts::ZipEntry& e : ts::ReadZipEntries(dir + "/" + archive)) {
            if (std::find(methods.begin(), methods.end(), e.method) == methods.end()) continue;
            if (e.StrongEncryption()) continue;
            std::string compressed = e.data;
            if (e.Encrypted()) {
                if (password == "?") continue;
                if (!ts::DecryptEntry(e, password, compressed)) {
                    ADD_FAILURE() << archive << " " << e.name << ": password check failed";
                    continue;
                }
            }
            visit(archive, e, compressed);
            ++visited;
        }
    }
    return visited;
}

// The expected file of an entry where the folder has one ("" otherwise).
inline std::string LegacyExpected(const std::string& corpus, const std::string& archive, const std::string& entryName) {
    const std::string dir = corpus + "/expected/";
    auto base = entryName.substr(entryName.rfind('/') + 1);
    auto upper = base;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (archive.rfind("df2_PKZ", 0) == 0) return testing_support::ReadFile(dir + "df2_" + base);
    if (archive.rfind("df2a_HW", 0) == 0) return testing_support::ReadFile(dir + "df2a_" + base);
    if (archive.rfind("zip2_", 0) == 0 && upper == "FIRST.TXT") return testing_support::ReadFile(dir + "zip2_first.txt");
    if (archive.rfind("sc_Zip.", 0) == 0) {
        if (upper == "TEST.EXE") return testing_support::ReadFile(dir + "sc_test.exe");
        if (upper == "TEST.JPG") return testing_support::ReadFile(dir + "sc_test.jpg");
        if (upper == "TECT.TXT") return testing_support::ReadFile(dir + "sc_test_ru_crlf.txt");
    }
    if (archive.rfind("zipjs_lorem-", 0) == 0 && base == "lorem.txt") {
        std::string lorem = testing_support::ReadFile(dir + "zipjs_lorem.txt");
        if (archive.find("-big") != std::string::npos) {
            std::string big;
            for (int i = 0; i < 80; ++i) big += lorem;
            return big;
        }
        return lorem;
    }
    if (archive == "zipjs_hamlet-reduce-pkzip092.zip") return testing_support::ReadFile(dir + "zipjs_hamlet-2048.txt");
    if (archive == "zipjs_zeros-reduce-pkzip092.zip")
        return testing_support::ReadFile(dir + "zipjs_hamlet-2048.txt") + std::string(1024, '\0');
    if (archive.rfind("zd_", 0) == 0 && base == "lorem.txt") return testing_support::ReadFile(dir + "zd_lorem.txt");
    if (archive.rfind("zd_", 0) == 0 && base == "lorem2.txt") return testing_support::ReadFile(dir + "zd_lorem2.txt");
    if (archive.rfind("pt_aesop_linux", 0) == 0) return testing_support::ReadFile(dir + "pt_aesop.txt");
    return "";
}

// Decodes every legacy entry of the given methods with `decode` and checks the CRC of the central record
// and, where the corpus has it, the expected content. Returns the number of entries decoded.
inline size_t CheckLegacyEntries(
    const std::string& dir, const std::vector<uint16_t>& methods,
    const std::function<DecodeResult(archive::codec::DecodeWorkspace&, archive::codec::InputSource&,
                                     archive::codec::OutputSink&, const testing_support::ZipEntry&)>& decode) {
    auto ws = archive::codec::MakeDecodeWorkspace();
    size_t withExpected = 0;
    const size_t n = ForEachLegacyEntry(dir, methods, [&](const std::string& archive, const testing_support::ZipEntry& e,
                                                     const std::string& compressed) {
        MemorySource src(compressed);
        StringSink out;
        const DecodeResult r = decode(*ws, src, out, e);
        EXPECT_EQ(r, DecodeResult::Ok) << archive << " " << e.name;
        EXPECT_EQ(out.data.size(), e.uncompressedSize) << archive << " " << e.name;
        EXPECT_EQ(Crc(out.data), e.crc) << archive << " " << e.name;
        const std::string expected = LegacyExpected(dir, archive, e.name);
        if (!expected.empty()) {
            ++withExpected;
            EXPECT_TRUE(out.data == expected) << archive << " " << e.name << " differs from its expected file";
        }
    });
    EXPECT_GT(withExpected, 0u);
    return n;
}

}  // namespace codec_test
