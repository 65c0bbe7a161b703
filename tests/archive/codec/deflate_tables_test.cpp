// The constant tables against slow computations from RFC 1951's own definitions: the length and distance
// code ranges of 3.2.5, and the fixed codes of 3.2.6 built by assigning consecutive codes per length.
#include "archive/codec/deflate_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using namespace archive::codec;

// 3.2.5: code i covers [base, base + 2^extra).
constexpr int kRfcLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kRfcDistBase[30] = {1,    2,    3,    4,    5,    7,     9,     13,    17,  25,   33,   49,   65,   97,   129,
                                  193,  257,  385,  513,  769,  1025,  1537,  2049,  3073, 4097, 6145, 8193, 12289, 16385, 24577};

TEST(DeflateTablesTest, LengthCodes) {
    for (int len = 3; len <= 258; ++len) {
        int code = 28;
        if (len < 258) {
            code = 0;
            while (code + 1 < 28 && kRfcLengthBase[code + 1] <= len) code++;
        }
        ASSERT_EQ(kLengthCode[len - 3], code) << len;
        ASSERT_LT(len - kRfcLengthBase[code], 1 << kLengthExtra[code]) << len;
    }
    for (int code = 0; code < 29; ++code) EXPECT_EQ(kBaseLength[code] + 3, kRfcLengthBase[code]) << code;
}

TEST(DeflateTablesTest, DistanceCodes) {
    for (int dist = 1; dist <= 32768; ++dist) {
        int code = 0;
        while (code + 1 < 30 && kRfcDistBase[code + 1] <= dist) code++;
        ASSERT_EQ(DistCode(dist - 1), static_cast<unsigned>(code)) << dist;
        ASSERT_LT(dist - kRfcDistBase[code], 1 << kDistExtra[code]) << dist;
    }
    for (int code = 0; code < 30; ++code) EXPECT_EQ(kBaseDist[code] + 1, kRfcDistBase[code]) << code;
}

// Codes of one length are consecutive in symbol order, each length's first code following the last of
// the shorter ones; output sends the code's bits from the most significant, so tables hold them reversed.
std::vector<std::pair<unsigned, int>> SlowCodes(const std::vector<int>& lengths) {
    std::vector<std::pair<unsigned, int>> out(lengths.size(), {0, 0});
    unsigned code = 0;
    for (int len = 1; len <= 15; ++len) {
        for (size_t s = 0; s < lengths.size(); ++s) {
            if (lengths[s] != len) continue;
            unsigned reversed = 0;
            for (int b = 0; b < len; ++b) reversed |= ((code >> b) & 1u) << (len - 1 - b);
            out[s] = {reversed, len};
            code++;
        }
        code <<= 1;
    }
    return out;
}

TEST(DeflateTablesTest, FixedCodes) {
    std::vector<int> lit(288);
    for (int i = 0; i < 288; ++i) lit[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    const auto litCodes = SlowCodes(lit);
    for (int i = 0; i < 288; ++i) {
        EXPECT_EQ(kFixedLit[i].code, litCodes[i].first) << i;
        EXPECT_EQ(kFixedLit[i].len, litCodes[i].second) << i;
    }
    const auto distCodes = SlowCodes(std::vector<int>(30, 5));
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(kFixedDist[i].code, distCodes[i].first) << i;
        EXPECT_EQ(kFixedDist[i].len, 5) << i;
    }
    // Spot checks from the RFC's table: literal 0 is 00110000, 144 is 110010000, 256 is 0000000.
    EXPECT_EQ(ReverseBits(kFixedLit[0].code, 8), 0x30u);
    EXPECT_EQ(ReverseBits(kFixedLit[144].code, 9), 0x190u);
    EXPECT_EQ(ReverseBits(kFixedLit[256].code, 7), 0u);
    EXPECT_EQ(ReverseBits(kFixedLit[280].code, 8), 0xC0u);
}

}  // namespace
