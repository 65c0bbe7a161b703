// Deleting, renaming over a target, scratch files and their sweep, and free space.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/statvfs.h>

#include <set>
#include <vector>
#include <string>

#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
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

TEST(ScratchFileTest, MakesUniqueLockedFilesWithOrdinaryPermissions) {
    TempDir dir;
    MakeDirs(dir / "TMP");
    std::set<std::string> names;
    std::vector<fs::ScratchFile> files;
    for (int i = 0; i < 50; ++i) {
        fs::ScratchFile file = fs::ScratchFile::Create(dir / "tmp");
        ASSERT_TRUE(file.Valid());
        EXPECT_EQ(fs::ExtractFilePath(file.Path()), dir / "TMP/");
        EXPECT_TRUE(fs::IsScratchName(fs::ExtractFileName(file.Path()))) << file.Path();
        EXPECT_EQ(fs::GetFileSize(file.Path()), 0);
        names.insert(file.Path());
        files.push_back(std::move(file));
    }
    EXPECT_EQ(names.size(), 50u);
    // Every one of them is held: a sweep, even by this process, takes none.
    EXPECT_EQ(fs::RemoveStaleScratchFiles(dir / "tmp"), 0);
    files.clear();  // discarded
    for (const std::string& name : names) EXPECT_FALSE(PathExists(name));

    // Given the permissions of any new file, not mkstemp's 0600; released, it stays where it was put.
    const mode_t mask = umask(022);
    fs::ScratchFile file = fs::ScratchFile::Create(dir.Path());
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(file.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    ASSERT_TRUE(fs::RenameFile(file.Path(), dir / "kept.txt"));
    file.Release();
    EXPECT_TRUE(PathExists(dir / "kept.txt"));

    EXPECT_FALSE(fs::ScratchFile::Create(dir / "missing").Valid());
}

// The sweep removes exactly the scratch files nobody holds: not a live one of another process (a real
// child holding the lock), not names that only look alike, not folders.
TEST(ScratchFileTest, SweepRemovesOnlyStaleScratchFiles) {
    TempDir dir;
    for (const char* name : {".zbk-Ab12cD", ".zbk-zzzzzz", ".zbk-abc", "zbk-abcdef", ".zbk-abcdefg", ".zbk-ab.def"})
        WriteFile(dir / name, "x");
    MakeDirs(dir / ".zbk-folder");
    const std::string held = dir / ".zbk-HELD01";
    WriteFile(held, "held by a running instance");
    // The child takes the lock, says so, and keeps it until its input closes.
    const std::string command = "python3 -c 'import fcntl,sys; f=open(sys.argv[1]); fcntl.flock(f, fcntl.LOCK_EX); "
                                "print(\"locked\", flush=True); sys.stdin.read()' " + testing_support::ShellQuote(held);
    std::FILE* child = popen(command.c_str(), "w");
    ASSERT_NE(child, nullptr);
    // Wait for the lock: our own try fails once the child holds it.
    for (int i = 0; i < 500; ++i) {
        const int fd = open(held.c_str(), O_RDONLY);
        const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
        close(fd);
        if (!free) break;
        usleep(10000);
    }
    EXPECT_EQ(fs::RemoveStaleScratchFiles(dir.Path()), 2);
    pclose(child);
    EXPECT_FALSE(PathExists(dir / ".zbk-Ab12cD"));
    EXPECT_FALSE(PathExists(dir / ".zbk-zzzzzz"));
    for (const char* name : {".zbk-HELD01", ".zbk-abc", "zbk-abcdef", ".zbk-abcdefg", ".zbk-ab.def", ".zbk-folder"})
        EXPECT_TRUE(PathExists(dir / name)) << name;
    // Its holder gone, the live one is debris too.
    EXPECT_EQ(fs::RemoveStaleScratchFiles(dir.Path()), 1);
    EXPECT_EQ(fs::RemoveStaleScratchFiles(dir / "missing"), 0);
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
