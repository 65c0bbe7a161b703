// The writer with the compressor's worker threads gives what it gives on one thread: the same archive,
// byte for byte, and the same events in the same order with the same figures (each progress event marks
// a piece read): for a backup-like folder with files large enough to be shared out, and for a folder of
// small files that workers compress ahead of their turn, some of which change before it comes.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "archive/fs/fs.h"
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
    unsigned ahead = 0;
};

Made ZipWith(const TempDir& dir, unsigned threads, int level, const std::string& folder = "in", int files = 4,
             const std::function<void(const std::string&)>& onStart = {}) {
    const std::string name = dir / (folder + "-t" + std::to_string(threads) + "-" + std::to_string(level) + ".zip");
    TVCLZip zip;
    zip.SetCompressionThreads(threads);
    zip.PackLevel = level;
    zip.NoCompressList = {"*.jpg"};
    zip.SetZipName(name);
    zip.SetRootDir(dir / folder);
    zip.SetRelativePaths(true);
    zip.FilesList = {dir / (folder + "/*.*")};
    Made m;
    zip.OnStartZip = [&](TVCLZip*, const std::string& f, TZipHeaderInfo&, bool&) {
        m.events.push_back("start " + f);
        if (onStart) onStart(f);
    };
    zip.OnFilePercentDone = [&](TVCLUnZip*, int p) { m.events.push_back("file " + std::to_string(p)); };
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int p) { m.events.push_back("total " + std::to_string(p)); };
    zip.OnEndZip = [&](TVCLZip*, const std::string& f, int64_t u, int64_t c, int64_t) {
        m.events.push_back("end " + f + " " + std::to_string(u) + " " + std::to_string(c));
    };
    EXPECT_EQ(zip.Zip(), files);
    m.archive = ReadFile(name);
    m.ahead = zip.FilesCompressedAhead();
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
            dir / ("in-t2-" + std::to_string(level) + ".zip"), {{"DB.mdb", db}, {"notes.txt", ReadFile(dir / "in/notes.txt")},
                             {"noise.bin", ReadFile(dir / "in/noise.bin")}, {"small.ini", ReadFile(dir / "in/small.ini")}});
        EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    }
}

TEST(ParallelZip, SmallFilesCompressedAheadComeOutAsOnOneThread) {
    TempDir dir;
    // Sizes around the compressor's 32 KiB first read and up to just below what it shares out itself;
    // one file kept stored by name, one empty.
    const std::vector<size_t> sizes = {1, 3, 100, 32767, 32768, 32769, 70000, 300000, 1000000, (3u << 19) - 1,
                                       0, 5000, 65536, 9};
    std::map<std::string, std::string> contents;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const std::string name = "f" + std::to_string(10 + i) + (i == 7 ? ".jpg" : ".dat");
        std::string data = i % 3 == 0   ? testing_support::TextBytes(sizes[i], static_cast<uint32_t>(i))
                           : i % 3 == 1 ? testing_support::RandomBytes(sizes[i], static_cast<uint32_t>(i))
                                        : std::string(sizes[i], '\0');
        if (i % 3 == 2 && !data.empty()) data[data.size() / 2] = 'x';
        contents[name] = data;
    }
    // Each run starts from the same files; the first file's start changes two later files after they
    // were read ahead: one keeps its size, one grows.
    // Fixed times: the runs are compared byte for byte, headers included.
    const auto put = [&](const std::string& name, const std::string& data) {
        WriteFile(dir / ("small/" + name), data);
        fs::SetFileDosTime(dir / ("small/" + name), 0x5A214A21);
    };
    const auto writeAll = [&] {
        for (const auto& [name, data] : contents) put(name, data);
    };
    std::map<std::string, std::string> changed;
    const auto change = [&](const std::string& f) {
        if (!changed.empty()) return;
        for (const auto& [name, data] : contents) {
            if (f.find(name) != std::string::npos || data.size() < 100 || name.find(".jpg") != std::string::npos)
                continue;
            std::string now = data;
            if (changed.empty())
                now[now.size() / 3] ^= 0x55;
            else
                now += "more";
            changed[name] = now;
            put(name, now);
            if (changed.size() == 2) break;
        }
    };
    for (const int level : {1, 6, 9}) {
        SCOPED_TRACE(level);
        writeAll();
        changed.clear();
        const Made one = ZipWith(dir, 1, level, "small", static_cast<int>(sizes.size()), change);
        EXPECT_EQ(one.ahead, 0u);
        for (const unsigned threads : {2u, 8u}) {
            SCOPED_TRACE(threads);
            writeAll();
            changed.clear();
            const Made many = ZipWith(dir, threads, level, "small", static_cast<int>(sizes.size()), change);
            EXPECT_TRUE(one.archive == many.archive) << "archives differ";
            EXPECT_EQ(one.events, many.events);
            // Most files came from the workers; the two that changed did not.
            EXPECT_GE(many.ahead, 6u);
            EXPECT_LE(many.ahead, sizes.size() - 4);
        }
        ASSERT_EQ(changed.size(), 2u);
        std::map<std::string, std::string> expected = contents;
        for (const auto& [name, data] : changed) expected[name] = data;
        const auto problems = writer_testing::CheckWithOracles(
            dir / ("small-t8-" + std::to_string(level) + ".zip"),
            writer_testing::Contents(expected.begin(), expected.end()));
        EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    }
}

}  // namespace
}  // namespace archive
