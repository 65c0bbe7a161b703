// Stored names from full paths under every combination of the naming settings that changes the result.
#include <gtest/gtest.h>

#include <string>

#include "archive/select/file_list.h"

namespace {

struct Settings {
    bool storePaths;
    bool relativePaths;
    bool storeVolumes;
    const char* rootDir;
};

struct Case {
    const char* what;
    Settings settings;
    const char* path;
    const char* directory;
    const char* fileName;
};

constexpr Settings kNameOnly{false, false, false, "/log/"};
constexpr Settings kPaths{true, false, false, "/log/"};
constexpr Settings kRelative{true, true, false, "/log/"};
constexpr Settings kVolumes{true, false, true, "/log/"};

TEST(DeriveStoredName, Table) {
    const Case cases[] = {
        {"no paths: name alone", kNameOnly, "/log/DB/a.db", "", "a.db"},
        {"no paths, even with RelativePaths", {false, true, false, "/log/"}, "/log/DB/a.db", "", "a.db"},
        {"no paths: folder entry has no name", kNameOnly, "/log/DB/", "", ""},
        {"paths: one leading '/' removed", kPaths, "/log/DB/a.db", "log/DB/", "a.db"},
        {"paths: file at the root", kPaths, "/a.db", "", "a.db"},
        {"paths: bare name has no folder", kPaths, "a.db", "", "a.db"},
        {"paths: relative folder kept", kPaths, "tmp/x.reg", "tmp/", "x.reg"},
        {"paths: doubled separator folds to one", kPaths, "/log/DB//a.db", "log/DB/", "a.db"},
        {"volumes keep the leading '/'", kVolumes, "/log/DB/a.db", "/log/DB/", "a.db"},
        {"relative: under RootDir", kRelative, "/log/DB/a.db", "DB/", "a.db"},
        {"relative: directly in RootDir", kRelative, "/log/Config.ini", "", "Config.ini"},
        {"relative: folder keeps the path's case", kRelative, "/log/DB/Awards.mdb", "DB/", "Awards.mdb"},
        {"relative: RootDir compared ignoring case", kRelative, "/LOG/db/Awards.mdb", "db/", "Awards.mdb"},
        {"relative: outside RootDir stays whole", kRelative, "/other/x.txt", "/other/", "x.txt"},
        {"relative: RootDir without its '/' is no loose prefix", {true, true, false, "/log"}, "/logger/x.txt",
         "/logger/", "x.txt"},
        {"relative: RootDir without its '/' still applies", {true, true, false, "/log"}, "/log/x/y.txt", "x/",
         "y.txt"},
        {"relative: no RootDir, nothing taken off", {true, true, false, ""}, "/log/a.txt", "/log/", "a.txt"},
        {"relative: folder entry", kRelative, "/log/DB/", "DB/", ""},
        {"relative: folder entry of RootDir itself", kRelative, "/log/", "", ""},
        {"relative: nested folder entry", kRelative, "/log/DB/Old/", "DB/Old/", ""},
        {"non-ASCII name kept", kRelative, "/log/\xC3\x84rger.txt", "", "\xC3\x84rger.txt"},
        // A byte that is not UTF-8 comes back as its CP437 reading, as a reader of the archive will see it.
        {"non-UTF-8 byte", kRelative, "/log/\xE4.txt", "", "\xCE\xA3.txt"},
    };
    for (const Case& c : cases) {
        archive::SelectionSettings s;
        s.StorePaths = c.settings.storePaths;
        s.RelativePaths = c.settings.relativePaths;
        s.StoreVolumes = c.settings.storeVolumes;
        s.RootDir = c.settings.rootDir;
        const archive::StoredName name = archive::DeriveStoredName(c.path, s);
        EXPECT_EQ(name.Directory, c.directory) << c.what;
        EXPECT_EQ(name.FileName, c.fileName) << c.what;
    }
}

}  // namespace
