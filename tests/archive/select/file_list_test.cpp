// Expansion of the writer's file list on real folder trees: the backup's own twelve entries against a
// logger folder whose DB is "db" on disk, then the filters, events and overrides one at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/select/file_list.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::MakeDirs;
using testing_support::TempDir;
using testing_support::WriteFile;
using Strings = std::vector<std::string>;

struct Expansion {
    Strings list;
    int64_t bytes = 0;
    Strings missing;  // OnNoSuchFile, in order
};

Expansion Expand(Strings list, const archive::SelectionSettings& settings,
                 std::function<bool(const std::string&)> archiveHasEntry = nullptr) {
    Expansion out;
    archive::ExpandHooks hooks;
    hooks.OnNoSuchFile = [&](const std::string& name) { out.missing.push_back(name); };
    hooks.ArchiveHasEntry = std::move(archiveHasEntry);
    out.bytes = archive::ExpandFilesList(list, settings, hooks);
    out.list = std::move(list);
    return out;
}

Strings Sorted(Strings v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Paths relative to `base`, each expected to start with it.
Strings Relative(const Strings& paths, const std::string& base) {
    Strings out;
    for (const std::string& p : paths) {
        EXPECT_EQ(p.compare(0, base.size(), base), 0) << p;
        out.push_back(p.substr(base.size()));
    }
    return out;
}

// The backup's settings for a logger folder.
archive::SelectionSettings BackupSettings(const std::string& loggerFolder) {
    archive::SelectionSettings s;
    s.RootDir = loggerFolder;
    s.Recurse = true;
    s.StorePaths = true;
    s.RelativePaths = true;
    return s;
}

// ---- the backup's twelve entries -------------------------------------------------------------------

class BackupList : public ::testing::Test {
protected:
    void SetUp() override {
        logger_ = dir_.Path() + "/ZORVEL_Log 3/";
        // Taken: sizes differ so the bytes to do tell which files were counted.
        Put("tmp/zorvel3_Registry.reg", 101);
        Put("tmp/ZORVEL_server_Registry.reg", 102);
        Put("db/Awards.mdb", 103);
        Put("db/DB.mdb", 104);
        Put("db/Logs.mdb", 105);
        Put("db/.hidden", 106);
        Put("db/LOCKFILE", 107);
        Put("db/SYSTEM.ldb", 118);  // marked hidden and system where the file system keeps DOS attributes
        archive::fs::SetAttributes(logger_ + "db/SYSTEM.ldb",
                                   archive::fs::faHidden | archive::fs::faSysFile | archive::fs::faArchive);
        Put("db/Old/Archive.mdb", 1);  // subfolder: not taken
        Put("Config.ini", 108);
        Put("LanguageFile.ini", 109);
        Put("LanguageFileEnglish.lng", 110);
        Put("x.qsl", 111);
        Put("y.aal", 112);
        Put("Bands.dat", 113);
        Put("ReadMe.txt", 114);
        Put("notes.md", 115);
        Put("song.lyr", 116);
        Put("drv.sys", 117);
        // Not taken.
        Put("a.data", 2);
        Put("x.mdb", 3);
        Put("Sub/Readme.txt", 4);
        Put("tmp/other.txt", 5);
        Put("ZORVEL_Log3.exe", 6);
        Put("db/.zbk-Ab12cD", 7);  // a scratch file left over by a restore that died
    }

    void Put(const std::string& relative, size_t size) { WriteFile(logger_ + relative, std::string(size, 'x')); }

    static Strings TwelveEntries(const std::string& logger) {
        Strings list;
        for (const char* pattern : {"tmp/zorvel3_Registry.reg", "tmp/ZORVEL_server_Registry.reg", "DB/*.*", "*.ini",
                                    "*.qsl", "*.aal", "LanguageFile*", "*.dat", "*.txt", "*.md", "*.lyr", "*.sys"})
            list.push_back("|" + logger + pattern);
        return list;
    }

    TempDir dir_;
    std::string logger_;
};

TEST_F(BackupList, WorkedExample) {
    archive::SelectionSettings s = BackupSettings(logger_);
    s.ZipName = dir_.Path() + "/Backup/zorvel3_20260101120000.zip";
    const Expansion e = Expand(TwelveEntries(logger_), s);
    EXPECT_TRUE(e.missing.empty());

    // Per entry, the files expected (in any order within the entry: the walk follows the file system).
    const std::vector<Strings> groups = {
        {"tmp/zorvel3_Registry.reg"},
        {"tmp/ZORVEL_server_Registry.reg"},
        {"DB/.hidden", "DB/Awards.mdb", "DB/DB.mdb", "DB/LOCKFILE", "DB/Logs.mdb", "DB/SYSTEM.ldb"},
        {"Config.ini", "LanguageFile.ini"},
        {"x.qsl"},
        {"y.aal"},
        {"LanguageFile.ini", "LanguageFileEnglish.lng"},
        {"Bands.dat"},
        {"ReadMe.txt"},
        {"notes.md"},
        {"song.lyr"},
        {"drv.sys"},
    };
    const Strings got = Relative(e.list, logger_);
    size_t at = 0;
    for (size_t g = 0; g < groups.size(); ++g) {
        ASSERT_LE(at + groups[g].size(), got.size()) << "entry " << g + 1;
        const auto first = got.begin() + static_cast<long>(at);
        const Strings slice(first, first + static_cast<long>(groups[g].size()));
        EXPECT_EQ(Sorted(slice), groups[g]) << "entry " << g + 1;
        at += groups[g].size();
    }
    EXPECT_EQ(at, got.size()) << "files beyond the expected ones";

    // Every listed file counted, LanguageFile.ini twice (the writer stores it once).
    int64_t expectedBytes = 109;
    for (int size = 101; size <= 118; ++size) expectedBytes += size;
    EXPECT_EQ(e.bytes, expectedBytes);

    // Stored names: the folder part as the list entry wrote it (DB), the file name as found on disk.
    Strings stored;
    for (const std::string& path : e.list) {
        const archive::StoredName n = archive::DeriveStoredName(path, s);
        stored.push_back(n.Directory + n.FileName);
    }
    // With RootDir the logger folder, that is exactly each path below it: tmp/..., DB/..., bare names.
    EXPECT_EQ(stored, got);
}

TEST_F(BackupList, MissingSnapshotsAndDatabaseFolderAreSilent) {
    archive::fs::DeleteFile(logger_ + "tmp/zorvel3_Registry.reg");
    archive::fs::DeleteFile(logger_ + "tmp/ZORVEL_server_Registry.reg");
    std::filesystem::remove_all(logger_ + "db");
    const Expansion e = Expand(TwelveEntries(logger_), BackupSettings(logger_));
    EXPECT_TRUE(e.missing.empty());
    EXPECT_EQ(Sorted(Relative(e.list, logger_)),
              Sorted({"Config.ini", "LanguageFile.ini", "x.qsl", "y.aal", "LanguageFile.ini",
                      "LanguageFileEnglish.lng", "Bands.dat", "ReadMe.txt", "notes.md", "song.lyr", "drv.sys"}));
}

TEST_F(BackupList, ArchiveAndScratchFilesAreNeverAdded) {
    Put("zorvel3_20260101120000.zip", 7);
    archive::SelectionSettings s = BackupSettings(logger_);
    s.ZipName = logger_ + "ZORVEL3_20260101120000.ZIP";  // another case than on disk
    // Nor is a scratch file, named alone or found.
    const Expansion e = Expand({"|" + logger_ + "*.zip", "|" + logger_ + "*", logger_ + "zorvel3_20260101120000.zip",
                                logger_ + "db/.zbk-Ab12cD", ">" + logger_ + "db/*"},
                               s);
    for (const std::string& p : e.list) {
        EXPECT_EQ(p.find(".zip"), std::string::npos) << p;
        EXPECT_EQ(p.find(".zbk-"), std::string::npos) << p;
    }
    EXPECT_FALSE(e.list.empty());
    EXPECT_TRUE(e.missing.empty());
}

// ---- single files ---------------------------------------------------------------------------------

TEST(ExpandFilesList, AbsentFileWithAndWithoutOverride) {
    TempDir dir;
    const std::string logger = dir.Path() + "/";
    MakeDirs(logger + "tmp");

    Expansion e = Expand({"|" + logger + "tmp/absent.reg"}, BackupSettings(logger));
    EXPECT_TRUE(e.list.empty());
    EXPECT_TRUE(e.missing.empty());

    e = Expand({logger + "tmp/absent.reg"}, BackupSettings(logger));
    EXPECT_TRUE(e.list.empty());
    EXPECT_EQ(e.missing, Strings{logger + "tmp/absent.reg"});

    // A bare name is reported with RootDir in front of it.
    e = Expand({"nope.ini"}, BackupSettings(logger));
    EXPECT_EQ(e.missing, Strings{logger + "nope.ini"});
}

TEST(ExpandFilesList, SingleFilesStayInPlaceBeforeWildcardMatches) {
    TempDir dir;
    const std::string root = dir.Path() + "/";
    WriteFile(root + "Config.ini", std::string(10, 'c'));
    WriteFile(root + "other.ini", std::string(20, 'o'));
    WriteFile(root + "a.qsl", std::string(30, 'q'));
    WriteFile(root + "db/x.mdb", std::string(40, 'm'));

    archive::SelectionSettings s;
    s.RootDir = root;
    const Expansion e = Expand({"|" + root + "*.qsl", root + "DB/", "Config.ini", root + "db/X.MDB", "*.ini"}, s);
    ASSERT_EQ(e.list.size(), 6u);
    EXPECT_EQ(e.list[0], root + "DB/");            // folder entry, in place
    EXPECT_EQ(e.list[1], root + "Config.ini");     // bare name gets RootDir
    EXPECT_EQ(e.list[2], root + "db/X.MDB");       // a single file keeps the case it was given in
    EXPECT_EQ(e.list[3], root + "a.qsl");          // then the wildcard entries in their order
    EXPECT_EQ(Sorted({e.list[4], e.list[5]}), Sorted({root + "Config.ini", root + "other.ini"}));
    EXPECT_EQ(e.bytes, 10 + 40 + 30 + 10 + 20);
}

// ---- wildcard entries -----------------------------------------------------------------------------

class Tree : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = dir_.Path() + "/Log/";
        WriteFile(root_ + "Config.ini", "c");
        WriteFile(root_ + "DB/Awards.mdb", "a");
        WriteFile(root_ + "DB/Awards.ldb", "l");
        WriteFile(root_ + "DB/x.ini", "x");
        WriteFile(root_ + "tmp/zorvel3_Registry.reg", "r");
        WriteFile(root_ + ".cache/c.ini", "c");
        WriteFile(root_ + ".cache/deep/d.ini", "d");
    }
    TempDir dir_;
    std::string root_;
};

TEST_F(Tree, NoFolderAndNoRootDirAddsNothing) {
    const std::string before = archive::fs::CurrentDirectory();
    ASSERT_TRUE(archive::fs::SetCurrentDirectory(root_));  // not even the current folder is walked
    archive::SelectionSettings s;
    const Expansion e = Expand({"*.ini", "|*.ini", ">*.ini"}, s);
    archive::fs::SetCurrentDirectory(before);
    EXPECT_TRUE(e.list.empty());
    EXPECT_TRUE(e.missing.empty());
    EXPECT_EQ(e.bytes, 0);
}

TEST_F(Tree, NoFolderUsesRootDir) {
    archive::SelectionSettings s;
    s.RootDir = root_;
    EXPECT_EQ(Expand({"*.ini"}, s).list, Strings{root_ + "Config.ini"});
}

TEST_F(Tree, RecursionOverrides) {
    struct Case {
        bool recurse;
        const char* prefix;
        Strings expected;
    };
    const Case cases[] = {
        {false, "", {"Config.ini"}},
        {true, "", {"Config.ini", "DB/x.ini"}},
        {true, "|", {"Config.ini"}},
        {false, ">", {"Config.ini", "DB/x.ini"}},
        {false, "|>", {}},  // one character only: ">" stays and becomes part of the folder
    };
    for (const Case& c : cases) {
        archive::SelectionSettings s;
        s.Recurse = c.recurse;
        const Expansion e = Expand({c.prefix + root_ + "*.ini"}, s);
        EXPECT_EQ(Sorted(Relative(e.list, root_)), c.expected) << c.prefix << " recurse " << c.recurse;
    }
    // A plain name behind an override is a wildcard entry too: a missing one is silent.
    archive::SelectionSettings s;
    const Expansion e = Expand({">" + root_ + "Config.ini", "|" + root_ + "gone.ini"}, s);
    EXPECT_EQ(Relative(e.list, root_), Strings{"Config.ini"});
    EXPECT_TRUE(e.missing.empty());
}

TEST_F(Tree, FolderEntriesOnRecurse) {
    archive::SelectionSettings s = BackupSettings(root_);
    s.AddDirEntriesOnRecurse = true;
    Expansion e = Expand({root_ + "*.ini"}, s);
    // DB/ and tmp/ are added though tmp holds no .ini; .cache is neither entered nor added.
    EXPECT_EQ(Sorted(Relative(e.list, root_)), (Strings{"Config.ini", "DB/", "DB/x.ini", "tmp/"}));
    Strings stored;
    for (const std::string& p : e.list)
        if (p.back() == '/') {
            const archive::StoredName n = archive::DeriveStoredName(p, s);
            EXPECT_EQ(n.FileName, "");
            stored.push_back(n.Directory);
        }
    EXPECT_EQ(Sorted(stored), (Strings{"DB/", "tmp/"}));

    // No folder entries without the option, nor when the entry switches recursion off.
    s.AddDirEntriesOnRecurse = false;
    EXPECT_EQ(Sorted(Relative(Expand({root_ + "*.ini"}, s).list, root_)), (Strings{"Config.ini", "DB/x.ini"}));
    s.AddDirEntriesOnRecurse = true;
    EXPECT_EQ(Relative(Expand({"|" + root_ + "*.ini"}, s).list, root_), Strings{"Config.ini"});
}

TEST_F(Tree, OverrideOnAFolderEntryIsDropped) {
    archive::SelectionSettings s;
    EXPECT_EQ(Expand({"|" + root_ + "DB/", ">" + root_ + "tmp/"}, s).list, (Strings{root_ + "DB/", root_ + "tmp/"}));
}

TEST_F(Tree, WildcardFolderComponents) {
    archive::SelectionSettings s;
    const Expansion e = Expand({"|" + root_ + "d*/*.mdb", "|" + root_ + "nothing*/*.*"}, s);
    EXPECT_EQ(Relative(e.list, root_), Strings{"DB/Awards.mdb"});
}

TEST_F(Tree, Exclusion) {
    struct Case {
        Strings exclude;
        Strings expected;
    };
    const Case cases[] = {
        {{}, {"Config.ini", "DB/Awards.ldb", "DB/Awards.mdb", "DB/x.ini", "tmp/zorvel3_Registry.reg"}},
        {{"*.ldb"}, {"Config.ini", "DB/Awards.mdb", "DB/x.ini", "tmp/zorvel3_Registry.reg"}},
        {{"*.ini", "*.reg"}, {"DB/Awards.ldb", "DB/Awards.mdb"}},
        {{"db/*"}, {"Config.ini", "DB/Awards.ldb", "DB/Awards.mdb", "DB/x.ini", "tmp/zorvel3_Registry.reg"}},
        {{"*/db/*"}, {"Config.ini", "tmp/zorvel3_Registry.reg"}},
        {{"DB*"}, {"Config.ini", "DB/Awards.ldb", "DB/Awards.mdb", "DB/x.ini", "tmp/zorvel3_Registry.reg"}},
    };
    for (const Case& c : cases) {
        archive::SelectionSettings s = BackupSettings(root_);
        s.ExcludeList = c.exclude;
        const Expansion e = Expand({root_ + "*.*"}, s);
        EXPECT_EQ(Sorted(Relative(e.list, root_)), c.expected)
            << (c.exclude.empty() ? std::string("(none)") : c.exclude.front());
    }
    // A single file is excluded before it is looked up, so an excluded missing file raises nothing.
    archive::SelectionSettings s;
    s.ExcludeList = {"*.ini", "*.reg"};
    const Expansion e = Expand({root_ + "Config.ini", root_ + "tmp/absent.reg"}, s);
    EXPECT_TRUE(e.list.empty());
    EXPECT_TRUE(e.missing.empty());
}

TEST_F(Tree, Freshen) {
    archive::SelectionSettings s = BackupSettings(root_);
    s.ZipAction = archive::zaFreshen;
    Strings asked;
    auto has = [&](const std::string& stored) {
        asked.push_back(stored);
        return stored == "Config.ini" || stored == "DB/Awards.mdb";
    };
    const Expansion e = Expand({root_ + "Config.ini", root_ + "DB/x.ini", root_ + "DB/*.mdb"}, s, has);
    EXPECT_EQ(Relative(e.list, root_), (Strings{"Config.ini", "DB/Awards.mdb"}));
    EXPECT_EQ(Sorted(asked), (Strings{"Config.ini", "DB/Awards.mdb", "DB/x.ini"}));
    // Without a way to ask the archive, nothing is fresher than it.
    EXPECT_TRUE(Expand({root_ + "Config.ini"}, s).list.empty());
    // Other actions never ask.
    s.ZipAction = archive::zaUpdate;
    asked.clear();
    EXPECT_EQ(Expand({root_ + "Config.ini"}, s, has).list.size(), 1u);
    EXPECT_TRUE(asked.empty());
}

TEST_F(Tree, ArchiveBitFilter) {
    const std::string cleared = root_ + "DB/Awards.mdb";
    archive::fs::SetAttributes(cleared, archive::fs::faNormal);
    const auto attributes = archive::fs::GetAttributes(cleared);
    if (!attributes || (*attributes & archive::fs::faArchive) != 0)
        GTEST_SKIP() << "this file system keeps no DOS attributes";

    archive::SelectionSettings s;
    s.SkipIfArchiveBitNotSet = true;
    const Expansion e = Expand({cleared, root_ + "Config.ini", "|" + root_ + "DB/*.*"}, s);
    EXPECT_EQ(Sorted(Relative(e.list, root_)), (Strings{"Config.ini", "DB/Awards.ldb", "DB/x.ini"}));
    s.SkipIfArchiveBitNotSet = false;
    EXPECT_EQ(Expand({cleared}, s).list.size(), 1u);
}

}  // namespace
