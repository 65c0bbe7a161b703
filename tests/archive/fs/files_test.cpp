// Deleting, renaming over a target, scratch files, their mark and their sweep, and free space.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <vector>
#include <string>

#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "tests/support/test_support.h"

namespace fs = archive::fs;
using testing_support::DebrisOfAKilledMaker;
using testing_support::DebrisOfAKilledRun;
using testing_support::MakeDirs;
using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

bool Marked(const std::string& path) { return lgetxattr(path.c_str(), "user.zbk-scratch", nullptr, 0) >= 0; }

TEST(DeleteFileTest, DeletesFilesOnly) {
    TempDir dir;
    WriteFile(dir / "DB/Old.bak", "x");
    EXPECT_TRUE(fs::DeleteFile(dir / "db/old.BAK"));
    EXPECT_FALSE(PathExists(dir / "DB/Old.bak"));
    EXPECT_FALSE(fs::DeleteFile(dir / "db/old.BAK"));
    EXPECT_FALSE(fs::DeleteFile(dir / "db"));
    EXPECT_TRUE(PathExists(dir / "DB"));
}

TEST(RenameFileTest, ReplacesAnExistingTarget) {
    TempDir dir;
    WriteFile(dir / "new.tmp", "new");
    WriteFile(dir / "Backup.ZIP", "old");
    // The target formed in lower case replaces the file that is there; no second file appears.
    ASSERT_TRUE(fs::RenameFile(dir / "NEW.tmp", dir / "backup.zip"));
    EXPECT_EQ(ReadFile(dir / "Backup.ZIP"), "new");
    EXPECT_FALSE(PathExists(dir / "backup.zip"));
    EXPECT_FALSE(PathExists(dir / "new.tmp"));
    EXPECT_FALSE(fs::RenameFile(dir / "new.tmp", dir / "x"));
}

TEST(RenameFileTest, ChangesOnlyTheCase) {
    TempDir dir;
    WriteFile(dir / "Sub/readme.txt", "r");
    ASSERT_TRUE(fs::RenameFile(dir / "sub/readme.txt", dir / "sub/README.TXT"));
    EXPECT_TRUE(PathExists(dir / "Sub/README.TXT"));
    EXPECT_FALSE(PathExists(dir / "Sub/readme.txt"));
}

TEST(RenameFileTest, MovesIntoAnotherFolder) {
    TempDir dir;
    WriteFile(dir / "a.txt", "a");
    MakeDirs(dir / "Target");
    ASSERT_TRUE(fs::RenameFile(dir / "a.txt", dir / "target/b.txt"));
    EXPECT_EQ(ReadFile(dir / "Target/b.txt"), "a");
}

TEST(ScratchFileTest, MakesUniqueLockedFilesWithOrdinaryPermissions) {
    TempDir dir;
    MakeDirs(dir / "TMP");
    std::set<std::string> names;
    std::vector<fs::ScratchFile> files;
    for (int i = 0; i < 50; ++i) {
        fs::ScratchFile file = fs::ScratchFile::Create(dir / "tmp");
        ASSERT_TRUE(file.Valid());
        EXPECT_EQ(fs::ExtractFilePath(file.Path()), dir / "TMP/");
        EXPECT_TRUE(fs::IsScratchName(fs::ExtractFileName(file.Path()))) << file.Path();
        EXPECT_EQ(fs::GetFileSize(file.Path()), 0);
        names.insert(file.Path());
        files.push_back(std::move(file));
    }
    EXPECT_EQ(names.size(), 50u);
    // Every one of them is held: a sweep, even by this process, takes none.
    EXPECT_EQ(fs::RemoveStaleScratchFiles(dir / "tmp"), 0);
    files.clear();  // discarded
    for (const std::string& name : names) EXPECT_FALSE(PathExists(name));

    // Given the permissions of any new file, not mkstemp's 0600; released, it stays where it was put.
    const mode_t mask = umask(022);
    fs::ScratchFile file = fs::ScratchFile::Create(dir.Path());
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(file.Path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_TRUE(Marked(file.Path()));
    ASSERT_TRUE(fs::RenameFile(file.Path(), dir / "kept.txt"));
    file.Release();
    EXPECT_TRUE(PathExists(dir / "kept.txt"));
    EXPECT_FALSE(Marked(dir / "kept.txt"));

    EXPECT_FALSE(fs::ScratchFile::Create(dir / "missing").Valid());
}

std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool LockedByOthers(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool locked = flock(fd, LOCK_EX | LOCK_NB) != 0;
    close(fd);
    return locked;
}

// A run's files: in each folder one anchor, locked and marked while the run or a scratch file of it lives,
// and the files named after it, without a lock or a mark of their own. Two holds of one folder share its
// anchor; a file put in place is an ordinary file; the anchors go with the run's last scratch file.
TEST(ScratchFileTest, ARunNamesItsFilesAfterOneLockedMarkedAnchorPerFolder) {
    TempDir dir;
    MakeDirs(dir / "a");
    MakeDirs(dir / "b");
    const fs::HeldFolder a = fs::HeldFolder::Open(dir / "a"), alsoA = fs::HeldFolder::Open(dir / "A"),
                         b = fs::HeldFolder::Open(dir / "b");
    std::optional<fs::ScratchRun> run(std::in_place);
    std::vector<fs::ScratchFile> inA, inB;
    for (int i = 0; i < 3; ++i) {
        inA.push_back(fs::ScratchFile::CreateIn(i % 2 ? alsoA : a, *run));
        inB.push_back(fs::ScratchFile::CreateIn(b, *run));
    }
    for (const auto* files : {&inA, &inB}) {
        const std::string folder = fs::ExtractFilePath(files->front().Path());
        const std::vector<std::string> names = Names(folder);
        ASSERT_EQ(names.size(), 4u) << folder;
        const std::string& anchor = names.front();  // the shortest, and a prefix of the others
        EXPECT_TRUE(fs::IsScratchName(anchor)) << anchor;
        EXPECT_TRUE(Marked(folder + anchor));
        EXPECT_TRUE(LockedByOthers(folder + anchor));
        for (const fs::ScratchFile& file : *files) {
            ASSERT_TRUE(file.Valid());
            const std::string name = fs::ExtractFileName(file.Path());
            EXPECT_EQ(name.rfind(anchor + "-", 0), 0u) << name;
            EXPECT_TRUE(fs::IsScratchName(name)) << name;
            EXPECT_FALSE(Marked(file.Path())) << name;
            EXPECT_FALSE(LockedByOthers(file.Path())) << name;
            struct stat st {};
            ASSERT_EQ(fstat(file.Handle(), &st), 0);
            EXPECT_EQ(file.Mode(), static_cast<int>(st.st_mode & 07777));
        }
        EXPECT_EQ(fs::RemoveStaleScratchFiles(folder), 0);  // the run lives
    }
    ASSERT_TRUE(inA[0].PutInPlace("placed.txt"));
    inA[0].Release();
    run.reset();
    EXPECT_EQ(Names(dir / "a").size(), 4u);  // the anchor stays for the two files still being written
    inA.clear();
    EXPECT_EQ(Names(dir / "a"), std::vector<std::string>{"placed.txt"});
    EXPECT_EQ(Names(dir / "b").size(), 4u);
    inB.clear();
    EXPECT_EQ(Names(dir / "b"), std::vector<std::string>{});
}

// A small file system that takes no user extended attributes (ramfs), where this process may mount one.
class DiskWithoutXattrs {
public:
    explicit DiskWithoutXattrs(const std::string& mountPoint) : path_(mountPoint) {
        MakeDirs(path_);
        mounted_ = testing_support::Run("mount -t ramfs ramfs " + testing_support::ShellQuote(path_) + " 2>/dev/null")
                       .exitCode == 0;
    }
    ~DiskWithoutXattrs() {
        if (mounted_) testing_support::Run("umount " + testing_support::ShellQuote(path_));
    }
    bool Mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

// The sweep's decision, item by item: it deletes only a scratch file this program made (its mark, or
// where the file system takes no mark its name's check) whose lock nobody holds. Never a user's file
// that merely has such a name, a live one, a folder, a link or a name of the earlier form; and a kept
// second name of a user's file goes while the file stays, without the mark.
TEST(ScratchFileTest, SweepTakesOnlyStaleFilesOfItsOwn) {
    struct Case {
        const char* what;
        std::function<std::string(const std::string& folder)> make;  // the item's name
        bool removed;
        bool withoutXattrs;  // also where no mark can be set
        int count = -1;      // what the sweep removes in all (-1: the item alone, if removed)
    };
    std::vector<fs::ScratchFile> live;
    std::vector<std::unique_ptr<fs::ScratchRun>> runs;
    // A file a killed run left, its anchor then changed by `change` (given the folder and the anchor's path).
    auto runDebris = [](const std::string& d, const std::function<void(const std::string&)>& change) {
        const std::string name = DebrisOfAKilledRun(d);
        EXPECT_FALSE(name.empty());
        change(d + "/" + name.substr(0, 11));
        return name;
    };
    const Case cases[] = {
        {"a user's file with a fitting name",
         [](const std::string& d) { WriteFile(d + "/.zbk-abc123", "mine"); return std::string(".zbk-abc123"); }, false, true},
        {"a name of the earlier form",
         [](const std::string& d) { WriteFile(d + "/.zbk-Q7x2Lm", "old debris"); return std::string(".zbk-Q7x2Lm"); }, false,
         true},
        {"a stale one of ours", [](const std::string& d) { return DebrisOfAKilledMaker(d); }, true, true},
        {"a live one of ours",
         [&](const std::string& d) {
             live.push_back(fs::ScratchFile::Create(d));
             return fs::ExtractFileName(live.back().Path());
         },
         false, true},
        {"a folder with a name of ours",
         [](const std::string& d) {
             const std::string name = DebrisOfAKilledMaker(d);
             unlink((d + "/" + name).c_str());
             MakeDirs(d + "/" + name);
             return name;
         },
         false, false},
        {"a link to a stale one of ours",
         [](const std::string& d) {
             MakeDirs(d + "/elsewhere");
             const std::string name = DebrisOfAKilledMaker(d + "/elsewhere");
             EXPECT_EQ(symlink(("elsewhere/" + name).c_str(), (d + "/" + name).c_str()), 0);
             return name;
         },
         false, false},
        {"a kept second name of a user's file",
         [](const std::string& d) {
             WriteFile(d + "/Config.ini", "the user's");
             return DebrisOfAKilledMaker(d, "Config.ini");
         },
         true, false},
        {"a file of a killed run (its anchor goes too)",
         [&](const std::string& d) { return runDebris(d, [](const std::string&) {}); }, true, true, 2},
        {"a file of a live run",
         [&](const std::string& d) {
             runs.push_back(std::make_unique<fs::ScratchRun>());
             live.push_back(fs::ScratchFile::CreateIn(fs::HeldFolder::Open(d), *runs.back()));
             return fs::ExtractFileName(live.back().Path());
         },
         false, true},
        {"a file named after an anchor that is gone",
         [&](const std::string& d) { return runDebris(d, [](const std::string& anchor) { unlink(anchor.c_str()); }); },
         false, true},
        {"a file named after a user's file",
         [&](const std::string& d) {
             return runDebris(d, [](const std::string& anchor) {
                 unlink(anchor.c_str());
                 WriteFile(anchor, "mine");
             });
         },
         false, false},
        {"a file of a killed run whose check does not hold (its anchor goes)",
         [&](const std::string& d) {
             std::string name = runDebris(d, [](const std::string&) {});
             std::string wrong = name;
             wrong.back() = wrong.back() == 'A' ? 'B' : 'A';
             EXPECT_EQ(rename((d + "/" + name).c_str(), (d + "/" + wrong).c_str()), 0);
             return wrong;
         },
         false, true, 1},
        {"a folder named as a file of a killed run (its anchor goes)",
         [&](const std::string& d) {
             const std::string name = runDebris(d, [](const std::string&) {});
             unlink((d + "/" + name).c_str());
             MakeDirs(d + "/" + name);
             return name;
         },
         false, true, 1},
    };
    TempDir dir;
    DiskWithoutXattrs bare(dir / "bare");
    for (const bool withXattrs : {true, false}) {
        if (!withXattrs && !bare.Mounted()) continue;
        for (const Case& c : cases) {
            if (!withXattrs && !c.withoutXattrs) continue;
            SCOPED_TRACE(std::string(c.what) + (withXattrs ? "" : ", no extended attributes"));
            const std::string folder = (withXattrs ? dir.Path() : dir / "bare") + "/" + std::to_string(&c - cases);
            MakeDirs(folder);
            const std::string name = c.make(folder);
            ASSERT_TRUE(fs::IsScratchName(name)) << name;
            const auto before = std::filesystem::symlink_status(folder + "/" + name).type();
            EXPECT_EQ(fs::RemoveStaleScratchFiles(folder), c.count >= 0 ? c.count : c.removed ? 1 : 0);
            if (c.removed) {
                EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder + "/" + name)));
            } else {
                EXPECT_EQ(std::filesystem::symlink_status(folder + "/" + name).type(), before);
            }
            if (PathExists(folder + "/Config.ini")) {
                EXPECT_EQ(ReadFile(folder + "/Config.ini"), "the user's");
                EXPECT_FALSE(Marked(folder + "/Config.ini"));
            }
            if (PathExists(folder + "/elsewhere")) {
                EXPECT_EQ(fs::RemoveStaleScratchFiles(folder + "/elsewhere"), 1);  // taken where it is
            }
        }
        // Its holder gone, a live one is debris too.
        live.clear();
        runs.clear();
    }
    EXPECT_EQ(fs::RemoveStaleScratchFiles(dir / "missing"), 0);
    if (!bare.Mounted()) GTEST_SKIP() << "no file system without extended attributes could be mounted here (ramfs)";
}

TEST(FreeSpaceTest, ReportsTheFileSystemOfThePath) {
    TempDir dir;
    struct statvfs vfs {};
    ASSERT_EQ(statvfs(dir.Path().c_str(), &vfs), 0);
    const auto free = fs::FreeSpace(dir.Path());
    ASSERT_TRUE(free.has_value());
    const uint64_t expected = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
    // Other processes write meanwhile: allow some slack.
    EXPECT_NEAR(static_cast<double>(*free), static_cast<double>(expected), 64.0 * 1024 * 1024);
    // A file about to be created counts on the folder that will hold it.
    EXPECT_TRUE(fs::FreeSpace(dir / "not/yet/there.zip").has_value());
}

}  // namespace
