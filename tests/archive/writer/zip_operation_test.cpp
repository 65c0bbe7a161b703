// Writing new archives: what lands in the records (methods, flags, attributes, sizes), the events and their
// order, the progress figures, the backup application's own call, and the state of the component
// afterwards.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "archive/writer/vcl_zip.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using writer_testing::FolderNames;
using writer_testing::ReadListing;

uint32_t CrcOf(const std::string& s) { return codec::Crc32(s.data(), s.size()); }

TEST(ZipNewArchive, AListThatMatchesNothingGivesTheBareEndRecord) {
    TempDir dir;
    TVCLZip zip;
    zip.SetZipName(dir / "empty.zip");
    zip.FilesList = {"|" + dir / "*.nothing", "|" + dir / "absent/*.*"};
    bool startInfo = false;
    int completed = -1;
    zip.OnStartZipInfo = [&](TVCLZip*, int, int64_t, TEndCentral&, bool&) { startInfo = true; };
    zip.OnZipComplete = [&](TVCLZip*, int n) { completed = n; };
    EXPECT_EQ(zip.Zip(), 0);
    EXPECT_FALSE(startInfo);
    EXPECT_EQ(completed, 0);
    EXPECT_TRUE(zip.FilesList.empty());
    const std::string bytes = ReadFile(dir / "empty.zip");
    EXPECT_EQ(bytes, std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"empty.zip"});
}

TEST(ZipNewArchive, AnEmptyFileIsStoredWithZeroSizesAndRaisesNoProgress) {
    TempDir dir;
    WriteFile(dir / "empty.dat", "");
    TVCLZip zip;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "empty.dat"};
    int progress = 0;
    zip.OnFilePercentDone = [&](TVCLUnZip*, int) { ++progress; };
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int) { ++progress; };
    std::vector<int64_t> end;
    zip.OnEndZip = [&](TVCLZip*, const std::string&, int64_t u, int64_t c, int64_t size) { end = {u, c, size}; };
    EXPECT_EQ(zip.Zip(), 1);
    EXPECT_EQ(progress, 0);
    const auto listing = ReadListing(dir / "a.zip");
    ASSERT_TRUE(listing.ok);
    ASSERT_EQ(listing.entries.size(), 1u);
    const auto& e = listing.entries[0];
    EXPECT_EQ(e.Method, 0);
    EXPECT_EQ(e.CompressedSize, 0u);
    EXPECT_EQ(e.UncompressedSize, 0u);
    EXPECT_EQ(e.Crc32, 0u);
    EXPECT_EQ(e.InternalAttributes, 1);
    // OnEndZip: 0, 0 and the archive so far (the local header of "empty.dat": 30 + 9 bytes).
    EXPECT_EQ(end, (std::vector<int64_t>{0, 0, 39}));
}

TEST(ZipNewArchive, TenDistinctLettersAreStoredWhole) {
    TempDir dir;
    WriteFile(dir / "letters.txt", "abcdefghij");
    TVCLZip zip;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "letters.txt"};
    ASSERT_EQ(zip.Zip(), 1);
    const auto listing = ReadListing(dir / "a.zip");
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].Method, 0);
    EXPECT_EQ(listing.entries[0].CompressedSize, 10u);
    EXPECT_EQ(listing.entries[0].Crc32, CrcOf("abcdefghij"));
    EXPECT_NE(ReadFile(dir / "a.zip").find("abcdefghij"), std::string::npos);
}

TEST(ZipNewArchive, PackLevelZeroStoresEveryEntryAsBinary) {
    TempDir dir;
    const std::string text = testing_support::TextBytes(50000, 3);
    WriteFile(dir / "text.txt", text);
    WriteFile(dir / "zeros.bin", std::string(40000, '\0'));
    TVCLZip zip;
    zip.PackLevel = 0;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "text.txt", dir / "zeros.bin"};
    ASSERT_EQ(zip.Zip(), 2);
    const auto listing = ReadListing(dir / "a.zip");
    ASSERT_EQ(listing.entries.size(), 2u);
    for (const auto& e : listing.entries) {
        EXPECT_EQ(e.Method, 0) << e.FileName();
        EXPECT_EQ(e.InternalAttributes, 0) << e.FileName();
        EXPECT_EQ(e.CompressedSize, e.UncompressedSize) << e.FileName();
        EXPECT_EQ(e.Flags & 6, 0) << e.FileName();
    }
    EXPECT_EQ(listing.entries[0].Crc32, CrcOf(text));
}

TEST(ZipNewArchive, DeflateOptionBitsFollowTheLevel) {
    // Level: expected value of general-purpose bits 1-2.
    const std::pair<int, int> kLevels[] = {{1, 4}, {2, 4}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 2}, {9, 2}};
    TempDir dir;
    WriteFile(dir / "text.txt", testing_support::TextBytes(20000, 9));
    for (const auto& [level, bits] : kLevels) {
        TVCLZip zip;
        zip.PackLevel = level;
        const std::string name = dir / ("l" + std::to_string(level) + ".zip");
        zip.SetZipName(name);
        zip.FilesList = {dir / "text.txt"};
        ASSERT_EQ(zip.Zip(), 1);
        const auto listing = ReadListing(name);
        ASSERT_EQ(listing.entries.size(), 1u);
        EXPECT_EQ(listing.entries[0].Flags & 6, bits) << "level " << level;
        EXPECT_EQ(listing.entries[0].Method, 8) << "level " << level;
        TZipHeaderInfo local;
        ASSERT_TRUE(writer_testing::ReadLocalHeader(name, 0, local));
        EXPECT_EQ(local.Flags, listing.entries[0].Flags) << "level " << level;
        EXPECT_EQ(local.Crc32, listing.entries[0].Crc32) << "level " << level;
        EXPECT_EQ(local.CompressedSize, listing.entries[0].CompressedSize) << "level " << level;
    }
}

TEST(ZipNewArchive, FolderEntriesHaveNoDataAndTheFoldersTime) {
    TempDir dir;
    testing_support::MakeDirs(dir / "root/Sub");
    TVCLZip zip;
    zip.SetRootDir(dir / "root");
    zip.SetRelativePaths(true);
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "root/Sub/"};
    std::vector<int64_t> end;
    zip.OnEndZip = [&](TVCLZip*, const std::string&, int64_t u, int64_t c, int64_t s) { end = {u, c, s}; };
    ASSERT_EQ(zip.Zip(), 1);
    const auto listing = ReadListing(dir / "a.zip");
    ASSERT_EQ(listing.entries.size(), 1u);
    const auto& e = listing.entries[0];
    EXPECT_EQ(e.StoredName(), "Sub/");
    EXPECT_EQ(e.Method, 0);
    EXPECT_EQ(e.Crc32, 0u);
    EXPECT_EQ(e.CompressedSize, 0u);
    EXPECT_EQ(e.UncompressedSize, 0u);
    EXPECT_EQ(e.InternalAttributes, 0);
    EXPECT_EQ(e.ExternalAttributes, 0x20u);
    EXPECT_EQ(e.DateTime, *fs::GetFileDosTime(dir / "root/Sub"));
    EXPECT_EQ(end, (std::vector<int64_t>{0, 0, 0}));
}

// The backup application's own call: twelve "|" entries under the logger folder, RootDir, RelativePaths,
// a new ZipName, level 6.
struct LoggerFolder {
    TempDir dir;
    std::string log;  // logger folder with one trailing '/'
    std::vector<std::pair<std::string, std::string>> files;  // relative path, content

    LoggerFolder() {
        log = dir / "Log/";
        Add("tmp/zorvel3_Registry.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\Software\\ZORVEL_log3]\r\n");
        Add("tmp/ZORVEL_server_Registry.reg", "REGEDIT4\r\n");
        Add("DB/Awards.mdb", testing_support::RandomBytes(70000, 1) + std::string(50000, 'A'));
        Add("DB/Logs.mdb", testing_support::TextBytes(90000, 2));
        Add("DB/README", "no extension");
        Add("DB/Old/ignored.mdb", "subfolder");
        Add("Config.ini", "[main]\r\nx=1\r\n");
        Add("LanguageFile.ini", "[lang]\r\n");  // matched by *.ini and LanguageFile*
        Add("Card.qsl", "qsl");
        Add("History.txt", testing_support::TextBytes(5000, 4));
        Add("sub/x.txt", "not included");
        Add("Band.dat", "");
    }
    void Add(const std::string& rel, const std::string& content) {
        WriteFile(log + rel, content);
        files.emplace_back(rel, content);
    }
    std::vector<std::string> List() const {
        std::vector<std::string> list;
        for (const char* p : {"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg", "DB/*.*", "*.ini",
                              "*.qsl", "*.aal", "LanguageFile*", "*.dat", "*.txt", "*.md", "*.lyr", "*.sys"})
            list.push_back("|" + log + p);
        return list;
    }
};

TEST(ZipNewArchive, TheBackupApplicationsCall) {
    LoggerFolder logger;
    const std::string backups = logger.dir / "Backup";
    testing_support::MakeDirs(backups);
    const std::string zipName = backups + "/zorvel3_20240101120000.zip";
    const std::string systemTemp = fs::TempDirectory();
    auto zbkFilesIn = [](const std::string& folder) {
        int n = 0;
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (e.path().filename().string().rfind("zbk", 0) == 0) ++n;
        return n;
    };
    const int systemTempBefore = zbkFilesIn(systemTemp);

    TVCLZip zip;
    zip.SetStorePaths(true);
    zip.ZipAction = zaReplace;
    zip.SetZipName(zipName);
    zip.FilesList = logger.List();
    zip.Recurse = true;
    zip.SetRootDir(logger.log);
    zip.SetRelativePaths(true);

    std::vector<std::string> ended;
    std::vector<int64_t> sizesSoFar;
    std::vector<std::pair<int, std::string>> skipped;
    zip.OnEndZip = [&](TVCLZip*, const std::string& f, int64_t u, int64_t, int64_t size) {
        ended.push_back(f);
        sizesSoFar.push_back(size);
        EXPECT_EQ(u, static_cast<int64_t>(*fs::GetFileSize(f)));
        // While writing: the archive's own temporary file beside it, nothing under its final name,
        // nothing in the system's temporary folder.
        const auto names = FolderNames(logger.dir / "Backup");
        ASSERT_EQ(names.size(), 1u);
        EXPECT_TRUE(fs::IsScratchName(names[0])) << names[0];
        EXPECT_EQ(zbkFilesIn(systemTemp), systemTempBefore);
    };
    zip.OnSkippingFile = [&](TVCLUnZip*, TSkipReason reason, const std::string& f, int index, bool&) {
        skipped.emplace_back(static_cast<int>(reason), f);
        EXPECT_EQ(index, -1);
    };
    int completed = -1;
    zip.OnZipComplete = [&](TVCLZip*, int n) { completed = n; };
    const int added = zip.Zip();

    const std::vector<std::string> expectedNames = {
        "tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg", "DB/Awards.mdb", "DB/Logs.mdb", "DB/README",
        "Config.ini", "LanguageFile.ini", "Card.qsl", "Band.dat", "History.txt"};
    EXPECT_EQ(added, static_cast<int>(expectedNames.size()));
    EXPECT_EQ(completed, added);
    EXPECT_EQ(FolderNames(backups), std::vector<std::string>{"zorvel3_20240101120000.zip"});
    const auto listing = ReadListing(zipName);
    ASSERT_TRUE(listing.ok);
    std::vector<std::string> stored;
    for (const auto& e : listing.entries) stored.push_back(e.StoredName());
    // Order within DB/ is the folder's listing order; compare that part as a set.
    std::vector<std::string> a = stored, b = expectedNames;
    std::sort(a.begin() + 2, a.begin() + 5);
    std::sort(b.begin() + 2, b.begin() + 5);
    EXPECT_EQ(a, b);
    // The second occurrence of LanguageFile.ini (from "LanguageFile*") is skipped with reason 1.
    ASSERT_EQ(skipped.size(), 1u);
    EXPECT_EQ(skipped[0].first, skNotOverwritten);
    EXPECT_EQ(skipped[0].second, logger.log + "LanguageFile.ini");
    // OnEndZip with full paths, and the archive size so far growing.
    ASSERT_EQ(ended.size(), expectedNames.size());
    EXPECT_EQ(ended[0], logger.log + "tmp/zorvel3_Registry.reg");
    EXPECT_TRUE(std::is_sorted(sizesSoFar.begin(), sizesSoFar.end()));
    EXPECT_EQ(static_cast<uint32_t>(sizesSoFar.back()), listing.end.CentralOffset);
    EXPECT_EQ(zbkFilesIn(systemTemp), systemTempBefore);

    writer_testing::Contents expected;
    for (const auto& [rel, content] : logger.files)
        if (std::find(expectedNames.begin(), expectedNames.end(), rel) != expectedNames.end()) expected[rel] = content;
    const auto problems = writer_testing::CheckWithOracles(zipName, expected);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(ZipNewArchive, EventsComeInTheirOrderAndProgressFollowsTheRule) {
    TempDir dir;
    WriteFile(dir / "a.bin", testing_support::RandomBytes(100000, 5));
    WriteFile(dir / "b.bin", testing_support::RandomBytes(30000, 6));
    TVCLZip zip;
    zip.PackLevel = 0;  // 16000-byte pieces: predictable figures
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "a.bin", dir / "missing.bin", dir / "b.bin"};
    std::vector<std::string> events;
    zip.OnNoSuchFile = [&](TVCLZip*, const std::string& f) { events.push_back("NoSuchFile " + f); };
    zip.OnStartZipInfo = [&](TVCLZip*, int n, int64_t total, TEndCentral&, bool&) {
        events.push_back("StartZipInfo " + std::to_string(n) + " " + std::to_string(total));
    };
    zip.OnStartZip = [&](TVCLZip*, const std::string& f, TZipHeaderInfo&, bool&) {
        events.push_back("StartZip " + fs::ExtractFileName(f));
    };
    zip.OnFilePercentDone = [&](TVCLUnZip*, int p) { events.push_back("File " + std::to_string(p)); };
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int p) { events.push_back("Total " + std::to_string(p)); };
    zip.OnEndZip = [&](TVCLZip*, const std::string& f, int64_t, int64_t, int64_t) {
        events.push_back("EndZip " + fs::ExtractFileName(f));
    };
    zip.OnZipComplete = [&](TVCLZip*, int n) { events.push_back("ZipComplete " + std::to_string(n)); };
    ASSERT_EQ(zip.Zip(), 2);

    std::vector<std::string> expected = {"NoSuchFile " + dir / "missing.bin", "StartZipInfo 2 130000",
                                         "StartZip a.bin"};
    // a.bin: 100000 bytes in pieces of 16000; total 130000.
    for (int64_t done = 16000;; done += 16000) {
        const int64_t d = std::min<int64_t>(done, 100000);
        expected.push_back("File " + std::to_string(PercentOf(d, 100000)));
        expected.push_back("Total " + std::to_string(PercentOf(d, 130000)));
        if (d == 100000) break;
    }
    expected.push_back("EndZip a.bin");
    expected.push_back("StartZip b.bin");
    for (int64_t done = 16000;; done += 16000) {
        const int64_t d = std::min<int64_t>(done, 30000);
        expected.push_back("File " + std::to_string(PercentOf(d, 30000)));
        expected.push_back("Total " + std::to_string(PercentOf(100000 + d, 130000)));
        if (d == 30000) break;
    }
    expected.push_back("EndZip b.bin");
    expected.push_back("ZipComplete 2");
    EXPECT_EQ(events, expected);
}

TEST(ZipNewArchive, SkippedFilesLeaveTheTotalAndProgressStillReachesAHundred) {
    TempDir dir;
    WriteFile(dir / "keep.bin", testing_support::RandomBytes(40000, 7));
    WriteFile(dir / "skip.bin", testing_support::RandomBytes(60000, 8));
    TVCLZip zip;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "keep.bin", dir / "skip.bin", dir / "keep.bin"};
    int last = -1;
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int p) { last = p; };
    zip.OnStartZip = [&](TVCLZip*, const std::string& f, TZipHeaderInfo& h, bool& skip) {
        skip = fs::ExtractFileName(f) == "skip.bin";
        h.SetComment(std::string("added by the handler"));
    };
    ASSERT_EQ(zip.Zip(), 1);
    EXPECT_EQ(last, 100);
    const auto listing = ReadListing(dir / "a.zip");
    ASSERT_EQ(listing.entries.size(), 1u);
    EXPECT_EQ(listing.entries[0].FileName(), "keep.bin");
    EXPECT_EQ(listing.entries[0].CommentLength, std::string("added by the handler").size());
}

TEST(ZipNewArchive, StopNowCancelsWithoutLeavingAFile) {
    TempDir dir;
    WriteFile(dir / "a.txt", "hello");
    TVCLZip zip;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "a.txt"};
    zip.SortMode = ByName;
    zip.KeepZipOpen = false;
    bool completed = false;
    zip.OnStartZipInfo = [&](TVCLZip* z, int n, int64_t total, TEndCentral&, bool& stop) {
        EXPECT_EQ(n, 1);
        EXPECT_EQ(total, 5);
        EXPECT_EQ(z->SortMode, ByNone);
        EXPECT_TRUE(z->KeepZipOpen);
        stop = true;
    };
    zip.OnZipComplete = [&](TVCLZip*, int) { completed = true; };
    try {
        zip.Zip();
        FAIL() << "no exception";
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled Zip operation");
    }
    EXPECT_FALSE(completed);
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(zip.FilesList.empty());
    EXPECT_EQ(zip.SortMode, ByName);
    EXPECT_FALSE(zip.KeepZipOpen);
    EXPECT_FALSE(zip.Busy());
}

TEST(ZipNewArchive, AFileThatCannotBeOpenedIsSkippedWithReasonTwoAndMayBeRetried) {
    TempDir dir;
    WriteFile(dir / "a.txt", "first");
    // A socket exists but cannot be opened for reading, whoever we are.
    const std::string socketPath = dir / "b.txt";
    const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(s);

    for (const bool retry : {false, true}) {
        TVCLZip zip;
        const std::string name = dir / (retry ? "retry.zip" : "skip.zip");
        zip.SetZipName(name);
        zip.FilesList = {dir / "a.txt", socketPath};
        std::vector<std::string> calls;
        zip.OnSkippingFile = [&](TVCLUnZip*, TSkipReason reason, const std::string& f, int index, bool& again) {
            calls.push_back(std::to_string(reason) + " " + f + " " + std::to_string(index));
            if (retry) {
                // The handler makes the file readable and asks for another try.
                ::unlink(socketPath.c_str());
                WriteFile(socketPath, "second");
                again = true;
            }
        };
        EXPECT_EQ(zip.Zip(), retry ? 2 : 1);
        EXPECT_EQ(calls, std::vector<std::string>{"2 " + socketPath + " -1"});
        EXPECT_EQ(ReadListing(name).entries.size(), retry ? 2u : 1u);
    }
}

TEST(ZipNewArchive, ResetArchiveBitClearsItBeforeOnEndZip) {
    TempDir dir;
    WriteFile(dir / "a.txt", "hello");
    // Where the file system keeps no extended attributes the archive bit cannot be cleared at all.
    ASSERT_TRUE(fs::SetAttributes(dir / "a.txt", 0x20 | 0x04));
    if (*fs::GetAttributes(dir / "a.txt") != (0x20u | 0x04u)) GTEST_SKIP() << "no user.DOSATTRIB here";
    TVCLZip zip;
    zip.ResetArchiveBitOnZip = true;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "a.txt"};
    uint32_t seen = 0;
    zip.OnEndZip = [&](TVCLZip*, const std::string& f, int64_t, int64_t, int64_t) { seen = *fs::GetAttributes(f); };
    ASSERT_EQ(zip.Zip(), 1);
    EXPECT_EQ(seen, 0x04u);
    EXPECT_EQ(ReadListing(dir / "a.zip").entries[0].ExternalAttributes, 0x24u);
}

TEST(ZipNewArchive, DisposeDeletesSourcesOnlyOnceTheArchiveIsInPlace) {
    for (const bool skip : {false, true}) {
        TempDir dir;
        WriteFile(dir / "a.txt", "alpha");
        WriteFile(dir / "b.txt", "beta");
        TVCLZip zip;
        zip.Dispose = true;
        zip.SetZipName(dir / "a.zip");
        zip.FilesList = {dir / "a.txt", dir / "b.txt"};
        std::vector<std::string> order;
        zip.OnDisposeFile = [&](TVCLZip*, const std::string& f, bool& s) {
            order.push_back("Dispose " + fs::ExtractFileName(f));
            EXPECT_EQ(ReadListing(dir / "a.zip").entries.size(), 2u);  // complete, under its name
            s = skip;
        };
        zip.OnZipComplete = [&](TVCLZip*, int) { order.push_back("Complete"); };
        ASSERT_EQ(zip.Zip(), 2);
        EXPECT_EQ(order, (std::vector<std::string>{"Dispose a.txt", "Dispose b.txt", "Complete"}));
        EXPECT_EQ(PathExists(dir / "a.txt"), skip);
        EXPECT_EQ(PathExists(dir / "b.txt"), skip);
    }
}

TEST(ZipNewArchive, TheNewArchiveBecomesTheLoadedDirectory) {
    TempDir dir;
    WriteFile(dir / "b.txt", "bravo");
    WriteFile(dir / "a.txt", "alpha");
    TVCLZip zip;
    zip.SortMode = ByName;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "b.txt", dir / "a.txt"};
    ASSERT_EQ(zip.Zip(), 2);
    EXPECT_EQ(zip.SortMode, ByName);
    ASSERT_EQ(zip.Count(), 2);
    EXPECT_EQ(zip.EntryName(0), "a.txt");  // the view sorted by name
    EXPECT_EQ(zip.EntryName(1), "b.txt");

    // The directory is not read again: spoil the central directory on disk but keep size and time; a
    // second read would fail.
    const std::string path = dir / "a.zip";
    const auto when = std::filesystem::last_write_time(path);
    std::string bytes = ReadFile(path);
    const auto listing = ReadListing(path);
    bytes[listing.end.CentralOffset] = 'X';
    WriteFile(path, bytes);
    std::filesystem::last_write_time(path, when);
    zip.ReadCentralDirectory();
    EXPECT_EQ(zip.Count(), 2);
}

TEST(ZipNewArchive, TheArchiveNeverHoldsItself) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    TVCLZip zip;
    zip.SetZipName(dir / "self.zip");
    zip.FilesList = {dir / "a.txt"};
    ASSERT_EQ(zip.Zip(), 1);
    // Rebuild with the archive listed by wildcard and by name.
    zip.FilesList = {dir / "*.*", dir / "self.zip"};
    zip.Zip();
    const auto listing = ReadListing(dir / "self.zip");
    ASSERT_TRUE(listing.ok);
    for (const auto& e : listing.entries) EXPECT_NE(e.FileName(), "self.zip");
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "self.zip"}));
}


TEST(ZipNewArchive, NoCompressListStoresAndExcludeListLeavesOut) {
    TempDir dir;
    const std::string text = testing_support::TextBytes(30000, 10);
    WriteFile(dir / "in/photo.JPG", text);
    WriteFile(dir / "in/notes.txt", text);
    WriteFile(dir / "in/old.bak", text);
    TVCLZip zip;
    zip.SetZipName(dir / "a.zip");
    zip.NoCompressList = {"*.jpg"};
    zip.ExcludeList = {"*.bak"};
    zip.FilesList = {dir / "in/*.*"};
    ASSERT_EQ(zip.Zip(), 2);
    for (const auto& e : ReadListing(dir / "a.zip").entries) {
        if (e.FileName() == "photo.JPG") {
            EXPECT_EQ(e.Method, 0);
            EXPECT_EQ(e.InternalAttributes, 0);
            EXPECT_EQ(e.CompressedSize, text.size());
        } else {
            EXPECT_EQ(e.FileName(), "notes.txt");
            EXPECT_EQ(e.Method, 8);
            EXPECT_LT(e.CompressedSize, text.size() / 2);
        }
    }
}

TEST(ZipNewArchive, AFifoIsSkippedInsteadOfWaitedFor) {
    TempDir dir;
    WriteFile(dir / "in/a.txt", "alpha");
    ASSERT_EQ(::mkfifo((dir / "in/pipe.txt").c_str(), 0644), 0);
    TVCLZip zip;
    zip.SetZipName(dir / "a.zip");
    zip.FilesList = {dir / "in/*.txt"};
    std::vector<std::string> skipped;
    zip.OnSkippingFile = [&](TVCLUnZip*, TSkipReason r, const std::string& f, int, bool&) {
        skipped.push_back(std::to_string(r) + " " + fs::ExtractFileName(f));
    };
    EXPECT_EQ(zip.Zip(), 1);
    EXPECT_EQ(skipped, std::vector<std::string>{"2 pipe.txt"});
}

TEST(ZipNewArchive, AFileThatChangesSizeWhileReadGivesAConsistentEntry) {
    // Sizes and CRC describe the bytes actually read, whatever the size was when the file was opened.
    struct Case {
        const char* name;
        int level;
        bool grow;
    };
    for (const Case c : {Case{"grows, stored", 0, true}, Case{"shrinks, stored", 0, false},
                         Case{"grows, deflated", 6, true}, Case{"shrinks, deflated", 6, false}}) {
        TempDir dir;
        const std::string path = dir / "live.log";
        const std::string start = testing_support::TextBytes(100000, 20);
        WriteFile(path, start);
        TVCLZip zip;
        zip.PackLevel = c.level;
        zip.SetZipName(dir / "a.zip");
        zip.FilesList = {path};
        bool changed = false;
        zip.OnFilePercentDone = [&](TVCLUnZip*, int) {
            if (changed) return;
            changed = true;
            if (c.grow) {
                WriteFile(path, start + testing_support::TextBytes(50000, 21));
            } else {
                ASSERT_EQ(::truncate(path.c_str(), 40000), 0);
            }
        };
        ASSERT_EQ(zip.Zip(), 1) << c.name;
        const std::string now = ReadFile(path);
        const auto listing = ReadListing(dir / "a.zip");
        ASSERT_EQ(listing.entries.size(), 1u);
        EXPECT_EQ(listing.entries[0].UncompressedSize, now.size()) << c.name;
        EXPECT_EQ(listing.entries[0].Crc32, CrcOf(now)) << c.name;
        const auto problems = writer_testing::CheckWithOracles(dir / "a.zip", {{"live.log", now}});
        EXPECT_TRUE(problems.empty()) << c.name << ::testing::PrintToString(problems);
    }
}

TEST(ZipNewArchive, TheReaderTestsWhatTheWriterWrote) {
    TempDir dir;
    WriteFile(dir / "in/a.txt", testing_support::TextBytes(70000, 30));
    WriteFile(dir / "in/b.bin", testing_support::RandomBytes(40000, 31));
    WriteFile(dir / "in/c.dat", "");
    for (const char* password : {"", "secret"}) {
        TVCLZip zip;
        zip.Password = password;
        zip.SetZipName(dir / "a.zip");
        zip.FilesList = {dir / "in/*.*"};
        ASSERT_EQ(zip.Zip(), 3);
        TVCLUnZip reader;
        reader.Password = password;
        reader.SetZipName(dir / "a.zip");
        reader.DoAll = true;
        EXPECT_EQ(reader.TestArchive(), 3) << password;
        fs::DeleteFile(dir / "a.zip");
    }
}

}  // namespace
}  // namespace archive
