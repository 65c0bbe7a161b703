// Extraction and testing with entries decoded ahead on worker threads: for every archive and mode of the
// table, runs with 2 and 8 threads must give exactly what the one-thread run gives: every event with its
// arguments in the same order (progress included), as many message pumps, the same files, the same
// return value or exception.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/errors.h"
#include "archive/reader/vcl_unzip.h"
#include "tests/archive/codec/codec_test_io.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using namespace archive;
using testing_support::RandomBytes;
using testing_support::ReadFile;
using testing_support::RecordingHost;
using testing_support::TempDir;
using testing_support::TextBytes;
using testing_support::WriteFile;
using testing_support::ZipBuilder;
using testing_support::ZipEntryRecipe;

ZipEntryRecipe Deflated(const std::string& name, const std::string& content, const std::string& stream) {
    ZipEntryRecipe e;
    e.name = name;
    e.data = stream;
    e.method = 8;
    e.plain = content;  // the CRC's source; `data` is what is stored
    e.uncompressedSize = static_cast<int64_t>(content.size());
    e.crc = codec_test::Crc(content);
    return e;
}

ZipEntryRecipe Stored(const std::string& name, const std::string& content) {
    ZipEntryRecipe e;
    e.name = name;
    e.data = content;
    return e;
}

struct Archives {
    std::string main, cutStored, cutDeflated;
};

// Every kind of entry the reader meets, small and larger than what a worker may hold, good and damaged.
Archives MakeArchives() {
    const std::string small = TextBytes(3000, 1), large = TextBytes((5 << 20) + 12345, 2);
    const std::string noisy = RandomBytes(4500000, 3), medium = TextBytes(100000, 4), empty;
    const std::string crcBad = TextBytes(70000, 6), shorter = TextBytes(60000, 7), longer = TextBytes(30000, 8);
    const std::string inner = TextBytes(5000, 10), cut = TextBytes(400000, 11);
    const auto s = codec_test::ZlibDeflateMany({{&small, 6, 0},
                                                {&large, 6, 0},
                                                {&noisy, 1, 0},
                                                {&medium, 9, 0},
                                                {&empty, 6, 0},
                                                {&crcBad, 6, 0},
                                                {&shorter, 6, 0},
                                                {&longer, 6, 0},
                                                {&inner, 6, 0},
                                                {&cut, 1, 0}});
    Archives a;
    ZipBuilder b;
    b.Add(Deflated("a.txt", small, s[0])).Add(Deflated("large.txt", large, s[1]));
    b.Add(Stored("stored.dat", RandomBytes(40000, 5))).Add(Deflated("noisy.bin", noisy, s[2]));
    b.Add(Deflated("medium.txt", medium, s[3])).Add(Deflated("empty.txt", empty, s[4])).Add(Stored("empty0", ""));
    ZipEntryRecipe badCrc = Deflated("badcrc.txt", crcBad, s[5]);
    badCrc.crc ^= 1;
    b.Add(badCrc);
    ZipEntryRecipe tooBig = Deflated("shorter.txt", shorter, s[6]);  // declares less than it holds
    tooBig.uncompressedSize = 35000;
    b.Add(tooBig);
    ZipEntryRecipe bigTooBig = Deflated("largeshort.txt", large, s[1]);  // the same, beyond a worker's share
    bigTooBig.uncompressedSize = (4 << 20) + 1000;
    b.Add(bigTooBig);
    ZipEntryRecipe tooSmall = Deflated("longer.txt", longer, s[7]);  // declares more than it holds
    tooSmall.uncompressedSize = 30100;
    b.Add(tooSmall);
    ZipEntryRecipe secret = Stored("secret.txt", TextBytes(20000, 9));
    secret.password = "pw";
    secret.encrypt = true;
    b.Add(secret);
    ZipEntryRecipe unknown = Stored("unknown.bin", "abcd");
    unknown.method = 99;
    b.Add(unknown);
    // Not a Deflate stream, and more than a block: decoded by a worker (smaller entries are decoded at their turn).
    ZipEntryRecipe garbage = Stored("garbage.bin", RandomBytes(50000, 12));
    garbage.method = 8;
    garbage.uncompressedSize = 90000;
    b.Add(garbage);
    ZipEntryRecipe folder;
    folder.name = "DB/";
    b.Add(folder).Add(Deflated("DB/inner.txt", inner, s[8]));
    for (int i = 0; i < 12; ++i) b.Add(Stored("many/f" + std::to_string(i), TextBytes(100 + 1000 * i, 20 + i)));
    a.main = b.Build();

    // The archive ends inside an entry's data: its compressed size reaches past the end of the file.
    auto cutArchive = [&](ZipEntryRecipe cutEntry) {
        ZipBuilder c;
        c.Add(Deflated("first.txt", small, s[0])).Add(Deflated("medium.txt", medium, s[3]));
        cutEntry.compressedSize = static_cast<int64_t>(cutEntry.data.size()) + (1 << 20);
        cutEntry.data.resize(cutEntry.data.size() / 3);
        c.Add(cutEntry).Add(Deflated("after.txt", small, s[0]));
        return c.Build();
    };
    a.cutStored = cutArchive(Stored("cut.dat", cut));
    a.cutDeflated = cutArchive(Deflated("cut.txt", cut, s[9]));
    return a;
}

struct Case {
    const char* what;
    const std::string Archives::*archive;
    bool test;
    bool allOrNothing;
    bool rename = false;      // OnStartUnZip moves a.txt into another folder
    int cancelAtPercent = 0;  // OnTotalPercentDone raises EUserCanceled from this percent on
    uint64_t diskLimit = 0;   // files cannot grow beyond this (a full disk)
};

struct Outcome {
    std::vector<std::string> events;
    std::map<std::string, std::string> tree;  // relative path -> content
    std::string result;
};

Outcome RunCase(const Case& c, const std::string& zipPath, unsigned threads) {
    TempDir dest;
    WriteFile(dest / "badcrc.txt", "old content");
    WriteFile(dest / "large.txt", "old large");
    RecordingHost host;
    TVCLUnZip z(&host);
    z.SetDecompressionThreads(threads);
    z.SetZipName(zipPath);
    z.SetDestDir(dest.Path());
    z.DoAll = true;
    z.RecreateDirs = true;
    z.OverwriteMode = Always;
    z.AllOrNothing = c.allOrNothing;
    z.Password = "pw";
    Outcome o;
    auto& ev = o.events;
    const std::string root = dest.Path() + "/";
    auto rel = [&](const std::string& name) { return name.rfind(root, 0) == 0 ? name.substr(root.size()) : name; };
    auto add = [&](std::string line) { ev.push_back(std::move(line)); };
    z.OnStartUnZipInfo = [&](TVCLUnZip*, int n, int64_t bytes, bool&) {
        add("info " + std::to_string(n) + " " + std::to_string(bytes));
    };
    z.OnFilePercentDone = [&](TVCLUnZip*, int p) { add("file% " + std::to_string(p)); };
    z.OnTotalPercentDone = [&](TVCLUnZip*, int p) {
        add("total% " + std::to_string(p));
        if (c.cancelAtPercent && p >= c.cancelAtPercent) throw EUserCanceled("cancelled");
    };
    z.OnStartUnZip = [&](TVCLUnZip*, int i, std::string& name, bool&) {
        add("start " + std::to_string(i) + " " + rel(name));
        if (c.rename && rel(name) == "a.txt") name = root + "moved/elsewhere/a-renamed.txt";
    };
    z.OnEndUnZip = [&](TVCLUnZip*, int i, const std::string& name) {
        add("end " + std::to_string(i) + " " + rel(name));
    };
    z.OnSkippingFile = [&](TVCLUnZip*, TSkipReason r, const std::string& name, int i, bool&) {
        add("skip " + std::to_string(r) + " " + std::to_string(i) + " " + rel(name));
    };
    z.OnBadPassword = [&](TVCLUnZip*, int i, std::string&) { add("badpassword " + std::to_string(i)); };
    z.OnBadCRC = [&](TVCLUnZip*, uint32_t calc, uint32_t stored, int i) {
        add("badcrc " + std::to_string(calc) + " " + std::to_string(stored) + " " + std::to_string(i));
    };
    z.OnBadSize = [&](TVCLUnZip*, int64_t decoded, int64_t declared, int i) {
        add("badsize " + std::to_string(decoded) + " " + std::to_string(declared) + " " + std::to_string(i));
    };
    z.OnUnZipComplete = [&](TVCLUnZip*, int n) { add("complete " + std::to_string(n)); };
    try {
        std::unique_ptr<testing_support::FileSizeLimit> limit;
        if (c.diskLimit) limit = std::make_unique<testing_support::FileSizeLimit>(c.diskLimit);
        o.result = std::to_string(c.test ? z.TestArchive() : z.UnZip());
    } catch (const std::exception& e) {
        o.result = std::string("raised: ") + e.what();
    }
    for (const auto& box : host.boxes) add("box " + box.caption + ": " + box.text);
    add("pumps " + std::to_string(host.pumps));  // once per input block, whoever decoded it
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest.Path())) {
        const std::string path = std::filesystem::relative(e.path(), dest.Path()).generic_string();
        o.tree[path] = e.is_regular_file() ? ReadFile(e.path().string()) : "<folder>";
    }
    return o;
}

TEST(ParallelExtract, SameEventsFilesAndResultsForEveryThreadCount) {
    const Archives archives = MakeArchives();
    TempDir dir;
    const Case cases[] = {
        {"test", &Archives::main, true, false},
        {"extract", &Archives::main, false, false},
        {"extract, all or nothing", &Archives::main, false, true},
        {"extract, a name moved by the handler", &Archives::main, false, false, true},
        {"extract, cancelled by the handler", &Archives::main, false, false, false, 60},
        {"extract, the disk fills up", &Archives::main, false, false, false, 0, 3 << 20},
        {"test, cut inside stored data", &Archives::cutStored, true, false},
        {"extract, cut inside stored data", &Archives::cutStored, false, false},
        {"test, cut inside deflated data", &Archives::cutDeflated, true, false},
        {"extract, cut inside deflated data", &Archives::cutDeflated, false, true},
    };
    for (const Case& c : cases) {
#ifdef _WIN32
        if (c.diskLimit) continue;  // Windows has no per-process file size limit to fill the disk with
#endif
        const std::string zipPath = dir / "archive.zip";
        WriteFile(zipPath, archives.*c.archive);
        const Outcome one = RunCase(c, zipPath, 1);
        for (const auto& [path, content] : one.tree)
            EXPECT_EQ(path.find(".zbk-"), std::string::npos) << c.what << ": scratch file left: " << path;
        for (unsigned threads : {2u, 8u}) {
            const Outcome many = RunCase(c, zipPath, threads);
            EXPECT_EQ(many.result, one.result) << c.what << ", threads " << threads;
            EXPECT_EQ(many.events, one.events) << c.what << ", threads " << threads;
            EXPECT_TRUE(many.tree == one.tree) << c.what << ", threads " << threads;
        }
        // The one-thread run itself did what the case is about.
        if (&c == &cases[1]) {
            EXPECT_EQ(one.tree.at("large.txt").size(), size_t{(5 << 20) + 12345});
            EXPECT_EQ(one.tree.at("badcrc.txt"), "old content");
            EXPECT_NE(std::find(one.events.begin(), one.events.end(), "box Zip Error: Unknown Compression Method"),
                      one.events.end());
        }
        if (c.rename) {
            EXPECT_EQ(one.tree.count("moved/elsewhere/a-renamed.txt"), 1u);
        }
        if (c.allOrNothing) {
            EXPECT_EQ(one.tree.at("large.txt"), "old large") << c.what;
        }
        if (c.cancelAtPercent || c.diskLimit || c.archive != &Archives::main) {
            EXPECT_EQ(one.result.rfind("raised: ", 0), 0u) << c.what << ": " << one.result;
        }
    }
}

}  // namespace
