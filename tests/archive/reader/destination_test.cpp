// Destination folders of extracted entries, and the refusal of names that climb out of DestDir or hold
// control bytes.
#include "archive/reader/destination.h"

#include <gtest/gtest.h>

namespace {

using archive::reader::DestinationFolder;
using archive::reader::IsRefusedName;
using archive::reader::NameRefusal;
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

// Names are judged after the drive, the root and RootDir are cut: "C:.." is ".." then. A control byte
// anywhere is refused for what it is, before anything is cut.
TEST(DestinationFolder, EachRefusedNameGetsItsReason) {
    const std::string outside = archive::reader::kNameLeadsOutside;
    const std::string controls = archive::reader::kNameHoldsControls;
    const std::pair<std::string, std::string> cases[] = {
        // Plain, absolute and drive names stay below DestDir.
        {"a/b/c.txt", ""}, {"..a/b", ""}, {"a../b", ""}, {"a/...", ""}, {"./a", ""}, {"", ""},
        {"/etc/passwd", ""}, {"//srv/x", ""}, {"C:/Windows/x.ini", ""}, {"C:x.ini", ""}, {"C:..x/y", ""},
        {"Gr\xC3\xBC\xC3\x9F" "e/\xE6\x97\xA5.txt", ""}, {"nbsp\xC2\xA0.txt", ""},
        // Climbing out, after the drive or the root is cut.
        {"../evil.txt", outside}, {"a/../../evil.txt", outside}, {"a/..", outside}, {"..", outside},
        {"C:../evil.ini", outside}, {"C:/../evil.ini", outside}, {"/../evil.ini", outside}, {".", outside},
        // Control bytes, in the folder or in the file name, whatever else the name does.
        {std::string("\0x.txt", 6), controls}, {std::string("a\0/x.txt", 8), controls},
        {std::string("x.txt\0.jpg", 10), controls},
        {"\x01", controls}, {"dir/tab\tname", controls}, {"new\nline/x", controls}, {"del\x7f", controls},
        {"unit\x1f.sep", controls}, {"\x1b[2J\x1b[1;1Hok.txt", controls}, {"../\x1b.txt", controls},
        {"C:\x01/x", controls},
    };
    for (const auto& [name, reason] : cases) {
        const size_t slash = name.rfind('/');
        const size_t split = slash == std::string::npos ? 0 : slash + 1;
        EXPECT_EQ(NameRefusal("", name.substr(0, split), name.substr(split)), reason) << name;
        EXPECT_EQ(IsRefusedName(name), !reason.empty()) << name;
    }
    // RootDir is cut before the judgement too.
    EXPECT_FALSE(UsableFolder("DB", "DB../", "x.ini"));
    EXPECT_EQ(NameRefusal("DB", "DB../", "x.ini"), outside);
    EXPECT_EQ(UsableFolder("DB/", "DB/./sub//", "x.ini"), "sub/");
}

}  // namespace
