// Destination folders of extracted entries, and the refusal of names that climb out of DestDir.
#include "archive/reader/destination.h"

#include <gtest/gtest.h>

namespace {

using archive::reader::DestinationFolder;
using archive::reader::HasParentComponent;

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
        EXPECT_EQ(DestinationFolder(c.destDir, c.recreate, c.rootDir, c.stored), c.expected)
            << c.destDir << " " << c.recreate << " " << c.rootDir << " " << c.stored;
    }
}

TEST(DestinationFolder, ParentComponentsAreFound) {
    const std::pair<const char*, bool> cases[] = {
        {"../evil.txt", true}, {"a/../../evil.txt", true}, {"a/..", true}, {"..", true},
        {"a/b/c.txt", false},  {"..a/b", false},           {"a../b", false}, {"a/...", false},
        {"./a", false},        {"", false},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(HasParentComponent(name), expected) << name;
}

}  // namespace
