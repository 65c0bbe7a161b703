// Deleting, renaming over a target, temporary files and free space.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include <set>
#include <string>

#include "archive/fs/fs.h"
#include "tests/support/test_support.h"

namespace fs = archive::fs;
using testing_support::MakeDirs;
using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

TEST(DeleteFileTest, DeletesFilesOnly) {
    TempDir dir;
    WriteFile(dir / "DB/Old.bak", "x");
    EXPECT_TRUE(fs::DeleteFile(dir / "db/old.BAK"));
    EXPECT_FALSE(PathExists(dir / "DB/Old.bak"));
    EXPECT_FALSE(fs::DeleteFile(dir / "db/old.BAK"));
    EXPECT_FALSE(fs::DeleteFile(dir / "db"));
    EXPECT_TRUE(PathExists(dir / "DB"));
}

TEST(RenameFileTest, ReplacesAnExistingTarget) {
    TempDir dir;
    WriteFile(dir / "new.tmp", "new");
    WriteFile(dir / "Backup.ZIP", "old");
    // The target formed in lower case replaces the file that is there; no second file appears.
    ASSERT_TRUE(fs::RenameFile(dir / "NEW.tmp", dir / "backup.zip"));
    EXPECT_EQ(ReadFile(dir / "Backup.ZIP"), "new");
    EXPECT_FALSE(PathExists(dir / "backup.zip"));
    EXPECT_FALSE(PathExists(dir / "new.tmp"));
    EXPECT_FALSE(fs::RenameFile(dir / "new.tmp", dir / "x"));
}

TEST(RenameFileTest, ChangesOnlyTheCase) {
    TempDir dir;
    WriteFile(dir / "Sub/readme.txt", "r");
    ASSERT_TRUE(fs::RenameFile(dir / "sub/readme.txt", dir / "sub/README.TXT"));
    EXPECT_TRUE(PathExists(dir / "Sub/README.TXT"));
    EXPECT_FALSE(PathExists(dir / "Sub/readme.txt"));
}

TEST(RenameFileTest, MovesIntoAnotherFolder) {
    TempDir dir;
    WriteFile(dir / "a.txt", "a");
    MakeDirs(dir / "Target");
    ASSERT_TRUE(fs::RenameFile(dir / "a.txt", dir / "target/b.txt"));
    EXPECT_EQ(ReadFile(dir / "Target/b.txt"), "a");
}

TEST(CreateTempFileTest, MakesUniqueEmptyFiles) {
    TempDir dir;
    MakeDirs(dir / "TMP");
    std::set<std::string> names;
    for (int i = 0; i < 50; ++i) {
        const std::string path = fs::CreateTempFile(dir / "tmp", "zb");
        ASSERT_FALSE(path.empty());
        EXPECT_EQ(fs::ExtractFilePath(path), dir / "TMP/");
        EXPECT_EQ(fs::ExtractFileName(path).rfind("zb", 0), 0u) << path;
        EXPECT_EQ(fs::GetFileSize(path), 0);
        names.insert(path);
    }
    EXPECT_EQ(names.size(), 50u);

    // Given the permissions of any new file, not mkstemp's 0600.
    const mode_t mask = umask(022);
    const std::string path = fs::CreateTempFile(dir.Path() + "/", "p");
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    EXPECT_EQ(fs::CreateTempFile(dir / "missing", "zb"), "");
}

TEST(FreeSpaceTest, ReportsTheFileSystemOfThePath) {
    TempDir dir;
    struct statvfs vfs {};
    ASSERT_EQ(statvfs(dir.Path().c_str(), &vfs), 0);
    const auto free = fs::FreeSpace(dir.Path());
    ASSERT_TRUE(free.has_value());
    const uint64_t expected = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // Other processes write meanwhile: allow some slack.
    EXPECT_NEAR(static_cast<double>(*free), static_cast<double>(expected), 64.0 * 1024 * 1024);
    // A file about to be created counts on the folder that will hold it.
    EXPECT_TRUE(fs::FreeSpace(dir / "not/yet/there.zip").has_value());
}

}  // namespace
