// Loading the directory: the setters that decide which archive is read, the cache, the end record search,
// incomplete and damaged archives, the recovery scan, the .zfc companion and multi-disk block sets.
#include <sys/stat.h>
#include <utime.h>

#include <gtest/gtest.h>

#include <fcntl.h>

#include <functional>

#include "archive/errors.h"
#include "archive/reader/vcl_unzip.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using namespace archive;
using testing_support::ReadFile;
using testing_support::RecordingHost;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::ZipBuilder;
using testing_support::ZipEntryRecipe;

std::string TwoEntries() {
    ZipBuilder b;
    b.Stored("DB/Awards.mdb", "awards").Stored("x.ini", "[x]\n");
    return b.Build();
}

// Sets a file's modification time to whole seconds since the epoch.
void SetMTime(const std::string& path, time_t t) {
    struct utimbuf times {t, t};
    ASSERT_EQ(utime(path.c_str(), &times), 0);
}

std::vector<std::string> Names(TVCLUnZip& z) {
    std::vector<std::string> names;
    for (int i = 0; i < z.Count(); ++i) names.push_back(z.EntryInfo(i).StoredName());
    return names;
}

// ---- setters ------------------------------------------------------------------------------------------

TEST(ReaderSetters, ZipNameQuestionMarkAsksTheHost) {
    TempDir dir;
    RecordingHost host;
    TVCLUnZip z(&host);
    host.openFileResult = dir / "chosen.zip";
    z.SetZipName(dir.Path() + "/?");
    EXPECT_EQ(z.ZipName(), dir / "chosen.zip");
    EXPECT_EQ(host.lastOpenTitle, "Open a Zip File");
    EXPECT_EQ(host.lastOpenFilter,
              "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*");
    EXPECT_EQ(host.lastOpenDir, dir.Path() + "/");

    host.openFileResult.reset();
    try {
        z.SetZipName("/no/such/folder/?");
        FAIL() << "no exception";
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled setting zip file name.");
    }
    EXPECT_EQ(z.ZipName(), dir / "chosen.zip");  // unchanged
    EXPECT_NE(host.lastOpenDir, "/no/such/folder/");
}

TEST(ReaderSetters, DestDirAndRootDir) {
    RecordingHost host;
    TVCLUnZip z(&host);
    z.SetDestDir("/log/db/");
    EXPECT_EQ(z.DestDir(), "/log/db");
    z.SetDestDir("/log/tmp");
    EXPECT_EQ(z.DestDir(), "/log/tmp");

    host.folderResult = "/picked/";
    z.SetDestDir("?");
    EXPECT_EQ(z.DestDir(), "/picked");
    host.folderResult.reset();
    try {
        z.SetDestDir("?");
        FAIL() << "no exception";
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled Set Desination Directory");
    }

    z.SetRootDir("DB");
    EXPECT_EQ(z.RootDir(), "DB/");
    z.SetRootDir("DB/");
    EXPECT_EQ(z.RootDir(), "DB/");
    z.SetRootDir("");
    EXPECT_EQ(z.RootDir(), "");
}

TEST(ReaderSetters, SameNameInAnotherCaseKeepsTheDirectory) {
    TempDir dir;
    WriteFile(dir / "Backup.zip", TwoEntries());
    TVCLUnZip z;
    z.SetZipName(dir / "Backup.zip");
    z.ReadCentralDirectory();
    ASSERT_EQ(z.Count(), 2);
    z.SetZipName(dir / "BACKUP.ZIP");
    EXPECT_EQ(z.Count(), 2);
    EXPECT_EQ(z.ZipName(), dir / "Backup.zip");
    z.SetZipName(dir / "Other.zip");
    EXPECT_EQ(z.Count(), 0);
}

TEST(ReaderSetters, AssignCopiesSettingsAndHandlers) {
    TVCLUnZip a, b;
    a.SetZipName("/x/a.zip");
    a.SetDestDir("/d/");
    a.SetRootDir("r");
    a.SortMode = ByName;
    a.RecreateDirs = true;
    a.OverwriteMode = Never;
    a.FilesList = {"*.ini"};
    a.DoAll = true;
    a.IncompleteZipMode = izAssumeBad;
    a.KeepZipOpen = true;
    a.DoProcessMessages = false;
    a.RetainAttributes = false;
    a.ReplaceReadOnly = true;
    int calls = 0;
    a.OnUnZipComplete = [&](TVCLUnZip*, int) { ++calls; };
    b.Assign(a);
    EXPECT_EQ(b.ZipName(), "/x/a.zip");
    EXPECT_EQ(b.DestDir(), "/d");
    EXPECT_EQ(b.RootDir(), "r/");
    EXPECT_EQ(b.SortMode, ByName);
    EXPECT_TRUE(b.RecreateDirs);
    EXPECT_EQ(b.OverwriteMode, Never);
    EXPECT_EQ(b.FilesList, std::vector<std::string>{"*.ini"});
    EXPECT_TRUE(b.DoAll);
    EXPECT_EQ(b.IncompleteZipMode, izAssumeBad);
    EXPECT_TRUE(b.KeepZipOpen);
    EXPECT_FALSE(b.DoProcessMessages);
    EXPECT_FALSE(b.RetainAttributes);
    EXPECT_TRUE(b.ReplaceReadOnly);
    ASSERT_TRUE(b.OnUnZipComplete);
    b.OnUnZipComplete(&b, 0);
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(b.OnGetNextDisk);
}

// ---- entries ------------------------------------------------------------------------------------------

TEST(ReaderEntries, NamesDatesCommentsAndIndexErrors) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe e;
    e.name = "DB/Awards.mdb";
    e.data = "awards";
    e.comment = "entry comment";
    e.centralExtra = std::string("\x55\x54\x05\x00\x01\x00\x00\x00\x00", 9);
    e.dosTime = (45u << 25) | (3u << 21) | (7u << 16) | (13u << 11) | (14u << 5) | 15u;  // 2025-03-07 13:14:30
    b.Add(e).Stored("x.ini", "[x]");
    b.archiveComment = "the archive comment";
    WriteFile(dir / "a.zip", b.Build());

    TVCLUnZip z;
    z.SetZipName(dir / "a.zip");
    z.ReadCentralDirectory();
    ASSERT_EQ(z.Count(), 2);
    EXPECT_EQ(z.EntryName(0), "Awards.mdb");
    EXPECT_EQ(z.EntryInfo(0).Directory(), "DB/");
    const DateTimeParts t = DecodeDateTime(z.EntryDateTime(0));
    EXPECT_EQ(std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second}),
              std::vector<int>({2025, 3, 7, 13, 14, 30}));
    // Comments come from the file on demand: the archive is closed by now.
    EXPECT_EQ(z.EntryComment(0), "entry comment");
    EXPECT_EQ(z.EntryComment(1), "");
    EXPECT_EQ(z.ArchiveComment(), "the archive comment");

    const std::pair<int, std::string> bad[] = {{2, "Index 2 is out of range"}, {-1, "Index -1 is out of range"}};
    for (const auto& [index, text] : bad) {
        try {
            z.EntryName(index);
            FAIL() << index;
        } catch (const EListError& e) {
            EXPECT_EQ(e.what(), text);
        }
        EXPECT_THROW(z.EntryDateTime(index), EListError);
        EXPECT_THROW(z.EntryComment(index), EListError);
    }
}

TEST(ReaderEntries, SortModeOrdersTheView) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("b.txt", "1").Stored("A.txt", "22").Stored("c.txt", "333");
    WriteFile(dir / "s.zip", b.Build());
    TVCLUnZip z;
    z.SortMode = ByName;
    z.SetZipName(dir / "s.zip");
    z.ReadCentralDirectory();
    EXPECT_EQ(Names(z), (std::vector<std::string>{"A.txt", "b.txt", "c.txt"}));
    z.SortMode = ByUnCompressedSize;
    z.SetZipName(dir / "other");
    z.SetZipName(dir / "s.zip");
    z.ReadCentralDirectory();
    EXPECT_EQ(Names(z), (std::vector<std::string>{"c.txt", "A.txt", "b.txt"}));
}

// ---- the cache ----------------------------------------------------------------------------------------

TEST(ReaderCache, ReReadOnlyWhenTheArchiveChanged) {
    TempDir dir;
    const std::string path = dir / "c.zip";
    ZipBuilder one, other;
    one.Stored("aaaa.txt", "1");
    other.Stored("bbbb.txt", "2");
    const std::string first = one.Build(), second = other.Build();
    ASSERT_EQ(first.size(), second.size());
    WriteFile(path, first);
    SetMTime(path, 1700000000);

    TVCLUnZip z;
    z.SetZipName(path);
    z.ReadCentralDirectory();
    ASSERT_EQ(z.EntryName(0), "aaaa.txt");

    // Same size, same time: the loaded directory is used, the file is not read again.
    WriteFile(path, second);
    SetMTime(path, 1700000000);
    z.ReadCentralDirectory();
    EXPECT_EQ(z.EntryName(0), "aaaa.txt");

    // Touched: read again.
    SetMTime(path, 1700000002);
    z.ReadCentralDirectory();
    EXPECT_EQ(z.EntryName(0), "bbbb.txt");

    // A rewrite within the same second shows through the full-resolution time.
    WriteFile(path, first);
    struct timespec times[2] = {{1700000002, 500000000}, {1700000002, 500000000}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    z.ReadCentralDirectory();
    EXPECT_EQ(z.EntryName(0), "aaaa.txt");
}

// ---- end record ---------------------------------------------------------------------------------------

TEST(ReaderEndRecord, TheLastSignatureWinsEvenInsideTheComment) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("a.txt", "a").Stored("b.txt", "b");
    // The comment holds a complete end record of an empty archive: that one is found first from the end.
    std::string fake;
    testing_support::PutLE(fake, 0x06054b50, 4);
    fake += std::string(18, '\0');
    b.archiveComment = "note " + fake;
    WriteFile(dir / "e.zip", b.Build());
    TVCLUnZip z;
    z.SetZipName(dir / "e.zip");
    z.ReadCentralDirectory();
    EXPECT_EQ(z.Count(), 0);

    ZipBuilder plain;
    plain.Stored("a.txt", "a");
    plain.archiveComment = "PK\x05 almost";
    WriteFile(dir / "f.zip", plain.Build());
    z.SetZipName(dir / "f.zip");
    z.ReadCentralDirectory();
    EXPECT_EQ(z.Count(), 1);
    EXPECT_EQ(z.ArchiveComment(), "PK\x05 almost");
}

TEST(ReaderEndRecord, EmptyShortAndSignaturelessFiles) {
    TempDir dir;
    struct Case {
        const char* name;
        std::string bytes;
        bool incomplete;  // UnZip raises EIncompleteZip
    };
    const Case cases[] = {
        {"zero.zip", "", false},
        {"short.zip", "PK\x05\x06 short", true},
        {"text.zip", std::string(5000, 'x'), true},
    };
    for (const Case& c : cases) {
        WriteFile(dir / c.name, c.bytes);
        TVCLUnZip z;
        z.SetZipName(dir / c.name);
        EXPECT_NO_THROW(z.ReadCentralDirectory()) << c.name;
        EXPECT_EQ(z.Count(), 0) << c.name;
        EXPECT_EQ(z.ZipName(), dir / c.name) << c.name;
        z.DoAll = true;
        z.SetDestDir(dir / "out");
        if (c.incomplete) {
            try {
                z.UnZip();
                ADD_FAILURE() << c.name;
            } catch (const EIncompleteZip& e) {
                EXPECT_STREQ(e.what(), "Incomplete Zip File");
            }
        } else {
            EXPECT_EQ(z.UnZip(), 0) << c.name;
        }
    }
}

TEST(ReaderEndRecord, ModesForAMissingEndRecord) {
    TempDir dir;
    WriteFile(dir / "n.zip", std::string(100, 'n'));

    TVCLUnZip notZip;
    notZip.IncompleteZipMode = izAssumeNotAZip;
    notZip.SetZipName(dir / "n.zip");
    try {
        notZip.ReadCentralDirectory();
        FAIL();
    } catch (const ENotAZipFile& e) {
        EXPECT_STREQ(e.what(), "Not a valid zip file!");
    }
    EXPECT_EQ(notZip.ZipName(), "");  // a failed read clears the component

    TVCLUnZip bad;
    bad.IncompleteZipMode = izAssumeBad;
    bad.SetZipName(dir / "n.zip");
    EXPECT_THROW(bad.ReadCentralDirectory(), EBadZipFile);
    EXPECT_EQ(bad.ZipName(), "");

    TVCLUnZip missing;
    missing.SetZipName(dir / "absent.zip");
    EXPECT_THROW(missing.ReadCentralDirectory(), EFOpenError);
    EXPECT_EQ(missing.ZipName(), "");
}

TEST(ReaderEndRecord, IncompleteHandlerMayChangeTheModeOrBringTheArchive) {
    TempDir dir;
    const std::string path = dir / "h.zip";
    const std::string whole = TwoEntries();
    // Cut just before the end record: local headers and central directory are there.
    WriteFile(path, whole.substr(0, whole.size() - 22));

    TVCLUnZip z;
    z.SetZipName(path);
    int calls = 0;
    z.OnInCompleteZip = [&](TVCLUnZip*, TIncompleteZipMode& mode) {
        ++calls;
        EXPECT_EQ(mode, izAssumeMulti);
    };
    z.ReadCentralDirectory();  // the handler changes nothing: one call, no endless retry
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(z.Count(), 0);

    // A handler that brings the whole archive: read again, and it loads.
    calls = 0;
    z.OnInCompleteZip = [&](TVCLUnZip*, TIncompleteZipMode&) {
        ++calls;
        WriteFile(path, whole);
    };
    z.ReadCentralDirectory();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(z.Count(), 2);

    // A handler that switches to izAssumeBad: the recovery scan runs at once.
    WriteFile(dir / "r.zip", whole.substr(0, whole.size() - 22));
    TVCLUnZip r;
    r.SetZipName(dir / "r.zip");
    r.OnInCompleteZip = [&](TVCLUnZip*, TIncompleteZipMode& mode) { mode = izAssumeBad; };
    r.ReadCentralDirectory();
    EXPECT_EQ(Names(r), (std::vector<std::string>{"DB/Awards.mdb", "x.ini"}));
    EXPECT_EQ(r.IncompleteZipMode, izAssumeBad);  // the handler's change persists
}

TEST(ReaderEndRecord, BrokenCentralDirectoryIsNotAZipFile) {
    TempDir dir;
    const std::string whole = TwoEntries();
    struct Case {
        const char* name;
        std::string bytes;
    };
    ZipBuilder offset;
    offset.Stored("a.txt", "a");
    offset.centralOffsetOverride = 3;
    std::string hugeName = TwoEntries();
    // Central record of the first entry claims a 65535-byte name.
    ZipBuilder probe;
    probe.Stored("DB/Awards.mdb", "awards").Stored("x.ini", "[x]\n");
    probe.Build();
    hugeName[probe.CentralOffset() + 28] = '\xFF';
    hugeName[probe.CentralOffset() + 29] = '\xFF';
    const Case cases[] = {
        {"offset.zip", offset.Build()},
        {"huge-name.zip", hugeName},
    };
    for (const Case& c : cases) {
        WriteFile(dir / c.name, c.bytes);
        TVCLUnZip z;
        z.SetZipName(dir / c.name);
        try {
            z.ReadCentralDirectory();
            ADD_FAILURE() << c.name;
        } catch (const EBadZipFile& e) {
            EXPECT_STREQ(e.what(), "Not a valid zip file!");
        }
        EXPECT_EQ(z.Count(), 0);
        EXPECT_EQ(z.ZipName(), "");
    }
}

TEST(ReaderEndRecord, MoreEntriesClaimedThanPresentIsRefused) {
    TempDir dir;
    std::string bytes = TwoEntries();
    // Total entries 0xFFFF, two records present.
    bytes[bytes.size() - 22 + 10] = '\xFF';
    bytes[bytes.size() - 22 + 11] = '\xFF';
    WriteFile(dir / "many.zip", bytes);
    TVCLUnZip z;
    z.SetZipName(dir / "many.zip");
    EXPECT_THROW(z.ReadCentralDirectory(), EBadZipFile);

    // Through UnZip the component is not cleared, but the two records read before the failure must not
    // pass for a loaded directory.
    TVCLUnZip u;
    u.SetZipName(dir / "many.zip");
    u.DoAll = true;
    u.SetDestDir(dir / "out");
    EXPECT_THROW(u.UnZip(), EBadZipFile);
    EXPECT_EQ(u.Count(), 0);
    EXPECT_THROW(u.UnZip(), EBadZipFile);
}

// ---- Zip64 ---------------------------------------------------------------------------------------------

// The Zip64 end record (at `at`) and its locator, as a writer puts them between the directory and the
// end record.
std::string Zip64Records(uint64_t entries, uint64_t size, uint64_t offset, uint64_t at) {
    using testing_support::PutLE;
    std::string out;
    PutLE(out, 0x06064b50, 4), PutLE(out, 44, 8), PutLE(out, 45, 2), PutLE(out, 45, 2), PutLE(out, 0, 8);
    PutLE(out, entries, 8), PutLE(out, entries, 8), PutLE(out, size, 8), PutLE(out, offset, 8);
    PutLE(out, 0x07064b50, 4), PutLE(out, 0, 4), PutLE(out, at, 8), PutLE(out, 1, 4);
    return out;
}

// Zip64 is refused as what it is, in every mode, whether the archive says so in front of its end record
// or in an entry's extra field; an archive that only looks a little like it reads as before.
TEST(ReaderZip64, ZipSixtyFourIsToldAsSuch) {
    using testing_support::PutLE;
    const std::string ut("UT\x05\x00\x03\x00\x00\x00\x00", 9);  // a timestamp block
    std::string zip64Block;  // the Zip64 block with an uncompressed and a compressed size
    PutLE(zip64Block, 0x0001, 2), PutLE(zip64Block, 16, 2), PutLE(zip64Block, 5, 8), PutLE(zip64Block, 5, 8);

    // Two entries; `patch` changes the recipe of the first.
    auto build = [](const std::function<void(ZipEntryRecipe&)>& patch, std::string comment = {}) {
        ZipEntryRecipe first;
        first.name = "a.txt";
        first.data = "hello";
        patch(first);
        ZipBuilder b;
        b.Add(first).Stored("b.txt", "b");
        b.archiveComment = std::move(comment);
        std::string bytes = b.Build();
        return std::make_pair(bytes, b.CentralOffset());
    };
    auto withLocator = [](std::string bytes, uint32_t centralOffset, const std::string& between,
                          size_t commentLength = 0, bool placeholders = true) {
        const size_t end = bytes.size() - 22 - commentLength;
        const uint32_t centralSize = static_cast<uint32_t>(end - centralOffset);
        bytes.insert(end, Zip64Records(2, centralSize, centralOffset, end) + between);
        if (placeholders) {  // count and offset left to the Zip64 end record, as writers do
            const size_t record = bytes.size() - 22 - commentLength;
            bytes.replace(record + 8, 4, "\xFF\xFF\xFF\xFF");
            bytes.replace(record + 16, 4, "\xFF\xFF\xFF\xFF");
        }
        return bytes;
    };
    const auto plain = build([](ZipEntryRecipe&) {});
    const std::string longComment(65530, 'c');  // the end record then starts 5 bytes into the search block
    const auto commented = build([](ZipEntryRecipe&) {}, longComment);
    std::string offsetPlaceholder = build([&](ZipEntryRecipe& e) { e.centralExtra = zip64Block; }).first;
    offsetPlaceholder.replace(plain.second + 42, 4, "\xFF\xFF\xFF\xFF");  // the first record's offset

    const struct {
        const char* what;
        std::string bytes;
        bool refused;
    } cases[] = {
        {"plain", plain.first, false},
        {"Zip64 end record and locator", withLocator(plain.first, plain.second, ""), true},
        {"locator, the end record's own fields right", withLocator(plain.first, plain.second, "", 0, false), true},
        {"locator a byte away from the end record", withLocator(plain.first, plain.second, "x", 0, false), false},
        {"locator before an end record with a long comment",
         withLocator(commented.first, commented.second, "", longComment.size(), false), true},
        {"uncompressed size in the Zip64 block",
         build([&](ZipEntryRecipe& e) { e.uncompressedSize = 0xFFFFFFFF, e.centralExtra = zip64Block; }).first, true},
        {"compressed size in the Zip64 block",
         build([&](ZipEntryRecipe& e) { e.compressedSize = 0xFFFFFFFF, e.centralExtra = zip64Block; }).first, true},
        {"offset in the Zip64 block", offsetPlaceholder, true},
        {"disk in the Zip64 block",
         build([&](ZipEntryRecipe& e) { e.diskNumberStart = 0xFFFF, e.centralExtra = zip64Block; }).first, true},
        {"Zip64 block after another block",
         build([&](ZipEntryRecipe& e) { e.uncompressedSize = 0xFFFFFFFF, e.centralExtra = ut + zip64Block; }).first,
         true},
        {"Zip64 block beside real sizes", build([&](ZipEntryRecipe& e) { e.centralExtra = zip64Block; }).first, false},
        {"all ones without a Zip64 block",
         build([&](ZipEntryRecipe& e) { e.uncompressedSize = 0xFFFFFFFF, e.centralExtra = ut; }).first, false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "z.zip", c.bytes);
        for (const TIncompleteZipMode mode : {izAssumeMulti, izAssumeBad, izAssumeNotAZip}) {
            TVCLUnZip z;
            z.IncompleteZipMode = mode;
            z.SetZipName(dir / "z.zip");
            if (!c.refused) {
                EXPECT_NO_THROW(z.ReadCentralDirectory()) << mode;
                EXPECT_EQ(Names(z), (std::vector<std::string>{"a.txt", "b.txt"})) << mode;
                continue;
            }
            try {
                z.ReadCentralDirectory();
                ADD_FAILURE() << "read " << z.Count() << " entries, mode " << mode;
            } catch (const EUnsupportedArchive& e) {
                EXPECT_STREQ(e.what(), "This archive uses Zip64 records, which are not supported");
            }
            EXPECT_EQ(z.Count(), 0);
        }
    }
}

// The count of the end record and the records of the directory: records past the count are read while
// they start inside the directory's size (a count that wrapped past 65535 leaves them there); a count
// that then still disagrees is refused, as is one larger than the records there are.
TEST(ReaderEndRecord, TheCountAndTheRecordsMustAgree) {
    ZipBuilder three;
    three.Stored("a.txt", "a").Stored("b.txt", "b").Stored("c.txt", "c");
    const std::string built = three.Build();
    const size_t end = built.size() - 22;
    const uint32_t oneRecord = 46 + 5;
    // The built archive with the end record's counts and directory size replaced.
    auto patched = [&](uint16_t count, uint32_t size) {
        std::string bytes = built;
        bytes[end + 8] = bytes[end + 10] = static_cast<char>(count & 0xFF);
        bytes[end + 9] = bytes[end + 11] = static_cast<char>(count >> 8);
        for (int k = 0; k < 4; ++k) bytes[end + 12 + k] = static_cast<char>(size >> (8 * k));
        return bytes;
    };
    const uint32_t whole = 3 * oneRecord;
    // One entry, and a signature record after its central record, inside the directory's size.
    ZipBuilder one;
    one.Stored("a.txt", "a");
    std::string signed1 = one.Build();
    signed1.insert(signed1.size() - 22, std::string("PK\x05\x05\x00\x00", 6));
    signed1[signed1.size() - 22 + 12] = static_cast<char>(oneRecord + 6);

    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::string> names;
        std::string error;
    } cases[] = {
        {"as written", built, {"a.txt", "b.txt", "c.txt"}, ""},
        {"an empty archive", ZipBuilder().Build(), {}, ""},
        {"directory of size 0", patched(0, 0), {}, ""},
        {"a signature record after the records", signed1, {"a.txt"}, ""},
        {"the size ends the directory after the counted record", patched(1, oneRecord), {"a.txt"}, ""},
        {"fewer counted than the directory holds", patched(1, whole), {},
         "The central directory holds 3 entries, but its end record counts 1"},
        {"none counted in a directory of records", patched(0, whole), {},
         "The central directory holds 3 entries, but its end record counts 0"},
        {"more counted than there are", patched(4, whole), {}, "Not a valid zip file!"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFile(dir / "c.zip", c.bytes);
        TVCLUnZip z;
        z.SetZipName(dir / "c.zip");
        try {
            z.ReadCentralDirectory();
            EXPECT_EQ(c.error, "");
        } catch (const EBadZipFile& e) {
            EXPECT_EQ(e.what(), c.error);
        }
        EXPECT_EQ(Names(z), c.names);
    }
}

// ---- recovery -----------------------------------------------------------------------------------------

TEST(ReaderRecovery, ScansLocalHeadersWhenTheDirectoryWasCutOff) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("DB/Awards.mdb", "awards").Stored("x.ini", "[x]\n");
    ZipEntryRecipe described;  // sizes in the local header, and a data descriptor after the data
    described.name = "dd.txt";
    described.data = "descriptor";
    described.flags = 8;
    b.Add(described).Stored("last.txt", "end");
    std::string bytes = b.Build();
    // Put a 16-byte descriptor after dd.txt's data by rebuilding that piece by hand: the scan skips it.
    const std::string marker = "descriptor";
    const size_t at = bytes.find(marker) + marker.size();
    std::string descriptor;
    testing_support::PutLE(descriptor, 0x08074b50, 4);
    descriptor += std::string(12, '\0');
    bytes.insert(at, descriptor);
    bytes.resize(bytes.find("PK\x01\x02"));  // the central directory and end record are gone

    // Bytes in front that only look like a header: a version-needed upper byte of 10 or more rejects them.
    const std::string bogus = std::string("PK\x03\x04\x14\x0A", 6) + "junk";
    WriteFile(dir / "cut.zip", bogus + bytes);

    TVCLUnZip z;
    z.IncompleteZipMode = izAssumeBad;
    z.SetZipName(dir / "cut.zip");
    z.ReadCentralDirectory();
    EXPECT_EQ(Names(z), (std::vector<std::string>{"DB/Awards.mdb", "x.ini", "dd.txt", "last.txt"}));
    EXPECT_EQ(z.EntryInfo(0).LocalHeaderOffset, bogus.size());

    z.DoAll = true;
    z.RecreateDirs = true;
    z.SetDestDir(dir / "out");
    EXPECT_EQ(z.UnZip(), 4);
    EXPECT_EQ(ReadFile(dir / "out/DB/Awards.mdb"), "awards");
    EXPECT_EQ(ReadFile(dir / "out/last.txt"), "end");
}

TEST(ReaderRecovery, SelfExtractorStubShiftsOffsetsAndScanStartsAt14000) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("a.txt", "alpha").Stored("b.txt", "beta");
    const std::string archive = b.Build();  // offsets as if nothing were in front
    // An .EXE stub of 15000 bytes with something header-like before offset 14000.
    std::string stub(15000, 'S');
    const std::string fake = std::string("PK\x03\x04\x14\x00", 6) + std::string(24, '\0') ;
    stub.replace(100, fake.size(), fake);
    WriteFile(dir / "setup.EXE", stub + archive);

    TVCLUnZip plain;
    plain.SetZipName(dir / "setup.EXE");
    EXPECT_THROW(plain.ReadCentralDirectory(), EBadZipFile);  // recorded offsets are not file positions

    // A stub whose archive records absolute positions reads as it is.
    ZipBuilder absolute;
    absolute.prefix = stub;
    absolute.Stored("a.txt", "alpha");
    WriteFile(dir / "abs.EXE", absolute.Build());
    TVCLUnZip good;
    good.SetZipName(dir / "abs.EXE");
    good.ReadCentralDirectory();
    EXPECT_EQ(good.Count(), 1);

    TVCLUnZip z;
    z.IncompleteZipMode = izAssumeBad;
    z.SetZipName(dir / "setup.EXE");
    z.ReadCentralDirectory();
    ASSERT_EQ(Names(z), (std::vector<std::string>{"a.txt", "b.txt"}));
    // The central records that follow the data complete the scanned entries (attributes, comments).
    EXPECT_EQ(z.EntryInfo(0).LocalHeaderOffset, 15000u);
    EXPECT_EQ(z.EntryInfo(0).CentralRecordOffset, 15000u + b.CentralOffset());
    z.DoAll = true;
    z.SetDestDir(dir / "out");
    EXPECT_EQ(z.UnZip(), 2);
    EXPECT_EQ(ReadFile(dir / "out/b.txt"), "beta");
}

// ---- companion and multi-disk -------------------------------------------------------------------------

TEST(ReaderCompanion, DirectoryFromTheZfcFile) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe e;
    e.name = "a.txt";
    e.data = "alpha";
    e.comment = "first";
    b.Add(e).Stored("b.txt", "beta");
    b.archiveComment = "set comment";
    const std::string whole = b.Build();
    const uint32_t central = b.CentralOffset();
    WriteFile(dir / "set.zip", whole.substr(0, central));  // data only
    WriteFile(dir / "set.zfc", whole.substr(central));     // directory and end record, positions from 0

    TVCLUnZip z;
    z.SetZipName(dir / "set.zip");
    z.ReadCentralDirectory();
    ASSERT_EQ(Names(z), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(z.EntryComment(0), "first");
    EXPECT_EQ(z.ArchiveComment(), "set comment");
    z.DoAll = true;
    z.SetDestDir(dir / "out");
    EXPECT_EQ(z.UnZip(), 2);
    EXPECT_EQ(ReadFile(dir / "out/a.txt"), "alpha");
}

// A two-disk block set: disk 0 holds a.txt and the first part of b.txt, disk 1 the rest of b.txt, c.txt,
// the central directory and the end record.
struct BlockSet {
    std::string disk0, disk1;
};

BlockSet MakeBlockSet() {
    ZipBuilder b;
    ZipEntryRecipe a, bb, c;
    a.name = "a.txt";
    a.data = "alpha";
    a.comment = "on disk 0";
    bb.name = "b.txt";
    bb.data = std::string(40000, 'b') + "tail";
    c.name = "c.txt";
    c.data = "gamma";
    c.diskNumberStart = 1;
    b.Add(a).Add(bb).Add(c);
    b.archiveComment = "two disks";
    b.thisDisk = 1;
    b.centralStartDisk = 1;
    std::string all = b.Build();
    // Split inside b.txt's data; c.txt's offset and the central directory offset count on disk 1.
    const size_t split = all.find("bbbb") + 1000;
    BlockSet set;
    set.disk0 = all.substr(0, split);
    std::string rest = all.substr(split);
    const uint32_t centralOnDisk1 = b.CentralOffset() - static_cast<uint32_t>(split);
    const uint32_t cOnDisk1 = static_cast<uint32_t>(all.find("c.txt") - 30 - split);
    std::string central = rest.substr(centralOnDisk1);
    // Patch c.txt's local-header offset (third central record) and the end record's directory offset.
    size_t rec = 0;
    for (int i = 0; i < 2; ++i) {
        const size_t n = static_cast<uint8_t>(central[rec + 28]) | (static_cast<uint8_t>(central[rec + 29]) << 8);
        const size_t m = static_cast<uint8_t>(central[rec + 32]) | (static_cast<uint8_t>(central[rec + 33]) << 8);
        rec += 46 + n + m;
    }
    std::string patched;
    testing_support::PutLE(patched, cOnDisk1, 4);
    central.replace(rec + 42, 4, patched);
    const size_t end = central.rfind("PK\x05\x06");
    patched.clear();
    testing_support::PutLE(patched, centralOnDisk1, 4);
    central.replace(end + 16, 4, patched);
    set.disk1 = rest.substr(0, centralOnDisk1) + central;
    return set;
}

TEST(ReaderMultiDisk, BlockSetThroughTheBuiltInDiskRequest) {
    const BlockSet set = MakeBlockSet();
    struct Naming {
        const char* first;
        const char* last;
    };
    // X.001 + X.002 opened as X.002, and X.001 + X.zip opened as X.zip.
    for (const Naming& naming : {Naming{"set.001", "set.002"}, Naming{"set.001", "set.zip"}}) {
        TempDir dir;
        WriteFile(dir / naming.first, set.disk0);
        WriteFile(dir / naming.last, set.disk1);
        TVCLUnZip z;
        z.SetZipName(dir / naming.last);
        z.ReadCentralDirectory();
        ASSERT_EQ(Names(z), (std::vector<std::string>{"a.txt", "b.txt", "c.txt"})) << naming.last;
        EXPECT_EQ(z.MultiMode(), mmBlocks);
        EXPECT_EQ(z.EntryComment(0), "on disk 0");  // read with the directory
        EXPECT_EQ(z.ArchiveComment(), "two disks");
        z.DoAll = true;
        z.SetDestDir(dir / "out");
        EXPECT_EQ(z.UnZip(), 3) << naming.last;
        EXPECT_EQ(ReadFile(dir / "out/a.txt"), "alpha");
        EXPECT_EQ(ReadFile(dir / "out/b.txt"), std::string(40000, 'b') + "tail");
        EXPECT_EQ(ReadFile(dir / "out/c.txt"), "gamma");
    }
}

TEST(ReaderMultiDisk, MissingDiskEndsWithUserCanceled) {
    const BlockSet set = MakeBlockSet();
    TempDir dir;
    WriteFile(dir / "set.002", set.disk1);  // disk 1 of 2 is missing
    TVCLUnZip z;
    z.SetZipName(dir / "set.002");
    z.ReadCentralDirectory();
    z.DoAll = true;
    z.SetDestDir(dir / "out");
    try {
        z.UnZip();
        FAIL();
    } catch (const EUserCanceled& e) {
        EXPECT_STREQ(e.what(), "User canceled loading new disk.");
    }

    // A handler that cancels.
    TVCLUnZip c;
    c.SetZipName(dir / "set.002");
    c.ReadCentralDirectory();
    std::vector<int> asked;
    c.OnGetNextDisk = [&](TVCLUnZip*, int n, std::string& name) {
        asked.push_back(n);
        name.clear();
    };
    c.DoAll = true;
    c.SetDestDir(dir / "out2");
    EXPECT_THROW(c.UnZip(), EUserCanceled);
    EXPECT_EQ(asked, std::vector<int>{1});
}

}  // namespace
