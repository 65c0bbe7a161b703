// Path text helpers, absolute paths and the well-known folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "archive/fs/fs.h"
#include "tests/support/test_support.h"

namespace fs = archive::fs;

namespace {

TEST(PathsTest, SplitsFolderNameAndExtension) {
    struct Case {
        std::string path, folder, name, ext;
    } cases[] = {
        {"/a/b/c.txt", "/a/b/", "c.txt", ".txt"},
        {"c.txt", "", "c.txt", ".txt"},
        {"/a/b/", "/a/b/", "", ""},
        {"/a.d/b", "/a.d/", "b", ""},  // a dot in a folder name is no extension
        {"x.tar.gz", "", "x.tar.gz", ".gz"},
        {"/", "/", "", ""},
        {"", "", "", ""},
        {"DB/.hidden", "DB/", ".hidden", ".hidden"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(fs::ExtractFilePath(c.path), c.folder) << c.path;
        EXPECT_EQ(fs::ExtractFileName(c.path), c.name) << c.path;
        EXPECT_EQ(fs::ExtractFileExt(c.path), c.ext) << c.path;
    }
}

TEST(PathsTest, ChangesExtensions) {
    EXPECT_EQ(fs::ChangeFileExt("/a/b.zip", ".tmp"), "/a/b.tmp");
    EXPECT_EQ(fs::ChangeFileExt("/a.d/b", ".tmp"), "/a.d/b.tmp");
    EXPECT_EQ(fs::ChangeFileExt("x.tar.gz", ""), "x.tar");
}

TEST(PathsTest, TrailingSeparators) {
    EXPECT_EQ(fs::IncludeTrailingSeparator("/a"), "/a/");
    EXPECT_EQ(fs::IncludeTrailingSeparator("/a/"), "/a/");
    EXPECT_EQ(fs::IncludeTrailingSeparator(""), "");  // never re-roots a relative folder part
    EXPECT_EQ(fs::ExcludeTrailingSeparator("/a/"), "/a");
    EXPECT_EQ(fs::ExcludeTrailingSeparator("/a"), "/a");
    EXPECT_EQ(fs::ExcludeTrailingSeparator("/"), "/");
}

TEST(PathsTest, ExpandsAgainstTheCurrentFolder) {
    testing_support::TempDir dir;
    const std::string before = fs::CurrentDirectory();
    ASSERT_TRUE(fs::SetCurrentDirectory(dir.Path()));
    EXPECT_EQ(fs::ExpandFileName("x/y.txt"), dir / "x/y.txt");
    EXPECT_EQ(fs::ExpandFileName("./x/../y/"), dir / "y/");
    EXPECT_EQ(fs::ExpandFileName("/a/./b/../c"), "/a/c");
    EXPECT_EQ(fs::ExpandFileName("/a/b/.."), "/a");
    EXPECT_EQ(fs::ExpandFileName("/../../a"), "/a");
    EXPECT_EQ(fs::ExpandFileName("/"), "/");
    EXPECT_EQ(fs::ExpandFileName(""), "");
    ASSERT_TRUE(fs::SetCurrentDirectory(before));
    EXPECT_FALSE(fs::SetCurrentDirectory(dir / "missing"));
}

TEST(PathsTest, WellKnownFolders) {
    const std::string savedTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
    setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(fs::TempDirectory(), "/var/tmp/");
    unsetenv("TMPDIR");
    EXPECT_EQ(fs::TempDirectory(), "/tmp/");
    if (!savedTmp.empty()) setenv("TMPDIR", savedTmp.c_str(), 1);

    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/op", 1);
    EXPECT_EQ(fs::HomeDirectory(), "/home/op");
    unsetenv("HOME");
    EXPECT_FALSE(fs::HomeDirectory().empty());  // from the password database
    if (!savedHome.empty()) setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
