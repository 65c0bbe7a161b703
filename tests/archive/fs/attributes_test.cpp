// Attribute words: derived from type, mode and name; read from and written to user.DOSATTRIB; and the
// same words as Wine itself keeps and shows them.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"
#include "tests/support/test_support.h"

namespace fs = archive::fs;
using testing_support::MakeDirs;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

std::string ReadXattr(const std::string& path) {
    char buf[256];
    const ssize_t n = getxattr(path.c_str(), "user.DOSATTRIB", buf, sizeof buf);
    return n < 0 ? std::string("<none>") : std::string(buf, static_cast<size_t>(n));
}

void WriteXattr(const std::string& path, const std::string& value) {
    ASSERT_EQ(setxattr(path.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0), 0) << std::strerror(errno);
}

// Why user extended attributes cannot be tested in `folder`, or "" when they can.
std::string XattrRefusal(const std::string& folder) {
    const std::string probe = folder + "/xattr-probe";
    WriteFile(probe, "");
    const int rc = setxattr(probe.c_str(), "user.zb-probe", "1", 1, 0);
    const int err = errno;
    unlink(probe.c_str());
    return rc == 0 ? std::string() : folder + ": " + std::strerror(err);
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

TEST(DosAttribTextTest, ParsesTheTextForm) {
    using archive::fs::detail::ParseDosAttrib;
    EXPECT_EQ(ParseDosAttrib("0x22"), 0x22u);
    EXPECT_EQ(ParseDosAttrib("0x6"), 0x6u);
    EXPECT_EQ(ParseDosAttrib("0x2A"), 0x2Au);
    EXPECT_EQ(ParseDosAttrib(std::string("0x20\0", 5)), 0x20u);  // with a terminating NUL
    // Text first, binary records after the NUL: only the text counts.
    EXPECT_EQ(ParseDosAttrib(std::string("0x21\0\0\3\0\3\0\0\0\x11\0\0\0", 16)), 0x21u);
    EXPECT_EQ(ParseDosAttrib(std::string("\0\0\4\0\4\0", 6)), std::nullopt);  // records only: not read
    EXPECT_EQ(ParseDosAttrib("0X6"), std::nullopt);
    EXPECT_EQ(ParseDosAttrib("6"), std::nullopt);
    EXPECT_EQ(ParseDosAttrib("0x"), std::nullopt);
    EXPECT_EQ(ParseDosAttrib("0x2g"), std::nullopt);
    EXPECT_EQ(ParseDosAttrib("0x123456789"), std::nullopt);
    EXPECT_EQ(archive::fs::detail::FormatDosAttrib(0x26), "0x26");
}

TEST(AttributesTest, DerivedWithoutExtendedAttribute) {
    TempDir dir;
    WriteFile(dir / "plain.txt", "x");
    WriteFile(dir / ".hidden", "x");
    MakeDirs(dir / "Folder");
    MakeDirs(dir / ".config");
    WriteFile(dir / "locked.txt", "x");
    chmod((dir / "locked.txt").c_str(), 0444);
    MakeDirs(dir / "LockedDir");
    chmod((dir / "LockedDir").c_str(), 0555);

    struct Case {
        std::string name;
        uint32_t expected;
    } cases[] = {
        {"plain.txt", fs::faArchive},
        {".hidden", fs::faArchive | fs::faHidden},
        {"folder", fs::faDirectory},  // formed in another case
        {".config", fs::faDirectory | fs::faHidden},
        {"locked.txt", fs::faArchive | fs::faReadOnly},
        {"LockedDir", fs::faDirectory | fs::faReadOnly},
    };
    for (const Case& c : cases) EXPECT_EQ(fs::GetAttributes(dir / c.name), c.expected) << c.name;
    chmod((dir / "LockedDir").c_str(), 0755);
}

TEST(AttributesTest, ReadOnlyGoesToTheMode) {
    TempDir dir;
    const std::string file = dir / "Data.dat";
    WriteFile(file, "x");
    chmod(file.c_str(), 0664);
    ASSERT_TRUE(fs::SetAttributes(dir / "data.DAT", fs::faReadOnly | fs::faArchive));
    EXPECT_EQ(ModeOf(file), 0444u);  // no one may write
    EXPECT_EQ(fs::GetAttributes(file), fs::faReadOnly | fs::faArchive);
    EXPECT_EQ(ReadXattr(file), "<none>");  // nothing beyond the derived word: no extended attribute
    ASSERT_TRUE(fs::SetAttributes(file, fs::faArchive));
    EXPECT_EQ(ModeOf(file), 0644u);  // the owner may write again
    EXPECT_EQ(fs::GetAttributes(file), fs::faArchive);
    EXPECT_FALSE(fs::SetAttributes(dir / "missing", fs::faArchive));
}

class XattrTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string refusedTmp = XattrRefusal(tmp.Path());
        if (refusedTmp.empty()) {
            folder = tmp.Path();
            return;
        }
        // The build folder often lives on another file system than the temporary folder.
        const std::string inBuild = testing_support::BinaryDir() + "/xattr-test";
        MakeDirs(inBuild);
        const std::string refusedBuild = XattrRefusal(inBuild);
        if (!refusedBuild.empty())
            GTEST_SKIP() << "no file system here takes user extended attributes (" << refusedTmp << "; "
                         << refusedBuild << ")";
        folder = inBuild;
    }
    std::string At(const std::string& name) const { return folder + "/" + name; }
    TempDir tmp;
    std::string folder;
};

TEST_F(XattrTest, ReadsStoredBits) {
    struct Case {
        const char* name;
        std::string value;
        bool isFolder;
        uint32_t expected;
    } cases[] = {
        {"hs.txt", "0x6", false, fs::faHidden | fs::faSysFile},  // as Wine writes it: no archive bit
        {"a-h.txt", "0x22", false, fs::faArchive | fs::faHidden},
        {"cleared.txt", "0x0", false, fs::faNormal},             // nothing left: normal
        {"nul.txt", std::string("0x24\0", 5), false, fs::faArchive | fs::faSysFile},
        {"ro-bit.txt", "0x21", false, fs::faArchive},             // read-only comes from the mode only
        {"dir-bit.txt", "0x30", false, fs::faArchive},            // so does the folder bit
        {"garbage.txt", "hidden", false, fs::faArchive},          // unreadable: derived
        {"HDir", "0x2", true, fs::faDirectory | fs::faHidden},
    };
    for (const Case& c : cases) {
        if (c.isFolder)
            MakeDirs(At(c.name));
        else
            WriteFile(At(c.name), "x");
        WriteXattr(At(c.name), c.value);
        EXPECT_EQ(fs::GetAttributes(At(c.name)), c.expected) << c.name;
    }
    EXPECT_EQ(fs::GetAttributes(At("hdir")), fs::faDirectory | fs::faHidden);  // resolved before reading
}

TEST_F(XattrTest, WritesWineTextAndReadsItBack) {
    const std::string file = At("Log.ini");
    WriteFile(file, "x");
    struct Step {
        uint32_t set;
        std::string stored;  // user.DOSATTRIB afterwards
        uint32_t got;
    } steps[] = {
        {fs::faArchive | fs::faHidden, "0x22", fs::faArchive | fs::faHidden},
        {fs::faHidden | fs::faSysFile | fs::faReadOnly, "0x6", fs::faHidden | fs::faSysFile | fs::faReadOnly},
        {fs::faNormal, "0x0", fs::faNormal},     // archive bit cleared stays cleared
        {0, "0x0", fs::faNormal},
        {fs::faArchive, "<none>", fs::faArchive},  // the derived word again: attribute removed
        // High bits from archives made on Unix (the mode in the upper half) are no attributes.
        {0x81A40000u | fs::faArchive | fs::faHidden, "0x22", fs::faArchive | fs::faHidden},
    };
    for (const Step& s : steps) {
        ASSERT_TRUE(fs::SetAttributes(At("LOG.INI"), s.set)) << std::hex << s.set;
        EXPECT_EQ(ReadXattr(file), s.stored) << std::hex << s.set;
        EXPECT_EQ(fs::GetAttributes(file), s.got) << std::hex << s.set;
    }
}

TEST_F(XattrTest, ListingReportsStoredBits) {
    WriteFile(At("sys.dat"), "x");
    WriteXattr(At("sys.dat"), "0x24");
    std::vector<fs::DirEntry> items;
    ASSERT_TRUE(fs::ListDirectory(folder, items));
    bool seen = false;
    for (const auto& item : items)
        if (item.name == "sys.dat") {
            seen = true;
            EXPECT_EQ(item.attributes, fs::faArchive | fs::faSysFile);
        }
    EXPECT_TRUE(seen);
}

// Wine itself sets attributes that we read, and shows the ones we set. One prefix for both directions
// (making one takes a few seconds and a few hundred megabytes; it is removed afterwards).
TEST(WineAttributesTest, AgreesWithWine) {
    if (!testing_support::HaveTool("wine")) GTEST_SKIP() << "wine is not installed";
    TempDir dir;
    if (!XattrRefusal(dir.Path()).empty()) GTEST_SKIP() << "the temporary folder takes no user extended attributes";
    const std::string env = "WINEPREFIX=" + ShellQuote(dir / "prefix") + " WINEDEBUG=-all ";
    auto dosName = [&](const std::string& name) {
        std::string p = "Z:" + (dir / name);
        for (char& c : p)
            if (c == '/') c = '\\';
        return ShellQuote(p);
    };
    auto wine = [&](const std::string& args) { return testing_support::Run(env + "wine cmd /c " + args); };

    WriteFile(dir / "files/ByWine.txt", "x");
    WriteFile(dir / "files/ByUs.txt", "x");
    const auto first = wine("attrib +h " + dosName("files/ByWine.txt"));
    if (first.exitCode != 0) {
        testing_support::Run(env + "wineserver -k");
        GTEST_SKIP() << "wine cannot run here: " << first.output.substr(0, 300);
    }
    wine("attrib +s " + dosName("files/ByWine.txt"));
    wine("attrib +r " + dosName("files/ByWine.txt"));

    // Wine shows every file as archived; its text holds hidden and system only.
    EXPECT_EQ(fs::GetAttributes(dir / "files/bywine.txt"), fs::faReadOnly | fs::faHidden | fs::faSysFile);

    ASSERT_TRUE(fs::SetAttributes(dir / "files/byus.txt", fs::faArchive | fs::faHidden | fs::faSysFile | fs::faReadOnly));
    const auto shown = wine("attrib " + dosName("files/ByUs.txt"));
    testing_support::Run(env + "wineserver -k");
    // Wine's listing: flag letters first, then the name.
    const size_t drive = shown.output.find(":\\");
    ASSERT_NE(drive, std::string::npos) << shown.output;
    const std::string flags = shown.output.substr(0, drive - 1);
    EXPECT_NE(flags.find('A'), std::string::npos) << shown.output;
    EXPECT_NE(flags.find('H'), std::string::npos) << shown.output;
    EXPECT_NE(flags.find('S'), std::string::npos) << shown.output;
    EXPECT_NE(flags.find('R'), std::string::npos) << shown.output;
}

}  // namespace
