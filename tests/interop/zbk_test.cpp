// The zbk driver: exit codes (0 only when every selected entry came out with its CRC), patterns, passwords,
// and what goes to standard error.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using testing_support::ReadFile;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::ZipBuilder;
using testing_support::ZipEntryRecipe;

std::string Zbk() {
    const char* path = std::getenv("ZBK");
    return path ? path : testing_support::BinaryDir() + "/tools/zbk";
}

testing_support::CommandResult Zbk(const std::string& args) { return testing_support::Run(ShellQuote(Zbk()) + " " + args); }

TEST(Zbk, ExitCodesFollowTheEntries) {
    TempDir dir;
    ZipBuilder good;
    good.Stored("DB/Awards.mdb", "awards").Stored("x.ini", "ini");
    WriteFile(dir / "good.zip", good.Build());
    ZipBuilder bad;
    ZipEntryRecipe broken;
    broken.name = "broken.txt";
    broken.data = "data";
    broken.crc = 7;
    bad.Stored("fine.txt", "fine").Add(broken);
    WriteFile(dir / "bad.zip", bad.Build());
    ZipBuilder locked;
    ZipEntryRecipe secret;
    secret.name = "secret.txt";
    secret.data = "hidden";
    secret.encrypt = true;
    secret.password = "pw";
    locked.Add(secret);
    WriteFile(dir / "locked.zip", locked.Build());
    const std::string q = ShellQuote(dir.Path());

    struct Case {
        std::string args;
        int exitCode;
        std::string outputHas;
    };
    const Case cases[] = {
        {"list " + q + "/good.zip", 0, "DB/Awards.mdb"},
        {"test " + q + "/good.zip", 0, ""},
        {"test " + q + "/bad.zip", 1, "bad CRC: broken.txt"},
        {"test " + q + "/locked.zip", 1, "skipped (bad password): secret.txt"},
        {"test " + q + "/locked.zip --password pw", 0, ""},
        {"extract " + q + "/good.zip " + q + "/out1", 0, ""},
        {"extract " + q + "/good.zip " + q + "/out2 'db/*' --recreate", 0, ""},
        {"extract " + q + "/good.zip " + q + "/out3 '*.none'", 1, "no entry matches"},
        {"extract " + q + "/bad.zip " + q + "/out4", 1, "bad CRC"},
        {"extract " + q + "/missing.zip " + q + "/out5", 2, "zbk: "},
        {"frobnicate", 2, "usage"},
    };
    for (const Case& c : cases) {
        const auto r = Zbk(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args << "\n" << r.output;
        EXPECT_NE(r.output.find(c.outputHas), std::string::npos) << c.args << "\n" << r.output;
    }
    EXPECT_EQ(ReadFile(dir / "out1/Awards.mdb"), "awards");
    EXPECT_EQ(ReadFile(dir / "out2/DB/Awards.mdb"), "awards");
    EXPECT_FALSE(testing_support::PathExists(dir / "out2/x.ini"));
    EXPECT_EQ(ReadFile(dir / "out4/fine.txt"), "fine");
}

// Names reach the terminal escaped, whole (not cut at a NUL), and refused for their control bytes.
TEST(Zbk, NamesAreShownEscapedAndWhole) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("\x1b[31mred.txt", "r").Stored(std::string("\0hidden.txt", 11), "h").Stored("plain.txt", "p");
    WriteFile(dir / "n.zip", b.Build());
    const auto list = Zbk("list " + ShellQuote(dir / "n.zip"));
    EXPECT_EQ(list.exitCode, 0) << list.output;
    EXPECT_NE(list.output.find("  \\x1B[31mred.txt\n"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("  \\x00hidden.txt\n"), std::string::npos) << list.output;
    for (const char* command : {"test ", "extract "}) {
        const std::string out = std::string(command) == "test " ? "" : " " + ShellQuote(dir / "out");
        const auto r = Zbk(command + ShellQuote(dir / "n.zip") + out);
        EXPECT_EQ(r.exitCode, 1) << command << r.output;
        EXPECT_NE(r.output.find("skipped (its name holds control characters): \\x1B[31mred.txt\n"), std::string::npos)
            << command << r.output;
        EXPECT_NE(r.output.find("skipped (its name holds control characters): \\x00hidden.txt\n"), std::string::npos)
            << command << r.output;
        EXPECT_EQ(r.output.find('\x1b'), std::string::npos) << command << r.output;
    }
    EXPECT_EQ(ReadFile(dir / "out/plain.txt"), "p");
    EXPECT_EQ(list.output.find('\x1b'), std::string::npos);
}

TEST(Zbk, MessageBoxesGoToStandardError) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe odd;
    odd.name = "odd.bin";
    odd.data = "x";
    odd.method = 9;
    b.Add(odd);
    WriteFile(dir / "m.zip", b.Build());
    const auto r = testing_support::Run(ShellQuote(Zbk()) + " test " + ShellQuote(dir / "m.zip") + " 2>&1 >/dev/null");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.output.find("Zip Error: Unknown Compression Method"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("skipped (compression method Deflate64 (9) is not supported): odd.bin"), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("bad CRC"), std::string::npos) << r.output;
}

}  // namespace
