// CRC-32: the table against a bit-at-a-time reference, known check values, and agreement of the three
// implementations over many lengths, alignments and split points.
#include "archive/codec/crc32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace archive::codec {
namespace {

// The slow definition: one polynomial step per bit.
uint32_t BitwiseUpdate(uint32_t reg, const uint8_t* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        reg ^= p[i];
        for (int b = 0; b < 8; ++b) reg = (reg & 1) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return reg;
}

TEST(Crc32Table, EveryEntryMatchesBitwiseDefinition) {
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t byte = static_cast<uint8_t>(i);
        // Entry i is the register after folding byte i into a zero register.
        EXPECT_EQ(kCrcTable[i], BitwiseUpdate(0, &byte, 1)) << "entry " << i;
    }
}

TEST(Crc32, KnownValues) {
    struct Case {
        std::string data;
        uint32_t crc;
    };
    const Case cases[] = {
        {"", 0x00000000u},
        {"a", 0xE8B7BE43u},
        {"123456789", 0xCBF43926u},  // the check value of this CRC
        {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
        {std::string(32, '\0'), 0x190A55ADu},
        {std::string(32, '\xFF'), 0xFF6CAB0Bu},
    };
    for (const auto& c : cases) {
        for (auto impl : {CrcImpl::Table, CrcImpl::Slice8, CrcImpl::Clmul, CrcImpl::Best}) {
            EXPECT_EQ(~Update(0xFFFFFFFFu, c.data.data(), c.data.size(), impl), c.crc)
                << "len " << c.data.size() << " impl " << static_cast<int>(impl);
        }
        EXPECT_EQ(Crc32(c.data.data(), c.data.size()), c.crc);
    }
}

TEST(Crc32, ImplementationsAgreeOnLengthsAndAlignments) {
    const std::string random = testing_support::RandomBytes(70000, 7);
    const auto* base = reinterpret_cast<const uint8_t*>(random.data());
    std::vector<size_t> lengths;
    for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
    for (size_t n : {511u, 512u, 513u, 1023u, 1024u, 4095u, 4096u, 4097u, 16000u, 65536u, 65599u}) lengths.push_back(n);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t n : lengths) {
            const uint8_t* p = base + offset;
            // A register that is not the preset, as between pieces of one file.
            const uint32_t reg = 0x12345678u ^ static_cast<uint32_t>(n * 2654435761u);
            const uint32_t want = BitwiseUpdate(reg, p, n);
            ASSERT_EQ(Update(reg, p, n, CrcImpl::Table), want) << "table n=" << n << " off=" << offset;
            ASSERT_EQ(Update(reg, p, n, CrcImpl::Slice8), want) << "slice8 n=" << n << " off=" << offset;
            ASSERT_EQ(Update(reg, p, n, CrcImpl::Clmul), want) << "clmul n=" << n << " off=" << offset;
        }
    }
}

TEST(Crc32, PiecewiseEqualsWhole) {
    // The engine folds a file piece by piece (16000-byte reads, odd tails); any split gives the same CRC.
    const std::string data = testing_support::TextBytes(100000, 3);
    const uint32_t whole = Crc32(data.data(), data.size());
    for (size_t piece : {1u, 7u, 63u, 64u, 65u, 1000u, 16000u, 32768u}) {
        for (auto impl : {CrcImpl::Table, CrcImpl::Slice8, CrcImpl::Clmul}) {
            uint32_t reg = 0xFFFFFFFFu;
            for (size_t at = 0; at < data.size(); at += piece)
                reg = Update(reg, data.data() + at, std::min(piece, data.size() - at), impl);
            EXPECT_EQ(~reg, whole) << "piece " << piece << " impl " << static_cast<int>(impl);
        }
    }
}

TEST(Crc32, ClmulAvailabilityIsReported) {
    // On x86-64 machines of the last decade this is true; elsewhere Clmul quietly means slicing.
    if (!ClmulAvailable()) GTEST_SKIP() << "no PCLMULQDQ: the Clmul cases above ran the slicing code";
    SUCCEED();
}

}  // namespace
}  // namespace archive::codec
