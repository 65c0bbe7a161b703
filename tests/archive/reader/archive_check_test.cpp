// Reading an archive back whole: what each kind of damage is reported as, and the comparison of the
// directory read back with what was meant to be written.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "archive/reader/archive_check.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using archive::CheckedEntry;
using archive::CheckResult;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::ZipBuilder;
using testing_support::ZipEntryRecipe;

std::string Problems(const CheckResult& r) {
    std::string text;
    for (const auto& p : r.problems) text += (text.empty() ? "" : "; ") + p.entry + ": " + p.what;
    return text;
}

TEST(CheckArchive, ReportsEachKindOfDamage) {
    ZipBuilder good;
    good.Stored("DB/Logs.mdb", "logs").Stored("Config.ini", "[x]");
    const std::string intact = good.Build();

    ZipBuilder badCrc;
    ZipEntryRecipe bad;
    bad.name = "DB/Logs.mdb";
    bad.data = "logs";
    bad.crc = 0x1234;
    badCrc.Add(bad).Stored("Config.ini", "[x]");

    ZipBuilder locked;
    ZipEntryRecipe secret;
    secret.name = "secret.txt";
    secret.data = "hidden";
    secret.password = "pw";
    secret.encrypt = true;
    locked.Add(secret);

    std::string noLocalHeader = intact;
    noLocalHeader[0] = 'X';
    std::string otherName = intact;
    otherName[26] = static_cast<char>(otherName[26] + 1);  // the first local header's name length

    ZipBuilder cut;
    ZipEntryRecipe beyond;
    beyond.name = "DB/Logs.mdb";
    beyond.data = std::string(100, 'l');
    beyond.compressedSize = 90000;  // reaches past the end of the file
    beyond.uncompressedSize = 90000;
    cut.Add(beyond);

    // Kinds we do not read are told as such, not as damage.
    ZipBuilder bzip2;
    ZipEntryRecipe packed;
    packed.name = "DB/Logs.mdb";
    packed.data = "BZh91AY&SY";
    packed.method = 12;
    bzip2.Add(packed).Stored("Config.ini", "[x]");
    ZipBuilder aes;
    ZipEntryRecipe sealed = packed;
    sealed.method = 99;
    sealed.flags = 1;
    sealed.centralExtra = sealed.localExtra = std::string("\x01\x99\x07\x00\x02\x00" "AE\x03\x08\x00", 11);
    aes.Add(sealed);

    struct Case {
        const char* what;
        std::string bytes;
        bool opened;
        std::string problems;
    };
    const Case cases[] = {
        {"intact", intact, true, ""},
        {"bad CRC", badCrc.Build(), true, "DB/Logs.mdb: CRC or size mismatch"},
        {"encrypted", locked.Build(), true, "secret.txt: encrypted, no password"},
        {"local header overwritten", noLocalHeader, true, "DB/Logs.mdb: its local header is missing"},
        {"local header of another name", otherName, true,
         "DB/Logs.mdb: its local header names another file; "
         "DB/Logs.mdb: its data overlaps another entry's (a possible zip bomb)"},
        {"data cut short", cut.Build(), true, "DB/Logs.mdb: Premature end of file reached"},
        {"no archive", "just text, no end record", false, ": Not a valid zip file!"},
        {"bzip2", bzip2.Build(), true, "DB/Logs.mdb: compression method BZip2 (12) is not supported"},
        {"aes", aes.Build(), true, "DB/Logs.mdb: AES encryption is not supported"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir / "a.zip", c.bytes);
        const CheckResult r = archive::CheckArchive(dir / "a.zip");
        EXPECT_EQ(r.opened, c.opened) << c.what;
        EXPECT_EQ(Problems(r), c.problems) << c.what;
        EXPECT_EQ(r.Ok(), c.problems.empty()) << c.what;
        if (c.opened) {
            EXPECT_EQ(r.entries.front().name, std::string(c.what) == "encrypted" ? "secret.txt" : "DB/Logs.mdb");
        }
    }
}

// What has no end record is no archive, however empty; what is not a regular file is refused unread
// (/dev/zero would never end, a FIFO might never start). The end record alone is an empty archive.
TEST(CheckArchive, OnlyAFileWithAnEndRecordIsAnArchive) {
    TempDir dir;
    WriteFile(dir / "empty.zip", "");
    WriteFile(dir / "one.zip", "P");
    WriteFile(dir / "none.zip", ZipBuilder().Build());
    ASSERT_EQ(mkfifo((dir / "fifo.zip").c_str(), 0600), 0);
    // The FIFO has a writer (this test) while it is checked: a reader that opened it would not wait for one.
    const int writer = open((dir / "fifo.zip").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    testing_support::MakeDirs(dir / "folder.zip");
    const std::string notRegular = "\". Not a regular file";
    const struct {
        std::string path;
        std::string problem;  // "" for an archive
    } cases[] = {
        {dir / "empty.zip", "Not a valid zip file!"},
        {dir / "one.zip", "Not a valid zip file!"},
        {"/dev/null", "Cannot open file \"/dev/null" + notRegular},
        {"/dev/zero", "Cannot open file \"/dev/zero" + notRegular},
        {dir / "fifo.zip", "Cannot open file \"" + dir / "fifo.zip" + notRegular},
        {dir / "folder.zip", "Cannot open file \"" + dir / "folder.zip" + notRegular},
        {dir / "none.zip", ""},
    };
    for (const auto& c : cases) {
        for (const bool whole : {true, false}) {
            const CheckResult r = whole ? archive::CheckArchive(c.path) : archive::OpenArchive(c.path);
            EXPECT_EQ(r.Ok(), c.problem.empty()) << c.path;
            EXPECT_EQ(r.opened, c.problem.empty()) << c.path;
            EXPECT_EQ(Problems(r), c.problem.empty() ? "" : ": " + c.problem) << c.path;
            EXPECT_TRUE(r.entries.empty()) << c.path;
        }
    }
    close(writer);
}

TEST(CheckArchive, ComparesTheDirectoryReadBack) {
    const std::vector<CheckedEntry> written = {{"a.txt", 1, 2, 3, 0}, {"b.txt", 4, 5, 6, 40}};
    const struct {
        std::vector<CheckedEntry> found;
        std::string difference;
    } cases[] = {
        {written, ""},
        {{written[0]}, "b.txt: missing from the directory read back"},
        {{written[0], written[1], {"c.txt", 0, 0, 0, 90}}, "c.txt: in the directory read back, but never written"},
        {{written[1], written[0]}, "entry 1 is b.txt instead of a.txt"},
        {{written[0], {"b.txt", 4, 5, 7, 40}}, "b.txt: the directory read back differs from what was written"},
    };
    for (const auto& c : cases) EXPECT_EQ(archive::CompareEntries(written, c.found), c.difference);
}

}  // namespace
