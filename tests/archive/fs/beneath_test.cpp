// The folder walk's containment decision: a link below the destination is entered only when the place
// it leads to lies inside the destination. One table: links to a folder inside (relative, absolute,
// through ".."), to the destination itself (inside too), to a sibling whose name starts with the destination's, to
// the parent and to a folder of another tree, dangling links, and ".." in the path.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>

#include "archive/fs/fs.h"
#include "tests/support/test_support.h"

namespace archive::fs {
namespace {

using testing_support::MakeDirs;
using testing_support::TempDir;

TEST(FolderBeneath, ALinkIsEnteredOnlyWhenItLeadsInside) {
    TempDir tmp;
    const std::string dest = tmp / "dest";
    MakeDirs(dest + "/inner/deep");
    MakeDirs(tmp / "dest-sibling");
    MakeDirs(tmp / "destination");
    MakeDirs(tmp / "elsewhere");
    const struct {
        const char* link;
        std::string target;
        BeneathResult expected;
    } cases[] = {
        {"to_inner", "inner", BeneathResult::Ok},
        {"to_deep_absolute", dest + "/inner/deep", BeneathResult::Ok},
        {"to_inner_through_parent", "../dest/inner", BeneathResult::Ok},
        {"to_itself", ".", BeneathResult::Ok},  // the destination itself is inside
        {"to_dest_absolute", dest, BeneathResult::Ok},
        {"to_sibling_sharing_its_name", "../dest-sibling", BeneathResult::LeavesDestination},
        {"to_sibling_absolute", tmp / "dest-sibling", BeneathResult::LeavesDestination},
        {"to_longer_name", "../destination", BeneathResult::LeavesDestination},
        {"to_parent", "..", BeneathResult::LeavesDestination},
        {"to_elsewhere", tmp / "elsewhere", BeneathResult::LeavesDestination},
        {"to_root", "/", BeneathResult::LeavesDestination},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.link);
        ASSERT_EQ(symlink(c.target.c_str(), (dest + "/" + c.link).c_str()), 0);
        for (const bool create : {false, true}) {
            HeldFolder held;
            EXPECT_EQ(FolderBeneath(dest, std::string(c.link) + "/made", create, held), c.expected) << create;
        }
    }
    // Whatever was refused, nothing was made outside.
    EXPECT_FALSE(DirectoryExists(tmp / "dest-sibling/made"));
    EXPECT_FALSE(DirectoryExists(tmp / "destination/made"));
    EXPECT_FALSE(DirectoryExists(tmp / "elsewhere/made"));
    EXPECT_TRUE(DirectoryExists(dest + "/inner/made"));

    HeldFolder held;
    EXPECT_EQ(FolderBeneath(dest, "inner/../../elsewhere", true, held), BeneathResult::LeavesDestination);
    EXPECT_EQ(FolderBeneath(dest, "a/b", true, held), BeneathResult::Ok);
    EXPECT_TRUE(DirectoryExists(dest + "/a/b"));
}

}  // namespace
}  // namespace archive::fs
