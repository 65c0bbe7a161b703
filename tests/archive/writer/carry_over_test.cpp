// Carrying unchanged entries over from an earlier archive (TVCLZip::CarryOverFrom, writer/carry_over.h):
// which entries of which sources may stand for a file, always with the archive byte for byte the one a
// full compression makes; the events and bytes the same for every thread count, no file compressed
// ahead that is carried over; whether an archive holds exactly the files of a list (ArchiveHoldsFiles);
// and the compressor's output pinned to the generation the archives name.
#include <gtest/gtest.h>
#include <utime.h>

#include <functional>

#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/writer/carry_over.h"
#include "archive/writer/vcl_zip.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::ReadFile;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr time_t kStamp = 1577836800;  // 2020-01-01 00:00:00 UTC

void Stamp(const std::string& path) {
    utimbuf times{kStamp, kStamp};  // not const: the Windows C library takes it so
    ASSERT_EQ(::utime(path.c_str(), &times), 0) << path;
}

// A database-like file: pages of records and zero runs, large enough to be shared among workers.
std::string Pages(size_t bytes, uint32_t seed) {
    std::string db;
    for (uint32_t page = 0; db.size() < bytes; ++page) {
        std::string p = testing_support::TextBytes(1500 + (page * 7 + seed) % 1000, page + seed) + std::string(4096, '\0');
        p.resize(4096);
        db += p;
    }
    db.resize(bytes);
    return db;
}

struct Folder {
    TempDir dir;
    Folder() {
        Put("in/db.mdb", Pages(3u << 20, 1));
        Put("in/a.txt", testing_support::TextBytes(200000, 2));
        Put("in/b.ini", testing_support::TextBytes(3000, 3));
        Put("in/c.dat", Pages(20000, 4));
    }
    void Put(const std::string& name, const std::string& bytes) {
        WriteFile(dir / name, bytes);
        Stamp(dir / name);
    }
    // Changes one byte of a file, keeping its size and time.
    void ChangeByte(const std::string& name, size_t at) {
        std::string bytes = ReadFile(dir / name);
        bytes[at] = static_cast<char>(bytes[at] ^ 0x5A);
        Put(name, bytes);
    }
};

struct ZipSettings {
    int level = 6;
    bool note = true;  // the archive says how it was compressed
    std::string carryFrom;
    bool full = false;
    unsigned threads = 1;
    std::string password;
    std::vector<std::string> noCompress;
};

struct Made {
    std::string bytes;
    unsigned carried = 0;
    unsigned ahead = 0;
    std::vector<std::string> events;
};

Made ZipFolder(const Folder& f, const std::string& name, const ZipSettings& s) {
    const std::string path = f.dir / name;
    TVCLZip zip;
    zip.SetCompressionThreads(s.threads);
    zip.PackLevel = s.level;
    zip.Password = s.password;
    zip.NoCompressList = s.noCompress;
    zip.SetZipName(path);
    zip.NoteMaking = s.note;
    zip.CarryOverFrom = s.carryFrom;
    zip.CompressEveryFile = s.full;
    zip.SetRootDir(f.dir / "in");
    zip.SetRelativePaths(true);
    // In this order: the large file first, so that what its progress shows tells in the later totals.
    for (const char* name : {"db.mdb", "a.txt", "b.ini", "c.dat"}) zip.FilesList.push_back(f.dir / (std::string("in/") + name));
    Made m;
    zip.OnStartZip = [&](TVCLZip*, const std::string& file, TZipHeaderInfo&, bool&) { m.events.push_back("start " + file); };
    zip.OnFilePercentDone = [&](TVCLUnZip*, int p) { m.events.push_back("file " + std::to_string(p)); };
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int p) { m.events.push_back("total " + std::to_string(p)); };
    zip.OnEndZip = [&](TVCLZip*, const std::string& file, int64_t u, int64_t c, int64_t) {
        m.events.push_back("end " + file + " " + std::to_string(u) + " " + std::to_string(c));
    };
    EXPECT_EQ(zip.Zip(), 4) << name;
    m.bytes = ReadFile(path);
    m.carried = zip.FilesCarriedOver();
    m.ahead = zip.FilesCompressedAhead();
    return m;
}

// The compressed bytes of the entry `stored` in the archive at `path`: offset and length.
std::pair<size_t, size_t> DataOf(const std::string& path, const std::string& stored) {
    const writer_testing::Listing listing = writer_testing::ReadListing(path);
    for (const TZipHeaderInfo& e : listing.entries) {
        if (e.StoredName() != stored) continue;
        TZipHeaderInfo local;
        EXPECT_TRUE(writer_testing::ReadLocalHeader(path, e.LocalHeaderOffset, local));
        return {e.LocalHeaderOffset + 30u + local.FileNameLength + local.LocalExtraLength, e.CompressedSize};
    }
    ADD_FAILURE() << stored << " not in " << path;
    return {0, 0};
}

TEST(CarryOver, WhichSourceEntriesStandForAFile) {
    struct Case {
        const char* what;
        // Makes the source archive (named "source.zip") from the folder as it is first.
        std::function<void(Folder&)> source;
        // What changes in the folder after the source was made.
        std::function<void(Folder&)> change;
        ZipSettings now;
        unsigned carried;
    };
    const auto ours = [](ZipSettings s = {}) {
        return [s](Folder& f) { ZipFolder(f, "source.zip", s); };
    };
    const ZipSettings sixth;
    ZipSettings storingIni;
    storingIni.noCompress = {"*.ini"};
    ZipSettings encrypted;
    encrypted.password = "secret";
    ZipSettings fifth;
    fifth.level = 5;
    ZipSettings unnoted;
    unnoted.note = false;
    const auto nothing = [](Folder&) {};

    const std::vector<Case> cases = {
        {"unchanged", ours(), nothing, sixth, 4},
        {"one byte changed, same size and time", ours(), [](Folder& f) { f.ChangeByte("in/db.mdb", 1500000); }, sixth, 3},
        {"the last byte changed", ours(), [](Folder& f) { f.ChangeByte("in/a.txt", 199999); }, sixth, 3},
        {"the first byte changed", ours(), [](Folder& f) { f.ChangeByte("in/c.dat", 0); }, sixth, 3},
        {"grown by a byte", ours(), [](Folder& f) { f.Put("in/b.ini", ReadFile(f.dir / "in/b.ini") + "x"); }, sixth, 3},
        {"a damaged source entry",
         [](Folder& f) {
             ZipFolder(f, "source.zip", {});
             std::string bytes = ReadFile(f.dir / "source.zip");
             const auto [at, n] = DataOf(f.dir / "source.zip", "db.mdb");
             bytes[at + n / 2] = static_cast<char>(bytes[at + n / 2] ^ 0x10);
             WriteFile(f.dir / "source.zip", bytes);
         },
         nothing, sixth, 3},
        {"an encrypted source", ours(encrypted), nothing, sixth, 0},
        {"a source of another level", ours(fifth), nothing, sixth, 0},
        {"a source without the note", ours(unnoted), nothing, sixth, 0},
        {"stored in the source, deflated now", ours(storingIni), nothing, sixth, 3},
        {"deflated in the source, stored now", ours(), nothing, storingIni, 3},
        {"stored in the source and now", ours(storingIni), nothing, storingIni, 4},
        {"Info-ZIP's archive with the note",
         [](Folder& f) {
             const auto r = testing_support::Run("cd " + ShellQuote(f.dir / "in") + " && zip -6 -X -q ../source.zip db.mdb a.txt b.ini c.dat && "
                                "echo " + ShellQuote(writer::MakingNote(6)) + " | zip -z -q ../source.zip");
             ASSERT_EQ(r.exitCode, 0) << r.output;
         },
         nothing, sixth, 0},
        {"a source that does not open", [](Folder& f) { WriteFile(f.dir / "source.zip", "PK\x05\x06 not an archive"); },
         nothing, sixth, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder f;
        c.source(f);
        c.change(f);
        ZipSettings carrying = c.now;
        carrying.carryFrom = f.dir / "source.zip";
        ZipSettings full = c.now;
        full.full = true;
        full.carryFrom = carrying.carryFrom;
        const Made made = ZipFolder(f, "carried.zip", carrying);
        EXPECT_EQ(made.carried, c.carried);
        const Made compressed = ZipFolder(f, "full.zip", full);
        EXPECT_EQ(compressed.carried, 0u);
        EXPECT_TRUE(made.bytes == compressed.bytes) << "the archive differs from a full compression";
    }
}

TEST(CarryOver, EventsAndBytesAreThoseOfOneThreadAndNothingIsCompressedTwice) {
    // Two files unchanged (one large, one small), one changed in its last page: the comparison shows the
    // progress of the bytes it read, and compressing the file after all does not show them again.
    Folder f;
    ZipFolder(f, "source.zip", {});
    f.ChangeByte("in/db.mdb", (3u << 20) - 100);
    Made runs[2];
    for (unsigned threads : {1u, 2u}) {
        ZipSettings s;
        s.threads = threads;
        s.carryFrom = f.dir / "source.zip";
        runs[threads - 1] = ZipFolder(f, "t" + std::to_string(threads) + ".zip", s);
        EXPECT_EQ(runs[threads - 1].carried, 3u);
        // The small files are all carried over: none goes to a worker ahead of its turn.
        EXPECT_EQ(runs[threads - 1].ahead, 0u);
    }
    EXPECT_TRUE(runs[0].bytes == runs[1].bytes);
    EXPECT_EQ(runs[0].events, runs[1].events);

    // Each file's bytes count once in the total: at the end of every file it stands where it stands
    // after compressing every file.
    ZipSettings full;
    full.full = true;
    const Made compressed = ZipFolder(f, "full.zip", full);
    const auto totalsAtEnds = [](const std::vector<std::string>& events) {
        std::vector<std::string> totals;
        std::string last;
        for (const std::string& e : events) {
            if (e.rfind("total ", 0) == 0) last = e;
            if (e.rfind("end ", 0) == 0) totals.push_back(last);
        }
        return totals;
    };
    EXPECT_EQ(totalsAtEnds(runs[0].events), totalsAtEnds(compressed.events));

    int lastTotal = -1;
    int lastFile = -1;
    int fileEvents = 0;
    bool inDb = false;
    for (const std::string& e : runs[0].events) {
        if (e.rfind("start ", 0) == 0) {
            inDb = e.find("db.mdb") != std::string::npos;
            lastFile = -1;
        } else if (e.rfind("total ", 0) == 0) {
            const int p = std::stoi(e.substr(6));
            EXPECT_GE(p, lastTotal) << "the total went back";
            lastTotal = p;
        } else if (e.rfind("file ", 0) == 0) {
            const int p = std::stoi(e.substr(5));
            if (inDb) {
                EXPECT_GE(p, lastFile) << "db.mdb's progress went back";
                ++fileEvents;
            }
            lastFile = p;
        }
    }
    EXPECT_EQ(lastTotal, 100);
    EXPECT_GT(fileEvents, 10);
}

TEST(CarryOver, AnArchiveHoldsTheFilesOfAListOrNot) {
    struct Case {
        const char* what;
        std::function<void(Folder&)> change;
        bool holds;
    };
    const std::vector<Case> cases = {
        {"nothing changed", [](Folder&) {}, true},
        {"only a time changed", [](Folder& f) { WriteFile(f.dir / "in/b.ini", ReadFile(f.dir / "in/b.ini")); }, true},
        {"one byte changed, same size and time", [](Folder& f) { f.ChangeByte("in/db.mdb", 2000000); }, false},
        {"a file more", [](Folder& f) { f.Put("in/d.ini", "new"); }, false},
        {"a file less", [](Folder& f) { std::remove((f.dir / "in/c.dat").c_str()); }, false},
        {"a damaged entry",
         [](Folder& f) {
             std::string bytes = ReadFile(f.dir / "source.zip");
             const auto [at, n] = DataOf(f.dir / "source.zip", "a.txt");
             bytes[at + n / 3] = static_cast<char>(bytes[at + n / 3] ^ 0x01);
             WriteFile(f.dir / "source.zip", bytes);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Folder f;
        ZipFolder(f, "source.zip", {});
        c.change(f);
        TVCLZip zip;
        zip.SetRootDir(f.dir / "in");
        zip.SetRelativePaths(true);
        zip.FilesList = {f.dir / "in/*.*"};
        EXPECT_EQ(zip.ArchiveHoldsFiles(f.dir / "source.zip"), c.holds);
        EXPECT_EQ(zip.FilesList.size(), 1u) << "the list is left as it was";
    }
    TVCLZip zip;
    EXPECT_FALSE(zip.ArchiveHoldsFiles("/nonexistent/archive.zip"));
}

TEST(CarryOver, TheCompressorsOutputIsTheOneItsGenerationNames) {
    // The archives name kDeflateGeneration; an archive carried from must hold what the compressor writes
    // now. When this fails, the compressor writes other bytes than before: raise kDeflateGeneration in
    // writer/carry_over.h and put the new figures here.
    static_assert(writer::kDeflateGeneration == 1, "update the figures below with the generation");
    const uint32_t expected[10] = {0,          0xf3c39758, 0x07129da1, 0xe5e21a4c, 0x09ab9d43,
                                  0x6546bcd8, 0xc577b40c, 0x83cbc9ae, 0x0255d21f, 0x0255d21f};
    const std::string input = Pages(300000, 9) + testing_support::TextBytes(200000, 10) +
                              testing_support::RandomBytes(5000, 11);
    for (int level = 1; level <= 9; ++level) {
        SCOPED_TRACE(level);
        TempDir dir;
        WriteFile(dir / "in/f.bin", input);
        TVCLZip zip;
        zip.PackLevel = level;
        zip.SetZipName(dir / "f.zip");
        zip.SetRootDir(dir / "in");
        zip.SetRelativePaths(true);
        zip.FilesList = {dir / "in/f.bin"};
        ASSERT_EQ(zip.Zip(), 1);
        const std::string bytes = ReadFile(dir / "f.zip");
        const auto [at, n] = DataOf(dir / "f.zip", "f.bin");
        const uint32_t crc = ~codec::Update(0xFFFFFFFF, reinterpret_cast<const uint8_t*>(bytes.data()) + at, n);
        EXPECT_EQ(crc, expected[level]) << std::hex << "0x" << crc;
    }
}

}  // namespace
}  // namespace archive
