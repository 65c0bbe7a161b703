// What the writer makes, the other tools read: every level 0-9 over empty, tiny, repetitive, random and
// text data; encrypted entries; folders with folder entries; names outside ASCII. Info-ZIP unzip, 7-Zip
// and python3's zipfile each test the archive and extract it, and what they extract must be the bytes
// that went in.
#include <gtest/gtest.h>

#include "archive/writer/vcl_zip.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::HaveTool;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
using writer_testing::CheckWithOracles;
using writer_testing::Contents;
constexpr auto Shell = testing_support::Run;

bool HaveOracles() { return HaveTool("unzip") && HaveTool("7z") && HaveTool("python3"); }

// The data kinds every level is run over, by file name.
Contents Samples() {
    std::string mixed = testing_support::TextBytes(40000, 11);
    mixed += testing_support::RandomBytes(40000, 12);
    mixed += std::string(40000, '\0');
    mixed += testing_support::TextBytes(40000, 13);
    return {
        {"empty.dat", ""},
        {"letters.txt", "abcdefghij"},
        {"zeros.bin", std::string(100000, '\0')},
        {"random.bin", testing_support::RandomBytes(200000, 14)},
        {"text.txt", testing_support::TextBytes(300000, 15)},
        {"mixed.bin", mixed},
        {"one.txt", "x"},
        {"repeat.txt", std::string(70000, 'a') + "b"},
    };
}

void WriteSamples(const std::string& folder, const Contents& samples) {
    for (const auto& [name, content] : samples) WriteFile(folder + "/" + name, content);
}

TEST(WriterOracles, EveryLevelOverEveryKindOfData) {
    if (!HaveOracles()) GTEST_SKIP() << "unzip, 7z or python3 missing";
    TempDir dir;
    const Contents samples = Samples();
    WriteSamples(dir / "in", samples);
    for (int level = 0; level <= 9; ++level) {
        TVCLZip zip;
        zip.PackLevel = level;
        const std::string name = dir / ("level" + std::to_string(level) + ".zip");
        zip.SetZipName(name);
        zip.FilesList = {dir / "in/*.*"};
        ASSERT_EQ(zip.Zip(), static_cast<int>(samples.size())) << "level " << level;
        const auto problems = CheckWithOracles(name, samples);
        EXPECT_TRUE(problems.empty()) << "level " << level << ::testing::PrintToString(problems);
    }
}

TEST(WriterOracles, EncryptedEntriesOpenWithTheirPasswordOnly) {
    if (!HaveOracles()) GTEST_SKIP() << "unzip, 7z or python3 missing";
    TempDir dir;
    // Smaller than the level samples: python's zipfile decrypts in pure python.
    const Contents samples = {{"empty.dat", ""},
                              {"letters.txt", "abcdefghij"},
                              {"zeros.bin", std::string(30000, '\0')},
                              {"random.bin", testing_support::RandomBytes(20000, 16)},
                              {"text.txt", testing_support::TextBytes(40000, 17)}};
    WriteSamples(dir / "in", samples);
    for (const int level : {0, 1, 6, 9}) {
        TVCLZip zip;
        zip.PackLevel = level;
        zip.Password = "Zorvel pass 73";
        const std::string name = dir / ("enc" + std::to_string(level) + ".zip");
        zip.SetZipName(name);
        zip.FilesList = {dir / "in/*.*"};
        ASSERT_EQ(zip.Zip(), static_cast<int>(samples.size()));
        const auto listing = writer_testing::ReadListing(name);
        for (const auto& e : listing.entries) {
            EXPECT_EQ(e.Flags & 1, 1) << e.FileName();
            EXPECT_GE(e.CompressedSize, 12u) << e.FileName();
        }
        const auto problems = CheckWithOracles(name, samples, "Zorvel pass 73");
        EXPECT_TRUE(problems.empty()) << "level " << level << ::testing::PrintToString(problems);
        // A wrong password fails the header check.
        EXPECT_NE(Shell("unzip -tqq -P wrong " + ShellQuote(name)).exitCode, 0);
        EXPECT_NE(Shell("7z t -bd -pwrong " + ShellQuote(name)).exitCode, 0);
    }
}

TEST(WriterOracles, FoldersWithTheirEntriesAndRelativePaths) {
    if (!HaveOracles()) GTEST_SKIP() << "unzip, 7z or python3 missing";
    TempDir dir;
    const std::string root = dir / "root";
    WriteFile(root + "/top.txt", "top");
    WriteFile(root + "/DB/Logs.mdb", testing_support::RandomBytes(50000, 21) + std::string(30000, 'L'));
    WriteFile(root + "/DB/Old/old.mdb", testing_support::TextBytes(20000, 22));
    testing_support::MakeDirs(root + "/empty");
    WriteFile(root + "/.hidden/x.txt", "never walked");

    TVCLZip zip;
    zip.SetZipName(dir / "tree.zip");
    zip.SetRootDir(root);
    zip.SetRelativePaths(true);  // also StorePaths and Recurse
    zip.AddDirEntriesOnRecurse = true;
    zip.FilesList = {root + "/*.*", root + "/extra/"};
    testing_support::MakeDirs(root + "/extra");
    zip.Zip();
    const Contents expected = {
        {"extra/", ""},
        {"top.txt", "top"},
        {"DB/", ""},
        {"DB/Logs.mdb", testing_support::RandomBytes(50000, 21) + std::string(30000, 'L')},
        {"DB/Old/", ""},
        {"DB/Old/old.mdb", testing_support::TextBytes(20000, 22)},
        {"empty/", ""},
    };
    const auto problems = CheckWithOracles(dir / "tree.zip", expected);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(WriterOracles, NamesOutsideAsciiReadBackAsWritten) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 missing";
    TempDir dir;
    // The first fits code page 437 and is stored in it; the second does not and is stored as UTF-8.
    WriteFile(dir / "in/Grüße.txt", "cp437");
    WriteFile(dir / "in/日本.txt", "utf-8");
    TVCLZip zip;
    zip.SetZipName(dir / "names.zip");
    zip.FilesList = {dir / "in/*.txt"};
    ASSERT_EQ(zip.Zip(), 2);
    const auto listing = Shell("python3 -c " +
                               ShellQuote("import zipfile,sys\nz=zipfile.ZipFile(sys.argv[1])\n"
                                          "print(sorted((i.filename, bool(i.flag_bits & 0x800), z.read(i).decode()) "
                                          "for i in z.infolist()))") +
                               " " + ShellQuote(dir / "names.zip"));
    EXPECT_EQ(listing.output, "[('Grüße.txt', False, 'cp437'), ('日本.txt', True, 'utf-8')]\n");
    EXPECT_EQ(Shell("unzip -tqq " + ShellQuote(dir / "names.zip")).exitCode, 0);
    EXPECT_EQ(Shell("7z t -bd " + ShellQuote(dir / "names.zip")).exitCode, 0);
}

}  // namespace
}  // namespace archive
