// MS-DOS date-times: the correction of values read from records, conversion both ways, the day-count
// values behind them, and the percentage rule of the progress events.
#include "archive/records/date_time.h"

#include <gtest/gtest.h>

namespace archive {
namespace {

constexpr uint32_t Dos(int y, int mo, int d, int h, int mi, int s2) {
    return (static_cast<uint32_t>(y - 1980) << 25) | (static_cast<uint32_t>(mo) << 21) |
           (static_cast<uint32_t>(d) << 16) | (static_cast<uint32_t>(h) << 11) | (static_cast<uint32_t>(mi) << 5) |
           static_cast<uint32_t>(s2);
}

TEST(DosDateTime, NormalizeClampsOnlyWhatIsOutOfRange) {
    struct Case {
        uint32_t in, out;
        const char* what;
    };
    const Case cases[] = {
        {0, Dos(1980, 1, 1, 0, 0, 0), "all zero reads as 1980-01-01 00:00:00"},
        {Dos(2024, 5, 17, 13, 45, 31), Dos(2024, 5, 17, 13, 45, 29), "62 seconds become 58, date unchanged"},
        {Dos(2024, 5, 17, 31, 45, 10), Dos(2024, 5, 17, 23, 45, 10), "hour 31"},
        {Dos(2024, 5, 17, 13, 63, 10), Dos(2024, 5, 17, 13, 59, 10), "minute 63"},
        {Dos(2024, 15, 17, 13, 45, 10), Dos(2024, 12, 17, 13, 45, 10), "month 15"},
        {Dos(2024, 0, 17, 13, 45, 10), Dos(2024, 1, 17, 13, 45, 10), "month 0"},
        {Dos(2024, 5, 0, 13, 45, 10), Dos(2024, 5, 1, 13, 45, 10), "day 0"},
        {Dos(2107, 5, 17, 13, 45, 10), Dos(2099, 5, 17, 13, 45, 10), "year 2107"},
        {Dos(2024, 2, 31, 13, 45, 10), Dos(2024, 2, 31, 13, 45, 10), "day 31 of February is not corrected"},
        {Dos(2024, 2, 29, 23, 59, 29), Dos(2024, 2, 29, 23, 59, 29), "a valid value stays exactly"},
        {Dos(2099, 12, 31, 23, 59, 29), Dos(2099, 12, 31, 23, 59, 29), "the last valid value"},
    };
    for (const auto& c : cases) EXPECT_EQ(NormalizeDosDateTime(c.in), c.out) << c.what;

    TDateTime t = -1;
    ASSERT_TRUE(DosToDateTime(NormalizeDosDateTime(0), t));
    const DateTimeParts p = DecodeDateTime(t);
    EXPECT_EQ(p.year, 1980);
    EXPECT_EQ(p.month, 1);
    EXPECT_EQ(p.day, 1);
    EXPECT_EQ(p.hour + p.minute + p.second, 0);
}

TEST(DosDateTime, ConversionBothWays) {
    struct Case {
        uint32_t dos;
        bool valid;
    };
    const Case cases[] = {
        {Dos(1980, 1, 1, 0, 0, 0), true},   {Dos(2024, 2, 29, 23, 59, 29), true},
        {Dos(2023, 2, 29, 12, 0, 0), false},  // no such day
        {Dos(2024, 4, 31, 12, 0, 0), false},  {Dos(2024, 5, 17, 24, 0, 0), false},
        {Dos(2024, 5, 17, 12, 60, 0), false}, {Dos(2024, 5, 17, 12, 0, 30), false},
        {0, false},
    };
    for (const auto& c : cases) {
        TDateTime t = 0;
        EXPECT_EQ(DosToDateTime(c.dos, t), c.valid) << std::hex << c.dos;
        if (c.valid) {
            EXPECT_EQ(DateTimeToDos(t), c.dos) << std::hex << c.dos;
        }
    }
    TDateTime t = 0;
    ASSERT_TRUE(TryEncodeDateTime(2024, 5, 17, 13, 45, 33, t));
    EXPECT_EQ(DateTimeToDos(t), Dos(2024, 5, 17, 13, 45, 16));  // odd seconds round down
    ASSERT_TRUE(TryEncodeDateTime(1975, 6, 1, 10, 0, 0, t));
    EXPECT_EQ(DateTimeToDos(t), Dos(1980, 1, 1, 0, 0, 0));      // before 1980
    ASSERT_TRUE(TryEncodeDateTime(2150, 6, 1, 10, 0, 0, t));
    EXPECT_EQ(DateTimeToDos(t) >> 25, 127u);                     // year clamped to 2107
}

TEST(DateTimeValue, DayCountsAndFractions) {
    struct Case {
        int y, mo, d, h, mi, s;
        double value;
    };
    const Case cases[] = {
        {1899, 12, 30, 0, 0, 0, 0.0},  {1899, 12, 31, 12, 0, 0, 1.5}, {1900, 1, 1, 0, 0, 0, 2.0},
        {1980, 1, 1, 0, 0, 0, 29221.0}, {1899, 12, 29, 6, 0, 0, -1.25},  // before the epoch the time counts forward
        {2000, 2, 29, 18, 0, 0, 36585.75},
    };
    for (const auto& c : cases) {
        TDateTime t = 0;
        ASSERT_TRUE(TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, t));
        EXPECT_DOUBLE_EQ(t, c.value) << c.y << "-" << c.mo << "-" << c.d;
        const DateTimeParts p = DecodeDateTime(c.value);
        EXPECT_EQ(p.year, c.y);
        EXPECT_EQ(p.month, c.mo);
        EXPECT_EQ(p.day, c.d);
        EXPECT_EQ(p.hour, c.h);
    }
    TDateTime t = 0;
    EXPECT_FALSE(TryEncodeDateTime(1900, 2, 29, 0, 0, 0, t));  // 1900 was no leap year
    EXPECT_FALSE(TryEncodeDateTime(2024, 13, 1, 0, 0, 0, t));
    EXPECT_FALSE(TryEncodeDateTime(2024, 1, 1, 0, 0, 60, t));
    // A value a hair before midnight rounds to the next day, not to 24:00:00.
    const DateTimeParts p = DecodeDateTime(36585.0 - 1e-10);
    EXPECT_EQ(p.day, 29);
    EXPECT_EQ(p.hour, 0);
    EXPECT_EQ(p.millisecond, 0);
}

TEST(PercentOf, RoundsHalfToEvenAndCaps) {
    struct Case {
        int64_t part, whole;
        int percent;
    };
    const Case cases[] = {
        {1, 8, 12},   {3, 8, 38},  {5, 8, 62},   {7, 8, 88},  // halves go to the even neighbour
        {1, 200, 0},  {3, 200, 2}, {5, 200, 2},  {1, 3, 33}, {2, 3, 67},
        {0, 5, 0},    {5, 5, 100}, {200, 100, 100},           // capped
        {5, 0, 0},    {5, -1, 0},                             // no whole
        {4000000000LL, 8000000000LL, 50},                      // beyond 32 bits
    };
    for (const auto& c : cases) EXPECT_EQ(PercentOf(c.part, c.whole), c.percent) << c.part << "/" << c.whole;
}

}  // namespace
}  // namespace archive
