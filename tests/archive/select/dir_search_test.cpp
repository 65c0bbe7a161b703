// The folder walker on real trees: what it delivers and in which order, what it never enters, how deep
// it goes, wildcard folder components, and folders written in another letter case than on disk.
#include "archive/select/dir_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "tests/support/test_support.h"

namespace {

using testing_support::MakeDirs;
using testing_support::TempDir;
using testing_support::WriteFile;

// Everything a walk delivers, in order.
std::vector<std::string> Walk(const std::string& folder, const std::string& mask, bool recurse) {
    archive::TDirSearch search(folder, mask, recurse);
    std::vector<std::string> out;
    archive::TSearchData found;
    std::string name;
    while (search.NextFile(found, name)) out.push_back(name);
    EXPECT_TRUE(name.empty());
    return out;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// Paths relative to `base` ("/tmp/x/" + "a/b" -> "a/b").
std::vector<std::string> Relative(const std::vector<std::string>& paths, const std::string& base) {
    std::vector<std::string> out;
    for (const std::string& p : paths) {
        EXPECT_EQ(p.compare(0, base.size(), base), 0) << p;
        out.push_back(p.substr(base.size()));
    }
    return out;
}

TEST(TDirSearch, MasksAgainstNamesWithAndWithoutDots) {
    TempDir dir;
    for (const char* f : {"README", "Awards.mdb", "x.mdb.bak", "notes.md", "a.data", ".lock"})
        WriteFile(dir / f, "x");
    MakeDirs(dir / "Sub.d");  // a folder is never compared with the mask
    const std::string base = dir.Path() + "/";

    struct Case {
        const char* mask;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"*.*", {".lock", "Awards.mdb", "README", "a.data", "notes.md", "x.mdb.bak"}},
        {"*", {".lock", "Awards.mdb", "README", "a.data", "notes.md", "x.mdb.bak"}},
        {"README", {}},  // compared as "README." against "README"
        {"README.", {"README"}},
        {"readme.", {"README"}},
        {"*.md", {"notes.md"}},
        {"*.dat", {}},
        {"*.mdb", {"Awards.mdb"}},
        {"*.*.*", {"x.mdb.bak"}},
        {"*.", {"README"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sorted(Relative(Walk(dir.Path(), c.mask, false), base)), c.expected) << c.mask;
}

TEST(TDirSearch, DeliversInTheFileSystemsOrder) {
    TempDir dir;
    for (const char* f : {"m.txt", "b.txt", "z.txt", "a.txt", "k.txt", "c.txt"}) WriteFile(dir / f, "x");
    std::vector<archive::fs::DirEntry> listing;
    ASSERT_TRUE(archive::fs::ListDirectory(dir.Path(), listing));
    std::vector<std::string> expected;
    for (const auto& e : listing) expected.push_back(dir.Path() + "/" + e.name);
    EXPECT_EQ(Walk(dir.Path(), "*.txt", false), expected);
}

TEST(TDirSearch, FoundRecordCarriesSizeTimeAndAttributes) {
    TempDir dir;
    WriteFile(dir / "f.bin", std::string(1234, 'x'));
    archive::TDirSearch search(dir.Path() + "/", "*.bin", false);
    archive::TSearchData found;
    std::string name;
    ASSERT_TRUE(search.NextFile(found, name));
    EXPECT_EQ(name, dir / "f.bin");
    EXPECT_EQ(found.Name, "f.bin");
    EXPECT_EQ(found.Size, 1234);
    EXPECT_EQ(found.Time, archive::fs::GetFileDosTime(dir / "f.bin").value());
    EXPECT_EQ(found.Attr, archive::fs::GetAttributes(dir / "f.bin").value());
    EXPECT_EQ(found.FindResult, 0);
    EXPECT_EQ(found.Folder, dir.Path() + "/");
    EXPECT_FALSE(search.NextFile(found, name));
    EXPECT_EQ(name, "");
    EXPECT_FALSE(search.NextFile(found, name));  // stays over
}

TEST(TDirSearch, RecursionDeliversFoldersBeforeTheirContents) {
    TempDir dir;
    WriteFile(dir / "top.ini", "x");
    WriteFile(dir / "DB/x.ini", "x");
    WriteFile(dir / "DB/Old/y.ini", "x");
    WriteFile(dir / "DB/Old/y.txt", "x");
    MakeDirs(dir / "tmp");
    WriteFile(dir / ".cache/c.ini", "x");
    WriteFile(dir / "DB/.git/g.ini", "x");
    WriteFile(dir / ".hidden.ini", "x");  // a hidden file is found like any other
    const std::string base = dir.Path() + "/";

    const std::vector<std::string> walked = Relative(Walk(dir.Path(), "*.ini", true), base);
    EXPECT_EQ(Sorted(walked), (std::vector<std::string>{".hidden.ini", "DB/", "DB/Old/", "DB/Old/y.ini", "DB/x.ini",
                                                        "tmp/", "top.ini"}));
    // Each folder comes before anything inside it.
    for (const std::string& folder : {std::string("DB/"), std::string("DB/Old/")}) {
        const auto at = std::find(walked.begin(), walked.end(), folder) - walked.begin();
        for (size_t i = 0; i < walked.size(); ++i) {
            const bool inside = walked[i].rfind(folder, 0) == 0 && walked[i] != folder;
            if (inside) {
                EXPECT_GT(static_cast<long>(i), at) << walked[i];
            }
        }
    }
    // Without recursion: only the folder's own files, no folders.
    EXPECT_EQ(Sorted(Relative(Walk(dir.Path(), "*.ini", false), base)),
              (std::vector<std::string>{".hidden.ini", "top.ini"}));
}

TEST(TDirSearch, StopsTwentyLevelsBelowTheStart) {
    TempDir dir;
    std::string path = dir.Path();
    WriteFile(path + "/f.txt", "0");
    for (int level = 1; level <= 25; ++level) {
        path += "/d" + std::to_string(level);
        WriteFile(path + "/f.txt", std::to_string(level));
    }
    const std::vector<std::string> walked = Walk(dir.Path(), "*.txt", true);
    size_t files = 0, folders = 0, deepest = 0;
    for (const std::string& p : walked) {
        const size_t depth = std::count(p.begin() + static_cast<long>(dir.Path().size()), p.end(), '/') -
                             (p.back() == '/' ? 1 : 0) - 1;
        (p.back() == '/' ? folders : files)++;
        deepest = std::max(deepest, depth);
    }
    EXPECT_EQ(files, 21u);    // the start folder's file and one in each of 20 levels
    EXPECT_EQ(folders, 20u);  // d1 .. d20; d21 is neither entered nor delivered
    EXPECT_EQ(deepest, 20u);
}

TEST(TDirSearch, WildcardFolderComponents) {
    TempDir dir;
    WriteFile(dir / "a1/x/f.txt", "x");
    WriteFile(dir / "a1/x/deeper/g.txt", "x");
    WriteFile(dir / "A2/X/f.txt", "x");  // components match ignoring case
    WriteFile(dir / "b1/x/f.txt", "x");
    WriteFile(dir / ".a3/x/f.txt", "x");  // a dot-folder is never entered, even when it matches
    WriteFile(dir / "a1/f.txt", "x");     // files on a wildcard level are passed over
    WriteFile(dir / "a4/y/f.txt", "x");
    WriteFile(dir / "a5", "a file, not a folder");
    const std::string base = dir.Path() + "/";

    EXPECT_EQ(Sorted(Relative(Walk(dir / "a*/x", "*.txt", false), base)),
              (std::vector<std::string>{"A2/X/f.txt", "a1/x/f.txt"}));
    EXPECT_EQ(Sorted(Relative(Walk(dir / "a*/x/", "*.txt", true), base)),
              (std::vector<std::string>{"A2/X/f.txt", "a1/x/deeper/", "a1/x/deeper/g.txt", "a1/x/f.txt"}));
    EXPECT_EQ(Sorted(Relative(Walk(dir / "?1/*", "*.txt", false), base)),
              (std::vector<std::string>{"a1/x/f.txt", "b1/x/f.txt"}));
    EXPECT_EQ(Walk(dir / "z*/x", "*.txt", false), std::vector<std::string>{});
    EXPECT_EQ(Walk(dir / "nothere/a*", "*.txt", false), std::vector<std::string>{});
}

TEST(TDirSearch, FolderWrittenInAnotherCaseKeepsTheCallersCase) {
    TempDir dir;
    WriteFile(dir / "db/Awards.mdb", "x");
    WriteFile(dir / "db/Sub/Logs.mdb", "x");
    EXPECT_EQ(Walk(dir / "DB", "*.*", false), std::vector<std::string>{dir / "DB/Awards.mdb"});
    EXPECT_EQ(Sorted(Walk(dir / "Db/", "*.mdb", true)),
              (std::vector<std::string>{dir / "Db/Awards.mdb", dir / "Db/Sub/", dir / "Db/Sub/Logs.mdb"}));
}

TEST(TDirSearch, NothingToWalk) {
    TempDir dir;
    EXPECT_EQ(Walk(dir / "missing", "*.*", true), std::vector<std::string>{});
    EXPECT_EQ(Walk("", "*.*", true), std::vector<std::string>{});  // never the root or the current folder
    WriteFile(dir / "plain", "x");
    EXPECT_EQ(Walk(dir / "plain", "*.*", true), std::vector<std::string>{});  // a file is no folder
    MakeDirs(dir / "empty");
    EXPECT_EQ(Walk(dir / "empty", "*.*", true), std::vector<std::string>{});
}

TEST(TDirSearch, FolderGoneBeforeItsTurnWalksAsEmpty) {
    // The parent's listing still names the folders removed mid-walk; opening them must yield nothing
    // rather than fail the walk.
    TempDir dir;
    for (const char* f : {"s1/f.txt", "s2/f.txt", "s3/f.txt", "s4/f.txt"}) WriteFile(dir / f, "x");
    archive::TDirSearch search(dir.Path(), "*.txt", true);
    archive::TSearchData found;
    std::string first;
    ASSERT_TRUE(search.NextFile(found, first));
    ASSERT_EQ(first.back(), '/');
    for (const char* s : {"s1", "s2", "s3", "s4"})
        if (dir / (std::string(s) + "/") != first) std::filesystem::remove_all(dir / s);
    std::vector<std::string> files;
    std::string name;
    while (search.NextFile(found, name))
        if (name.back() != '/') files.push_back(name);
    EXPECT_EQ(files, std::vector<std::string>{first + "f.txt"});
}

TEST(TDirSearch, AbandonedWalkClosesItsLevels) {
    // Destroying a walker in the middle of a deep walk must release every level (ASan runs see leaks).
    TempDir dir;
    WriteFile(dir / "a/b/c/d/e.txt", "x");
    archive::TDirSearch search(dir.Path(), "*.*", true);
    archive::TSearchData found;
    std::string name;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(search.NextFile(found, name));
    EXPECT_EQ(name, dir / "a/b/c/");
}

}  // namespace
