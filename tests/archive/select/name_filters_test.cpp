// Exclusion and no-compression lists: folder patterns meet the whole path, all others the name alone.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/select/file_list.h"

namespace {

struct Case {
    std::vector<std::string> patterns;
    const char* path;
    bool hit;
};

TEST(IsExcluded, Table) {
    const Case cases[] = {
        {{}, "/log/DB/a.ldb", false},
        {{"*.ldb"}, "/log/DB/Awards.ldb", true},
        {{"*.ldb"}, "/log/DB/Awards.mdb", false},
        {{"*.LDB"}, "/log/DB/awards.ldb", true},
        {{"*.txt", "*.ldb"}, "/log/DB/a.ldb", true},
        {{"log*"}, "/log/x.txt", false},    // a name pattern never sees the folders
        {{"*DB*"}, "/log/DB/a.txt", false},
        {{"tmp/*"}, "/log/tmp/x.reg", false},  // a folder pattern must match the whole path
        {{"*/tmp/*"}, "/log/tmp/x.reg", true},
        {{"*/TMP/*"}, "/log/tmp/x.reg", true},
        {{"/log/db/*.*"}, "/log/DB/Awards.mdb", true},
        {{"/log/db/*.*"}, "/log/Awards.mdb", false},
        {{"*.<lm>db"}, "/log/DB/a.ldb", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(archive::IsExcluded(c.path, c.patterns), c.hit)
            << c.path << " against " << (c.patterns.empty() ? "(empty)" : c.patterns.front());
}

TEST(IsNoCompress, Table) {
    const Case cases[] = {
        {{}, "a.zip", false},
        {{"*.zip"}, "a.zip", true},
        {{"*.ZIP", "*.jpg"}, "photo.JPG", true},
        {{"*.zip"}, "a.zipx", false},
        {{"*/a.zip"}, "a.zip", false},  // given the name part only, a folder pattern finds nothing
        {{"*"}, "anything", true},
    };
    for (const Case& c : cases) EXPECT_EQ(archive::IsNoCompress(c.path, c.patterns), c.hit) << c.path;
}

}  // namespace
