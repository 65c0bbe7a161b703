// The zbk driver: exit codes (0 only when every selected entry came out with its CRC), patterns, passwords,
// and what goes to standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

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

// What extracting one small file costs in system calls, counted with strace on N and on 2N one-byte files
// (what a run costs whatever its size drops out of the difference): the look at its target, its scratch
// file made, one write, its time and attributes set, the rename and the close. A lock or a mark of each
// file, a hand-off to a worker thread, a second look at the same folder or file, or a read of the archive
// for each entry would show here.
TEST(Zbk, ExtractingASmallFileCostsFewSystemCalls) {
    if (!testing_support::HaveTool("strace")) GTEST_SKIP() << "strace is not installed (scripts/setup.sh installs it)";
    TempDir dir;
    if (testing_support::Run("strace -f -c -o " + ShellQuote(dir / "probe") + " true").exitCode != 0)
        GTEST_SKIP() << "strace cannot trace processes here";
    // The calls, by name, of extracting n one-byte files into an empty folder.
    auto calls = [&](int n) {
        ZipBuilder b;
        for (int i = 0; i < n; ++i) b.Stored("f" + std::to_string(i) + ".txt", "x");
        const std::string zip = dir / (std::to_string(n) + ".zip"), table = dir / (std::to_string(n) + ".calls");
        WriteFile(zip, b.Build());
        const auto r = testing_support::Run("strace -f -c -o " + ShellQuote(table) + " " + ShellQuote(Zbk()) + " extract " +
                                            ShellQuote(zip) + " " + ShellQuote(dir / ("out" + std::to_string(n))));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        // "% time, seconds, usecs/call, calls, [errors,] syscall"; the last row is the total.
        std::map<std::string, long> byName;
        std::istringstream lines(ReadFile(table));
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::vector<std::string> w;
            for (std::string word; words >> word;) w.push_back(word);
            if (w.size() >= 5 && w[3].find_first_not_of("0123456789") == std::string::npos) byName[w.back()] = std::stol(w[3]);
        }
        return byName;
    };
    const int n = 300;
    const auto few = calls(n), many = calls(2 * n);
    ASSERT_TRUE(few.count("total") && many.count("total"));
    auto perFile = [&](const std::vector<std::string>& names) {
        long more = 0;
        for (const std::string& name : names) {
            const auto a = many.find(name), b = few.find(name);
            more += (a == many.end() ? 0 : a->second) - (b == few.end() ? 0 : b->second);
        }
        return static_cast<double>(more) / n;
    };
    struct Budget {
        const char* what;
        std::vector<std::string> names;
        double most;  // per file
    };
    const Budget budgets[] = {
        {"every call (7 when this was written; Info-ZIP's unzip makes 9)", {"total"}, 9},
        {"looks at files and folders", {"newfstatat", "fstat", "stat", "lstat", "statx", "access", "readlink"}, 1},
        {"locks and duplicated descriptors", {"flock", "fcntl", "dup", "dup2", "dup3"}, 0},
        {"marks and attributes", {"fsetxattr", "fremovexattr", "fgetxattr", "setxattr", "getxattr", "lsetxattr"}, 1},
        {"hand-offs between threads", {"futex"}, 0},
        {"reads of the archive", {"read", "pread64", "lseek"}, 0},
    };
    std::string table;
    for (const auto& [name, count] : many)
        if (perFile({name}) > 0.02) table += " " + name + " " + std::to_string(perFile({name}));
    for (const Budget& budget : budgets)
        EXPECT_LE(perFile(budget.names), budget.most + 0.02) << budget.what << "; per file:" << table;
}

}  // namespace
