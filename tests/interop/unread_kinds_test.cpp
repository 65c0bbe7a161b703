// Archives of kinds we do not read, made by other tools: every one is reported for what it is (its
// method named, Zip64 refused as such), never as damage, by the archive check and by zbk alike. The
// kinds they would be mistaken for read as before.
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/reader/archive_check.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::HaveTool;
using testing_support::ShellQuote;
using testing_support::TempDir;

std::string Zbk() {
    const char* path = std::getenv("ZBK");
    return path ? path : testing_support::BinaryDir() + "/tools/zbk";
}

std::string Problems(const archive::CheckResult& r) {
    std::string text;
    for (const auto& p : r.problems) text += (text.empty() ? "" : "; ") + p.entry + ": " + p.what;
    return text;
}

TEST(UnreadKinds, EachIsToldForWhatItIs) {
    for (const char* tool : {"python3", "7z", "zip"})
        if (!HaveTool(tool)) GTEST_SKIP() << tool << " not installed";
    TempDir dir;
    const std::string q = ShellQuote(dir.Path());
    // Compressible, or the tools store it.
    ASSERT_EQ(testing_support::Run("cd " + q + " && python3 -c \"print('hello world ' * 5000)\" > a.txt").exitCode, 0);
    const std::string python = "cd " + q + " && python3 -c \"import zipfile as z; ";
    const std::string zip64 = ": This archive uses Zip64 records, which are not supported";
    const struct {
        const char* name;
        std::string make;
        std::string problems;  // "" when it reads whole
        int zbkExit;
        std::string zbkSays;
    } cases[] = {
        {"bzip2.zip", python + "z.ZipFile('bzip2.zip', 'w', z.ZIP_BZIP2).write('a.txt')\"",
         "a.txt: compression method BZip2 (12) is not supported", 1,
         "skipped (compression method BZip2 (12) is not supported): a.txt"},
        {"lzma.zip", python + "z.ZipFile('lzma.zip', 'w', z.ZIP_LZMA).write('a.txt')\"",
         "a.txt: compression method LZMA (14) is not supported", 1,
         "skipped (compression method LZMA (14) is not supported): a.txt"},
        {"deflate64.zip", "cd " + q + " && 7z a -tzip -mm=Deflate64 deflate64.zip a.txt",
         "a.txt: compression method Deflate64 (9) is not supported", 1,
         "skipped (compression method Deflate64 (9) is not supported): a.txt"},
        {"ppmd.zip", "cd " + q + " && 7z a -tzip -mm=PPMd ppmd.zip a.txt",
         "a.txt: compression method PPMd (98) is not supported", 1,
         "skipped (compression method PPMd (98) is not supported): a.txt"},
        {"aes.zip", "cd " + q + " && 7z a -tzip -mem=AES256 -psecret aes.zip a.txt",
         "a.txt: AES encryption is not supported", 1, "skipped (AES encryption is not supported): a.txt"},
        {"fz.zip", "cd " + q + " && zip -q -fz fz.zip a.txt", zip64, 2, "zbk" + zip64},
        {"fz-stream.zip", "cd " + q + " && zip -q -fz - - < a.txt > fz-stream.zip", zip64, 2, "zbk" + zip64},
        // A Zip64 block in a local header only: the directory holds every real value.
        {"local-zip64.zip",
         python + "f = z.ZipFile('local-zip64.zip', 'w', z.ZIP_DEFLATED).open('a.txt', 'w', force_zip64=True); "
                  "f.write(open('a.txt', 'rb').read()); f.close()\"",
         "", 0, ""},
        {"traditional.zip", "cd " + q + " && 7z a -tzip -mem=ZipCrypto -psecret traditional.zip a.txt",
         "a.txt: encrypted, no password", 1, "skipped (bad password): a.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto made = testing_support::Run(c.make);
        ASSERT_EQ(made.exitCode, 0) << made.output;
        const archive::CheckResult r = archive::CheckArchive(dir / c.name);
        EXPECT_EQ(Problems(r), c.problems);
        const auto zbk = testing_support::Run(ShellQuote(Zbk()) + " test " + ShellQuote(dir / c.name));
        EXPECT_EQ(zbk.exitCode, c.zbkExit) << zbk.output;
        EXPECT_NE(zbk.output.find(c.zbkSays), std::string::npos) << zbk.output;
        EXPECT_EQ(zbk.output.find("CRC"), std::string::npos) << zbk.output;
    }
}

}  // namespace
