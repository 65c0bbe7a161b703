// Name conversion: the system's OEM code page for names without the UTF-8 flag, the CP437 table against python's codec, the choice between CP437 and UTF-8, strict
// UTF-8 decoding, and the round-trip promise the writer relies on.
#include "archive/codepage/codepage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "archive/fs/fs.h"

#include "tests/support/test_support.h"

namespace archive::codepage {
namespace {

using testing_support::HaveTool;


std::string AllBytes() {
    std::string s;
    for (int b = 0; b < 256; ++b) s += static_cast<char>(b);
    return s;
}

TEST(Cp437, TableMatchesPythonCodec) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
    // python prints the UTF-8 of every byte 0x00-0xFF decoded as cp437, as hex.
    const auto r = testing_support::Run("python3 -c \"import sys; sys.stdout.write(bytes(range(256)).decode('cp437').encode('utf-8').hex())\"");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string ours = Cp437ToUtf8(AllBytes());
    std::string hex;
    for (unsigned char c : ours) {
        static const char* d = "0123456789abcdef";
        hex += d[c >> 4];
        hex += d[c & 15];
    }
    EXPECT_EQ(hex, r.output);
}

TEST(Cp437, EveryByteRoundTrips) {
    const std::string bytes = AllBytes();
    const std::string utf8 = Cp437ToUtf8(bytes);
    EXPECT_TRUE(FitsCp437(utf8));
    EXPECT_EQ(Utf8ToCp437(utf8), bytes);
    bool flag = true;
    EXPECT_EQ(ToArchive(utf8, false, flag), bytes);
    EXPECT_FALSE(flag);
    EXPECT_EQ(FromArchive(bytes, false), utf8);
}

TEST(Cp437, Choice) {
    struct Case {
        const char* name;
        bool utf8;
        std::string stored;
    };
    const Case cases[] = {
        {"DB/Readme.TXT", false, "DB/Readme.TXT"},
        {"", false, ""},
        {"caf\xC3\xA9.txt", false, "caf\x82.txt"},                       // é is 0x82
        {"\xC3\x84rger \xC2\xBD.dat", false, "\x8Erger \xAB.dat"},       // Ä and ½
        {"\xE2\x94\x82\xCF\x80\xC2\xA0", false, "\xB3\xE3\xFF"},         // box line, pi, no-break space
        {"Gr\xC3\xBC\xC3\x9F" "e_\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt", true,  // Grüße_тест: Cyrillic is not in 437
         "Gr\xC3\xBC\xC3\x9F" "e_\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt"},
        {"\xE2\x82\xAC.txt", true, "\xE2\x82\xAC.txt"},                  // the euro sign is not in 437
        {"\xF0\x9F\x93\xBB", true, "\xF0\x9F\x93\xBB"},                  // outside the basic plane
    };
    for (const auto& c : cases) {
        bool utf8 = !c.utf8;
        EXPECT_EQ(ToArchive(c.name, false, utf8), c.stored) << c.name;
        EXPECT_EQ(utf8, c.utf8) << c.name;
        EXPECT_EQ(FromArchive(c.stored, c.utf8), c.name) << c.name;
        EXPECT_EQ(FitsCp437(c.name), !c.utf8) << c.name;
    }
}

TEST(Cp437, ForcedUtf8KeepsTheText) {
    // Once an entry is marked UTF-8 its name stays UTF-8, even a name that would fit.
    bool utf8 = false;
    EXPECT_EQ(ToArchive("caf\xC3\xA9", true, utf8), "caf\xC3\xA9");
    EXPECT_TRUE(utf8);
}

TEST(Utf8, MalformedInputIsNotText) {
    // Each of these is refused as UTF-8: truncated, overlong, surrogate, beyond U+10FFFF, stray
    // continuation, Latin-1 byte.
    const char* bad[] = {"\xC3", "a\xE2\x82", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                         "\xF4\x90\x80\x80", "\x80", "caf\xE9.txt", "\xFF\xFE"};
    for (const char* s : bad) {
        EXPECT_FALSE(FitsCp437(s)) << testing::PrintToString(std::string(s));
        // Stored as the bytes they are, without the UTF-8 flag: every reader reads them as CP437.
        bool utf8 = true;
        EXPECT_EQ(ToArchive(s, false, utf8), s);
        EXPECT_FALSE(utf8);
        EXPECT_EQ(RoundTrip(s), Cp437ToUtf8(s));
    }
    EXPECT_EQ(Utf8ToCp437("a\xE9z"), "a?z");
    EXPECT_EQ(Utf8ToCp437("\xE2\x82\xAC"), "?");  // a character CP437 lacks is one '?', not three
}

TEST(RoundTripTest, IsWhatAReaderSees) {
    const std::string names[] = {"plain.txt",     "caf\xC3\xA9.txt", "Gr\xC3\xBC\xC3\x9F" "e_\xD1\x82.txt",
                                 "caf\xE9.txt",   "\xFF\xFE",        "DB/a\\b.txt",
                                 AllBytes()};
    for (const auto& name : names) {
        bool utf8 = false;
        const std::string stored = ToArchive(name, false, utf8);
        EXPECT_EQ(FromArchive(stored, utf8), RoundTrip(name)) << testing::PrintToString(name);
        // A second trip changes nothing.
        EXPECT_EQ(RoundTrip(RoundTrip(name)), RoundTrip(name));
    }
    EXPECT_EQ(RoundTrip("caf\xE9.txt"), "caf\xCE\x98.txt");  // 0xE9 reads as capital theta
    EXPECT_EQ(RoundTrip("Gr\xC3\xBC\xC3\x9F" "e"), "Gr\xC3\xBC\xC3\x9F" "e");
}

// Names without the UTF-8 flag are in the system's OEM code page where it has one: under a Russian
// Windows (CP866) a Cyrillic name is stored one byte a character, as that system's other programs
// store and read it; where the page is CP437 such a name does not fit and goes as UTF-8. The Windows
// run of the tests repeats this under a Russian locale (ZB_EXPECT_OEM=866).
TEST(OemCodePage, ACyrillicNameIsStoredInThePageWhenItFits) {
    const std::string name = "\xD0\x96\xD1\x83\xD1\x80\xD0\xBD\xD0\xB0\xD0\xBB.mdb";  // Журнал.mdb
    const auto high = fs::OemCodePageHigh();
    const bool russian = high && (*high)[0x86 - 0x80] == U'\u0416';
    if (const char* expected = std::getenv("ZB_EXPECT_OEM")) {
        EXPECT_EQ(std::string(expected) == "866", russian) << "the system's OEM code page is not the one expected";
    }
    bool flag = false;
    const std::string stored = ToArchive(name, false, flag);
    if (russian) {
        EXPECT_FALSE(flag);
        EXPECT_EQ(stored, "\x86\xE3\xE0\xAD\xA0\xAB.mdb");
    } else {
        EXPECT_TRUE(flag);
        EXPECT_EQ(stored, name);
    }
    EXPECT_EQ(FromArchive(stored, flag), name);
    EXPECT_EQ(RoundTrip(name), name);
}

// Every byte the page defines comes back as itself through a name and the archive; a byte it leaves
// undefined is never written for a character.
TEST(OemCodePage, EveryDefinedByteRoundTrips) {
    std::string defined;
    for (int b = 0x20; b < 0x100; ++b) {
        const std::string one(1, static_cast<char>(b));
        if (FromArchive(one, false) != "\xEF\xBF\xBD") defined += one;
    }
    const std::string name = FromArchive(defined, false);
    bool flag = true;
    EXPECT_EQ(ToArchive(name, false, flag), defined);
    EXPECT_FALSE(flag);
    bool replacement = true;
    EXPECT_EQ(ToArchive("\xEF\xBF\xBD", false, replacement), "\xEF\xBF\xBD");
    EXPECT_TRUE(replacement);
}

}  // namespace
}  // namespace archive::codepage
