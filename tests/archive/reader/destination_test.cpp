// Destination folders of extracted entries, and the refusal of names that climb out of DestDir.
#include "archive/reader/destination.h"

#include <gtest/gtest.h>

namespace {

using archive::reader::DestinationFolder;
using archive::reader::IsRefusedName;
using archive::reader::UsableFolder;

struct FolderCase {
    const char* destDir;
    bool recreate;
    const char* rootDir;
    const char* stored;
    const char* expected;
};

TEST(DestinationFolder, FollowsDestDirRecreateDirsAndRootDir) {
    const FolderCase cases[] = {
        // The logger's restore: DestDir = logger folder + "db", the entry DB/Awards.mdb.
        {"/log/db", false, "", "DB/", "/log/db/"},
        {"/log/db", true, "", "DB/", "/log/db/DB/"},
        {"/log/tmp", false, "", "tmp/", "/log/tmp/"},
        {"/log/tmp", true, "", "tmp/", "/log/tmp/tmp/"},
        // RootDir is taken off the front of the stored folder, ignoring case.
        {"/log", true, "DB/", "DB/", "/log/"},
        {"/log", true, "db/", "DB/sub/", "/log/sub/"},
        {"/log", true, "XX/", "DB/", "/log/DB/"},
        // No stored folder, or RecreateDirs off: straight into DestDir.
        {"/log", true, "", "", "/log/"},
        {"/log", false, "", "a/b/", "/log/"},
        // Empty DestDir is the current folder, never the root.
        {"", false, "", "DB/", ""},
        {"", true, "", "DB/", "DB/"},
        // Absolute and drive folders are re-rooted below DestDir.
        {"/log", true, "", "/etc/", "/log/etc/"},
        {"", true, "", "/etc/", "etc/"},
        {"/log", true, "", "C:/Windows/", "/log/Windows/"},
        {"/log", true, "", "C:Windows/", "/log/Windows/"},
        {"/log", true, "", "//x/", "/log/x/"},
        // DestDir "/" keeps its only separator.
        {"/", false, "", "", "/"},
    };
    for (const FolderCase& c : cases) {
        const auto usable = UsableFolder(c.rootDir, c.stored, "f.ini");
        ASSERT_TRUE(usable) << c.stored;
        EXPECT_EQ(DestinationFolder(c.destDir, c.recreate, *usable), c.expected)
            << c.destDir << " " << c.recreate << " " << c.rootDir << " " << c.stored;
    }
}

// Names are judged after the drive, the root and RootDir are cut: "C:.." is ".." then.
TEST(DestinationFolder, NamesThatLeaveDestDirAreRefused) {
    const std::pair<std::string, bool> cases[] = {
        {"../evil.txt", true}, {"a/../../evil.txt", true}, {"a/..", true},     {"..", true},
        {"C:../evil.ini", true}, {"C:/../evil.ini", true}, {"/../evil.ini", true}, {".", true},
        {std::string("\0x.txt", 6), true}, {std::string("a\0/x.txt", 8), true},
        {"a/b/c.txt", false},  {"..a/b", false},           {"a../b", false}, {"a/...", false},
        {"./a", false},        {"C:..x/y", false},         {"", false},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(IsRefusedName(name), expected) << name;
    // RootDir is cut before the judgement too.
    EXPECT_FALSE(UsableFolder("DB", "DB../", "x.ini"));
    EXPECT_EQ(UsableFolder("DB/", "DB/./sub//", "x.ini"), "sub/");
}

}  // namespace
