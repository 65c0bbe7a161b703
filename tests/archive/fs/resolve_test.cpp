// Case-insensitive resolution against real folders: the names the program forms ("db", "tmp/backup.ini")
// must reach what is on disk ("DB", "TMP/Backup.INI"), and names that exist in no case stay as written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "archive/fs/fs.h"
#include "tests/support/test_support.h"

namespace fs = archive::fs;
using testing_support::MakeDirs;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

class ResolveTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeDirs(dir / "DB");
        WriteFile(dir / "DB/Logs.mdb", "logs");
        MakeDirs(dir / "Tmp/Sub");
        WriteFile(dir / "Tmp/Sub/Backup.INI", "ini");
        WriteFile(dir / "exact.txt", "lower");
        WriteFile(dir / "EXACT.txt", "upper");
        // Three spellings of one name: the smallest in byte order ("ABC") must win.
        WriteFile(dir / "abc", "3");
        WriteFile(dir / "Abc", "2");
        WriteFile(dir / "ABC", "1");
    }
    TempDir dir;
};

TEST_F(ResolveTest, FindsEntriesIgnoringCase) {
    const std::string root = dir.Path();
    struct Case {
        std::string formed, expected;
    } cases[] = {
        {"DB/Logs.mdb", "DB/Logs.mdb"},               // exact
        {"db/logs.mdb", "DB/Logs.mdb"},               // every component folded
        {"Db/LOGS.MDB", "DB/Logs.mdb"},
        {"db", "DB"},
        {"db/", "DB/"},                               // trailing separator kept
        {"tmp/sub/backup.ini", "Tmp/Sub/Backup.INI"},  // nested mixed case
        {"TMP//SUB/backup.ini", "Tmp/Sub/Backup.INI"},  // doubled separator dropped
        {"exact.txt", "exact.txt"},                   // exact wins over a folded match
        {"EXACT.txt", "EXACT.txt"},
        {"Exact.TXT", "EXACT.txt"},                   // ambiguous: first in byte order
        {"aBc", "ABC"},
        {"db/new.mdb", "DB/new.mdb"},                 // missing tail kept as written
        {"db/NewDir/x/y.txt", "DB/NewDir/x/y.txt"},
        {"NoSuch/db/logs.mdb", "NoSuch/db/logs.mdb"},  // nothing after a missing part is folded
        {"tmp/./sub/../SUB/backup.ini", "Tmp/./Sub/../Sub/Backup.INI"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fs::Resolve(root + "/" + c.formed), root + "/" + c.expected) << c.formed;
    }
}

TEST_F(ResolveTest, RelativePathsResolveAgainstTheCurrentFolder) {
    const std::string before = fs::CurrentDirectory();
    ASSERT_TRUE(fs::SetCurrentDirectory(dir.Path()));
    EXPECT_EQ(fs::Resolve("db/logs.mdb"), "DB/Logs.mdb");
    EXPECT_EQ(fs::Resolve("./db/logs.mdb"), "./DB/Logs.mdb");
    EXPECT_EQ(fs::Resolve("tmp/sub/../../db"), "Tmp/Sub/../../DB");
    EXPECT_EQ(fs::Resolve("missing/file"), "missing/file");
    ASSERT_TRUE(fs::SetCurrentDirectory("db"));  // SetCurrentDirectory resolves too
    EXPECT_EQ(fs::CurrentDirectory(), dir / "DB");
    EXPECT_EQ(fs::Resolve("../TMP"), "../Tmp");
    ASSERT_TRUE(fs::SetCurrentDirectory(before));
}

TEST_F(ResolveTest, EmptyAndRootStayAsTheyAre) {
    EXPECT_EQ(fs::Resolve(""), "");
    EXPECT_EQ(fs::Resolve("/"), "/");
}

TEST_F(ResolveTest, EveryServiceResolvesItsPaths) {
    const std::string formed = dir / "db/logs.mdb";
    EXPECT_TRUE(fs::Exists(formed));
    EXPECT_TRUE(fs::FileExists(formed));
    EXPECT_FALSE(fs::DirectoryExists(formed));
    EXPECT_TRUE(fs::DirectoryExists(dir / "db"));
    EXPECT_FALSE(fs::FileExists(dir / "db"));
    EXPECT_EQ(fs::GetFileSize(formed), 4);
    EXPECT_TRUE(fs::GetAttributes(formed).has_value());
    EXPECT_TRUE(fs::GetFileDosTime(formed).has_value());
    EXPECT_FALSE(fs::Exists(dir / "db/none.mdb"));
    EXPECT_FALSE(fs::GetAttributes(dir / "db/none.mdb").has_value());
    EXPECT_FALSE(fs::GetFileSize(dir / "db/none.mdb").has_value());
}

}  // namespace
