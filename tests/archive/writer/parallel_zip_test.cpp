// The writer with the compressor's worker threads gives what it gives on one thread: the same archive,
// byte for byte, and the same events in the same order with the same figures (each progress event marks
// a piece read), for a backup-like folder with files large enough to be shared out, at every lazy level.
#include <gtest/gtest.h>

#include "archive/writer/vcl_zip.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Made {
    std::string archive;
    std::vector<std::string> events;
};

Made ZipWith(const TempDir& dir, unsigned threads, int level) {
    const std::string name = dir / ("t" + std::to_string(threads) + "-" + std::to_string(level) + ".zip");
    TVCLZip zip;
    zip.SetCompressionThreads(threads);
    zip.PackLevel = level;
    zip.SetZipName(name);
    zip.SetRootDir(dir / "in");
    zip.SetRelativePaths(true);
    zip.FilesList = {dir / "in/*.*"};
    Made m;
    zip.OnStartZip = [&](TVCLZip*, const std::string& f, TZipHeaderInfo&, bool&) { m.events.push_back("start " + f); };
    zip.OnFilePercentDone = [&](TVCLUnZip*, int p) { m.events.push_back("file " + std::to_string(p)); };
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int p) { m.events.push_back("total " + std::to_string(p)); };
    zip.OnEndZip = [&](TVCLZip*, const std::string& f, int64_t u, int64_t c, int64_t) {
        m.events.push_back("end " + f + " " + std::to_string(u) + " " + std::to_string(c));
    };
    EXPECT_EQ(zip.Zip(), 4);
    m.archive = ReadFile(name);
    return m;
}

TEST(ParallelZip, SameArchiveAndEventsAsOneThread) {
    TempDir dir;
    // A database-like file (pages of records and zero runs), text, noise and a small file.
    std::string db;
    for (uint32_t page = 0; db.size() < (5u << 20); ++page) {
        std::string p = testing_support::TextBytes(1500 + page % 1000, page) + std::string(4096, '\0');
        p.resize(4096);
        db += page % 7 == 0 ? std::string(40000, '\0') : p;
    }
    WriteFile(dir / "in/DB.mdb", db);
    WriteFile(dir / "in/notes.txt", testing_support::TextBytes(3u << 20, 1));
    WriteFile(dir / "in/noise.bin", testing_support::RandomBytes(2u << 20, 2));
    WriteFile(dir / "in/small.ini", "[Settings]\nCall=DL1ABC\n");
    for (const int level : {5, 9}) {
        SCOPED_TRACE(level);
        const Made one = ZipWith(dir, 1, level);
        const Made two = ZipWith(dir, 2, level);
        EXPECT_TRUE(one.archive == two.archive) << "archives differ";
        EXPECT_EQ(one.events, two.events);
        const auto problems = writer_testing::CheckWithOracles(
            dir / ("t2-" + std::to_string(level) + ".zip"), {{"DB.mdb", db}, {"notes.txt", ReadFile(dir / "in/notes.txt")},
                             {"noise.bin", ReadFile(dir / "in/noise.bin")}, {"small.ini", ReadFile(dir / "in/small.ini")}});
        EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    }
}

}  // namespace
}  // namespace archive
