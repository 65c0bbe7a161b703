// Folder listing, folder creation with all parents, and folder removal.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "tests/support/test_support.h"

namespace fs = archive::fs;
using testing_support::MakeDirs;
using testing_support::PathExists;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

const fs::DirEntry* Find(const std::vector<fs::DirEntry>& items, const std::string& name) {
    for (const auto& item : items)
        if (item.name == name) return &item;
    return nullptr;
}

TEST(ListDirectoryTest, ListsEveryItemWithItsData) {
    TempDir dir;
    WriteFile(dir / "DB/Logs.mdb", std::string(1234, 'x'));
    WriteFile(dir / "DB/.lock", "");
    MakeDirs(dir / "DB/Sub");
    symlink("nowhere", (dir / "DB/dangling").c_str());
    ASSERT_TRUE(fs::SetFileDosTime(dir / "DB/Logs.mdb", 0x58B06A5Bu));

    std::vector<fs::DirEntry> items{{"stale", 0, 0, 0}};  // replaced, not appended to
    ASSERT_TRUE(fs::ListDirectory(dir / "db", items));
    std::vector<std::string> names;
    for (const auto& item : items) names.push_back(item.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".lock", "Logs.mdb", "Sub", "dangling"}));

    const auto* logs = Find(items, "Logs.mdb");
    ASSERT_NE(logs, nullptr);
    EXPECT_EQ(logs->size, 1234);
    EXPECT_EQ(logs->attributes, fs::faArchive);
    EXPECT_EQ(logs->dosTime, 0x58B06A5Bu & ~0u);
    EXPECT_EQ(Find(items, ".lock")->attributes, fs::faArchive | fs::faHidden);
    EXPECT_EQ(Find(items, "Sub")->attributes, fs::faDirectory);
    EXPECT_EQ(Find(items, "Sub")->size, 0);
}

TEST(ListDirectoryTest, FailsOnWhatIsNoFolder) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    std::vector<fs::DirEntry> items{{"stale", 0, 0, 0}};
    EXPECT_FALSE(fs::ListDirectory(dir / "missing", items));
    EXPECT_TRUE(items.empty());
    EXPECT_FALSE(fs::ListDirectory(dir / "file", items));
    ASSERT_TRUE(fs::ListDirectory(dir.Path() + "/", items));  // a trailing separator is fine
    EXPECT_EQ(items.size(), 1u);
}

TEST(ForceDirectoriesTest, CreatesAllLevels) {
    TempDir dir;
    const std::string deep = dir / "a/b/c/d/e/f/g/h/i/j";
    EXPECT_TRUE(fs::ForceDirectories(deep));
    EXPECT_TRUE(fs::DirectoryExists(deep));
    EXPECT_TRUE(fs::ForceDirectories(deep + "/"));  // already there
    EXPECT_TRUE(fs::ForceDirectories(dir / "A/B/c/X/y"));  // existing levels in another case are used
    EXPECT_TRUE(PathExists(dir / "a/b/c/X/y"));
    EXPECT_FALSE(PathExists(dir / "A"));
}

TEST(ForceDirectoriesTest, ReportsWhatCannotBeMade) {
    TempDir dir;
    WriteFile(dir / "file", "x");
    EXPECT_FALSE(fs::ForceDirectories(dir / "file/sub"));  // a file in the way
    EXPECT_FALSE(fs::ForceDirectories(""));
    if (geteuid() != 0) {
        MakeDirs(dir / "locked");
        chmod((dir / "locked").c_str(), 0555);
        EXPECT_FALSE(fs::ForceDirectories(dir / "locked/x/y"));
        chmod((dir / "locked").c_str(), 0755);
    }
}

TEST(ForceDirectoriesTest, RelativePaths) {
    TempDir dir;
    const std::string before = fs::CurrentDirectory();
    ASSERT_TRUE(fs::SetCurrentDirectory(dir.Path()));
    EXPECT_TRUE(fs::ForceDirectories("tmp/one/two"));
    EXPECT_TRUE(fs::ForceDirectories("./TMP/../tmp/three"));
    ASSERT_TRUE(fs::SetCurrentDirectory(before));
    EXPECT_TRUE(PathExists(dir / "tmp/one/two"));
    EXPECT_TRUE(PathExists(dir / "tmp/three"));
}

TEST(RemoveDirectoryTest, RemovesOnlyEmptyFolders) {
    TempDir dir;
    MakeDirs(dir / "Empty");
    WriteFile(dir / "Full/x", "x");
    EXPECT_TRUE(fs::RemoveDirectory(dir / "empty"));
    EXPECT_FALSE(PathExists(dir / "Empty"));
    EXPECT_FALSE(fs::RemoveDirectory(dir / "full"));
    EXPECT_FALSE(fs::RemoveDirectory(dir / "Full/x"));
    EXPECT_TRUE(PathExists(dir / "Full/x"));
}

}  // namespace
