// MS-DOS date and time in local time: conversion both ways across daylight-saving time, odd seconds,
// the 1980 floor, and file times written back without touching the access time.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "archive/fs/fs.h"
#include "tests/support/test_support.h"

namespace fs = archive::fs;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

constexpr uint32_t Dos(int y, int mo, int d, int h, int mi, int s) {
    return static_cast<uint32_t>((y - 1980) << 25 | mo << 21 | d << 16 | h << 11 | mi << 5 | s / 2);
}

// Every case runs in Vienna's zone: +1 in winter, +2 in summer.
class DosTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) saved_ = tz, hadTz_ = true;
        setenv("TZ", "Europe/Vienna", 1);
        tzset();
    }
    void TearDown() override {
        if (hadTz_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadTz_ = false;
};

TEST_F(DosTimeTest, ConvertsInLocalTime) {
    struct Case {
        std::time_t utc;
        uint32_t dos;
    } cases[] = {
        {1705314645, Dos(2024, 1, 15, 11, 30, 44)},  // 10:30:45 UTC, winter: +1, odd second rounded down
        {1721039444, Dos(2024, 7, 15, 12, 30, 44)},  // 10:30:44 UTC, summer: +2
        {315529200, Dos(1980, 1, 1, 0, 0, 0)},       // the first MS-DOS second, local midnight
        {1711846799, Dos(2024, 3, 31, 1, 59, 58)},   // last second before the spring change
        {1711846800, Dos(2024, 3, 31, 3, 0, 0)},     // first second after it
        {4354815599, Dos(2107, 12, 31, 23, 59, 58)}, // last representable second
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fs::DosFromTime(c.utc), c.dos) << c.utc;
        EXPECT_EQ(fs::TimeFromDos(c.dos), c.utc - (c.utc % 2)) << c.utc;
    }
}

TEST_F(DosTimeTest, ClampsOutsideTheRange) {
    const uint32_t first = Dos(1980, 1, 1, 0, 0, 0);
    EXPECT_EQ(fs::DosFromTime(0), first);                 // 1970
    EXPECT_EQ(fs::DosFromTime(315529199), first);         // 1979-12-31 23:59:59 local
    EXPECT_EQ(fs::DosFromTime(-86400 * 365), first);      // before 1970
    EXPECT_EQ(fs::DosFromTime(4354815600), Dos(2107, 12, 31, 23, 59, 58));  // 2108: no wrap to 1980
}

TEST_F(DosTimeTest, InvalidFieldsNormaliseAsMktimeDoes) {
    // 31 February 2023 is 3 March; 62 seconds are the next minute and 2 seconds.
    EXPECT_EQ(fs::DosFromTime(fs::TimeFromDos(Dos(2023, 2, 31, 12, 0, 0))), Dos(2023, 3, 3, 12, 0, 0));
    EXPECT_EQ(fs::DosFromTime(fs::TimeFromDos(Dos(2023, 5, 1, 12, 0, 0) | 31)), Dos(2023, 5, 1, 12, 1, 2));
}

TEST_F(DosTimeTest, FileTimesRoundTrip) {
    TempDir dir;
    const std::string file = dir / "Awards.DB";
    WriteFile(file, "x");
    timespec times[2]{};
    times[0].tv_sec = 1000000000;  // a recognisable access time
    times[1].tv_nsec = UTIME_OMIT;
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

    for (uint32_t dos : {Dos(2024, 1, 15, 11, 30, 44), Dos(2024, 7, 15, 12, 30, 58), Dos(1980, 1, 1, 0, 0, 0)}) {
        ASSERT_TRUE(fs::SetFileDosTime(dir / "awards.db", dos));
        EXPECT_EQ(fs::GetFileDosTime(dir / "AWARDS.db"), dos);
        EXPECT_EQ(fs::GetFileTime(file), fs::TimeFromDos(dos));
    }
    struct stat st {};
    stat(file.c_str(), &st);
    EXPECT_EQ(st.st_atime, 1000000000);

    // Folders carry times too.
    ASSERT_TRUE(fs::SetFileDosTime(dir.Path(), Dos(2020, 2, 29, 23, 59, 58)));
    EXPECT_EQ(fs::GetFileDosTime(dir.Path()), Dos(2020, 2, 29, 23, 59, 58));

    EXPECT_FALSE(fs::SetFileDosTime(dir / "missing", Dos(2020, 1, 1, 0, 0, 0)));
    EXPECT_FALSE(fs::GetFileDosTime(dir / "missing").has_value());
}

}  // namespace
