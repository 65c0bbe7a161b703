// Archives written by other tools (Info-ZIP zip, python3's zipfile, 7-Zip) extract byte-identically: every
// level, passwords, comments, folders, empty files, non-ASCII names, data descriptors, a thousand entries.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "archive/reader/vcl_unzip.h"
#include "tests/support/test_support.h"

namespace {

using namespace archive;
using testing_support::HaveTool;
using testing_support::ReadFile;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
namespace stdfs = std::filesystem;

// Relative path -> content ("/" at the end: a folder) of everything under root.
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : stdfs::recursive_directory_iterator(root)) {
        const std::string rel = stdfs::relative(e.path(), root).string();
        if (e.is_directory()) out[rel + "/"] = "";
        else out[rel] = ReadFile(e.path().string());
    }
    return out;
}

// A small logger-like folder: text, binary, empty files, an empty folder, nested folders.
void MakeSource(const std::string& src, int extraFiles = 0) {
    WriteFile(src + "/Settings.ini", "[Main]\nCall=N0CALL\n");
    WriteFile(src + "/DB/Awards.mdb", testing_support::RandomBytes(70000, 1) + std::string(50000, '\0'));
    WriteFile(src + "/DB/Logs.mdb", testing_support::TextBytes(300000, 2));
    WriteFile(src + "/DB/empty.dat", "");
    WriteFile(src + "/tmp/deep/er/still/x.reg", testing_support::TextBytes(5000, 3));
    testing_support::MakeDirs(src + "/EmptyFolder");
    for (int i = 0; i < extraFiles; ++i)
        WriteFile(src + "/many/f" + std::to_string(i) + ".txt", std::to_string(i) + testing_support::TextBytes(i % 300, i));
}

int Extract(const std::string& archive, const std::string& dest, const std::string& password = "") {
    TVCLUnZip z;
    z.SetZipName(archive);
    z.SetDestDir(dest);
    z.RecreateDirs = true;
    z.OverwriteMode = Always;
    z.DoAll = true;
    z.Password = password;
    int bad = 0;
    z.OnBadCRC = [&](TVCLUnZip*, uint32_t, uint32_t, int) { ++bad; };
    z.OnSkippingFile = [&](TVCLUnZip*, TSkipReason, const std::string&, int, bool&) { ++bad; };
    const int n = z.UnZip();
    EXPECT_EQ(bad, 0) << archive;
    return n;
}

int FileCount(const std::map<std::string, std::string>& tree) {
    int n = 0;
    for (const auto& [path, content] : tree) n += path.back() != '/';
    return n;
}

void ExpectSame(const std::string& src, const std::string& out, const std::string& what) {
    const auto expected = Tree(src);
    const auto actual = Tree(out);
    ASSERT_EQ(expected.size(), actual.size()) << what;
    for (const auto& [path, content] : expected) {
        const auto it = actual.find(path);
        ASSERT_NE(it, actual.end()) << what << ": " << path << " missing";
        EXPECT_TRUE(it->second == content) << what << ": " << path << " differs";
    }
}

TEST(InfoZipArchives, EveryLevelPasswordAndComment) {
    if (!HaveTool("zip")) GTEST_SKIP() << "zip not installed";
    TempDir dir;
    const std::string src = dir / "src";
    MakeSource(src);
    const int files = FileCount(Tree(src));
    struct Case {
        std::string options;
        std::string password;
    };
    std::vector<Case> cases;
    for (int level = 0; level <= 9; ++level) cases.push_back({"-" + std::to_string(level), ""});
    cases.push_back({"-6 -P secret", "secret"});
    cases.push_back({"-0 -P 'pass word'", "pass word"});
    for (const Case& c : cases) {
        const std::string archive = dir / "a.zip";
        stdfs::remove(archive);
        const auto made = testing_support::Run("cd " + ShellQuote(src) + " && zip -r -q " + c.options + " " + ShellQuote(archive) + " .");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const std::string out = dir / ("out" + std::to_string(&c - cases.data()));
        EXPECT_EQ(Extract(archive, out, c.password), files) << c.options;
        ExpectSame(src, out, "zip " + c.options);
    }

    // -z: the archive comment from standard input.
    const std::string commented = dir / "c.zip";
    ASSERT_EQ(testing_support::Run("cd " + ShellQuote(src) + " && echo 'made for the test' | zip -q -z " + ShellQuote(commented) +
                  " Settings.ini").exitCode, 0);
    TVCLUnZip z;
    z.SetZipName(commented);
    z.ReadCentralDirectory();
    EXPECT_EQ(z.ArchiveComment(), "made for the test");
    EXPECT_EQ(z.Count(), 1);
}

TEST(InfoZipArchives, AThousandEntries) {
    if (!HaveTool("zip")) GTEST_SKIP() << "zip not installed";
    TempDir dir;
    const std::string src = dir / "src";
    MakeSource(src, 1000);
    ASSERT_EQ(testing_support::Run("cd " + ShellQuote(src) + " && zip -r -q ../k.zip .").exitCode, 0);
    EXPECT_EQ(Extract(dir / "k.zip", dir / "out"), FileCount(Tree(src)));
    ExpectSame(src, dir / "out", "1000 entries");
}

TEST(PythonZipfileArchives, StoredDeflatedDescriptorsAndUtf8Names) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
    TempDir dir;
    const std::string src = dir / "src";
    MakeSource(src);
    WriteFile(src + "/\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt", "cyrillic name");  // "тест.txt"
    WriteFile(src + "/caf\xC3\xA9.ini", "cp437 name");                          // "café.ini"
    const int files = FileCount(Tree(src));
    // Written to a pipe, zipfile cannot seek back: every entry gets a data descriptor.
    const char* script = R"PY(
import os, sys, zipfile
src, target, method, level, pipe = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5] == "1"
out = sys.stdout.buffer if pipe else open(target, "wb")
with zipfile.ZipFile(out, "w", compression=method, compresslevel=level) as z:
    for root, dirs, names in os.walk(src):
        for d in dirs:
            p = os.path.join(root, d)
            if not os.listdir(p):
                z.write(p, os.path.relpath(p, src) + "/")
        for n in names:
            p = os.path.join(root, n)
            z.write(p, os.path.relpath(p, src))
)PY";
    WriteFile(dir / "make.py", script);
    struct Case {
        int method, level;
        bool pipe;
    };
    const Case cases[] = {{0, 0, false}, {8, 1, false}, {8, 6, false}, {8, 9, false}, {8, 6, true}, {0, 0, true}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string archive = dir / ("p" + std::to_string(n) + ".zip");
        const std::string cmd = "python3 " + ShellQuote(dir / "make.py") + " " + ShellQuote(src) + " " +
                                ShellQuote(archive) + " " + std::to_string(c.method) + " " + std::to_string(c.level) +
                                (c.pipe ? " 1 > " + ShellQuote(archive) : " 0");
        const auto made = testing_support::Run(cmd);
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const std::string out = dir / ("out" + std::to_string(n++));
        EXPECT_EQ(Extract(archive, out), files) << cmd;
        ExpectSame(src, out, cmd);
    }
}

TEST(SevenZipArchives, LevelsAndPassword) {
    if (!HaveTool("7z")) GTEST_SKIP() << "7z not installed";
    TempDir dir;
    const std::string src = dir / "src";
    MakeSource(src);
    const int files = FileCount(Tree(src));
    struct Case {
        std::string options, password;
    };
    const Case cases[] = {{"-mx=0", ""}, {"-mx=1", ""}, {"-mx=5", ""}, {"-mx=9", ""}, {"-mx=5 -psecret -mem=ZipCrypto", "secret"}};
    int n = 0;
    for (const Case& c : cases) {
        const std::string archive = dir / ("s" + std::to_string(n) + ".zip");
        const auto made = testing_support::Run("cd " + ShellQuote(src) + " && 7z a -tzip -bd " + c.options + " " + ShellQuote(archive) + " . > /dev/null");
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const std::string out = dir / ("out" + std::to_string(n++));
        EXPECT_EQ(Extract(archive, out, c.password), files) << c.options;
        ExpectSame(src, out, "7z " + c.options);
    }
}

}  // namespace
