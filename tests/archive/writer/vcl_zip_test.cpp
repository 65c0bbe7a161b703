// TVCLZip's settings: defaults, the couplings of the path settings, Assign, MultiZipInfo and the reader's
// multi-volume members, the empty-name and re-entry rules of Zip, and the refusal of mmSpan.
#include "archive/writer/vcl_zip.h"

#include <gtest/gtest.h>

#include "archive/errors.h"
#include "tests/support/test_support.h"

namespace archive {
namespace {

using testing_support::TempDir;
using testing_support::WriteFile;

TEST(VclZipSettings, DefaultsOfANewComponent) {
    TVCLZip zip;
    EXPECT_EQ(zip.PackLevel, 6);
    EXPECT_FALSE(zip.Recurse);
    EXPECT_FALSE(zip.Dispose);
    EXPECT_FALSE(zip.StorePaths());
    EXPECT_FALSE(zip.RelativePaths());
    EXPECT_FALSE(zip.StoreVolumes());
    EXPECT_EQ(zip.ZipAction, zaUpdate);
    EXPECT_FALSE(zip.Store83Names);
    EXPECT_TRUE(zip.TempPath.empty());
    EXPECT_FALSE(zip.SkipIfArchiveBitNotSet);
    EXPECT_FALSE(zip.ResetArchiveBitOnZip);
    EXPECT_TRUE(zip.ExcludeList.empty());
    EXPECT_TRUE(zip.NoCompressList.empty());
    EXPECT_FALSE(zip.AddDirEntriesOnRecurse);
    const TMultiZipInfo& m = zip.MultiZipInfo();
    EXPECT_EQ(m.BlockSize, 1457600);
    EXPECT_EQ(m.FirstBlockSize, 1457600);
    EXPECT_EQ(m.SaveOnFirstDisk, 0);
    EXPECT_FALSE(m.SaveZipInfoOnFirstDisk);
    EXPECT_EQ(m.MultiMode, mmNone);
    EXPECT_TRUE(m.CheckDiskLabels);
    EXPECT_TRUE(m.WriteDiskLabels);
    EXPECT_FALSE(zip.Busy());
}

// Each row: the setter to call, then the expected StorePaths, RelativePaths, StoreVolumes, Recurse.
struct CouplingCase {
    const char* name;
    void (*prepare)(TVCLZip&);
    void (*change)(TVCLZip&);
    bool storePaths, relativePaths, storeVolumes, recurse;
};

const CouplingCase kCouplings[] = {
    {"RelativePaths on turns StorePaths and Recurse on", [](TVCLZip&) {},
     [](TVCLZip& z) { z.SetRelativePaths(true); }, true, true, false, true},
    {"StoreVolumes on turns StorePaths on", [](TVCLZip&) {}, [](TVCLZip& z) { z.SetStoreVolumes(true); }, true,
     false, true, false},
    {"StorePaths off turns RelativePaths and StoreVolumes off",
     [](TVCLZip& z) {
         z.SetRelativePaths(true);
         z.SetStoreVolumes(true);
     },
     [](TVCLZip& z) { z.SetStorePaths(false); }, false, false, false, true},
    {"StorePaths on alone changes nothing else", [](TVCLZip&) {}, [](TVCLZip& z) { z.SetStorePaths(true); }, true,
     false, false, false},
    {"RelativePaths off keeps StorePaths and Recurse", [](TVCLZip& z) { z.SetRelativePaths(true); },
     [](TVCLZip& z) { z.SetRelativePaths(false); }, true, false, false, true},
    // Only a change of value couples: RelativePaths already on does not turn Recurse on again.
    {"setting an unchanged value has no side effect",
     [](TVCLZip& z) {
         z.SetRelativePaths(true);
         z.Recurse = false;
     },
     [](TVCLZip& z) { z.SetRelativePaths(true); }, true, true, false, false},
    // StorePaths already off: RelativePaths stays as it was (it cannot be on then, but StoreVolumes
    // turned off first shows no cascade runs).
    {"StoreVolumes off keeps StorePaths", [](TVCLZip& z) { z.SetStoreVolumes(true); },
     [](TVCLZip& z) { z.SetStoreVolumes(false); }, true, false, false, false},
};

TEST(VclZipSettings, PathSettingsCouple) {
    for (const auto& c : kCouplings) {
        TVCLZip zip;
        c.prepare(zip);
        c.change(zip);
        EXPECT_EQ(zip.StorePaths(), c.storePaths) << c.name;
        EXPECT_EQ(zip.RelativePaths(), c.relativePaths) << c.name;
        EXPECT_EQ(zip.StoreVolumes(), c.storeVolumes) << c.name;
        EXPECT_EQ(zip.Recurse, c.recurse) << c.name;
    }
}

TEST(VclZipSettings, MultiZipInfoIsCopiedAndDrivesTheReadersMultiMode) {
    TVCLZip zip;
    TMultiZipInfo info;
    info.BlockSize = 1000;
    info.MultiMode = mmBlocks;
    info.CheckDiskLabels = false;
    zip.SetMultiZipInfo(info);
    info.BlockSize = 5;  // the component holds its own copy
    EXPECT_EQ(zip.MultiZipInfo().BlockSize, 1000);
    EXPECT_EQ(zip.MultiMode(), mmBlocks);
    EXPECT_FALSE(zip.CheckDiskLabels());

    // Writing the reader's members stores into MultiZipInfo too.
    zip.SetMultiMode(mmNone);
    zip.SetCheckDiskLabels(true);
    EXPECT_EQ(zip.MultiZipInfo().MultiMode, mmNone);
    EXPECT_TRUE(zip.MultiZipInfo().CheckDiskLabels);
    TVCLUnZip& asReader = zip;
    EXPECT_EQ(asReader.MultiMode(), mmNone);
}

TEST(VclZipSettings, AssignCopiesSettingsListsAndEvents) {
    TVCLZip source;
    source.PackLevel = 9;
    source.SetRelativePaths(true);
    source.SetStoreVolumes(true);
    source.Dispose = true;
    source.ZipAction = zaFreshen;
    TMultiZipInfo info;
    info.FirstBlockSize = 4242;
    source.SetMultiZipInfo(info);
    source.TempPath = "/tmp/x";
    source.SkipIfArchiveBitNotSet = true;
    source.ResetArchiveBitOnZip = true;
    source.ExcludeList = {"*.bak"};
    source.NoCompressList = {"*.jpg", "*.zip"};
    source.AddDirEntriesOnRecurse = true;
    int calls = 0;
    source.OnZipComplete = [&](TVCLZip*, int) { ++calls; };
    source.SetRootDir("/data");

    TVCLZip copy;
    copy.Assign(source);
    EXPECT_EQ(copy.PackLevel, 9);
    EXPECT_TRUE(copy.StorePaths());
    EXPECT_TRUE(copy.RelativePaths());
    EXPECT_TRUE(copy.StoreVolumes());
    EXPECT_TRUE(copy.Recurse);
    EXPECT_TRUE(copy.Dispose);
    EXPECT_EQ(copy.ZipAction, zaFreshen);
    EXPECT_EQ(copy.MultiZipInfo().FirstBlockSize, 4242);
    EXPECT_EQ(copy.TempPath, "/tmp/x");
    EXPECT_TRUE(copy.SkipIfArchiveBitNotSet);
    EXPECT_TRUE(copy.ResetArchiveBitOnZip);
    EXPECT_EQ(copy.ExcludeList, source.ExcludeList);
    EXPECT_EQ(copy.NoCompressList, source.NoCompressList);
    EXPECT_TRUE(copy.AddDirEntriesOnRecurse);
    EXPECT_EQ(copy.RootDir(), "/data/");
    ASSERT_TRUE(copy.OnZipComplete);
    copy.OnZipComplete(&copy, 0);
    EXPECT_EQ(calls, 1);
}

TEST(VclZipOperation, EmptyZipNameWritesNothingAndKeepsTheList) {
    TempDir dir;
    WriteFile(dir / "a.txt", "hello");
    for (const char* name : {"", "   "}) {
        TVCLZip zip;
        zip.SetZipName(name);
        zip.FilesList = {dir / "a.txt"};
        int completed = -1;
        zip.OnZipComplete = [&](TVCLZip*, int n) { completed = n; };
        EXPECT_EQ(zip.Zip(), 0);
        EXPECT_EQ(completed, 0);
        EXPECT_EQ(zip.FilesList.size(), 1u);
    }
}

TEST(VclZipOperation, RefusesSpanningWithAClearErrorAndTouchesNothing) {
    TempDir dir;
    WriteFile(dir / "a.txt", "hello");
    TVCLZip zip;
    zip.SetZipName(dir / "span.zip");
    TMultiZipInfo info;
    info.MultiMode = mmSpan;
    zip.SetMultiZipInfo(info);
    zip.FilesList = {dir / "a.txt"};
    try {
        zip.Zip();
        FAIL() << "mmSpan accepted";
    } catch (const Exception& e) {
        EXPECT_NE(std::string(e.what()).find("mmBlocks"), std::string::npos) << e.what();
    }
    EXPECT_EQ(zip.FilesList.size(), 1u);
    EXPECT_FALSE(zip.Busy());
    EXPECT_EQ(testing_support::ReadFile(dir / "span.zip"), "");
    EXPECT_FALSE(testing_support::PathExists(dir / "span.zip"));
}

TEST(VclZipOperation, ZipCannotBeStartedAgainFromItsOwnEvents) {
    TempDir dir;
    WriteFile(dir / "a.txt", "hello");
    TVCLZip zip;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "a.txt"};
    std::string inner;
    zip.OnStartZip = [&](TVCLZip* z, const std::string&, TZipHeaderInfo&, bool&) {
        EXPECT_TRUE(z->Busy());
        try {
            z->Zip();
        } catch (const Exception& e) {
            inner = e.what();
        }
    };
    EXPECT_EQ(zip.Zip(), 1);
    EXPECT_NE(inner.find("already running"), std::string::npos);
    EXPECT_FALSE(zip.Busy());
}

}  // namespace
}  // namespace archive
