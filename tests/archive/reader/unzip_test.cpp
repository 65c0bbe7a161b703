// Extraction: selection, destination paths, overwrite rules, read-only targets, failed entries that must
// leave the old file alone, passwords, unknown methods, events, progress and counts.
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <utility>

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "archive/reader/vcl_unzip.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using namespace archive;
using testing_support::MakeDirs;
using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::RecordingHost;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::ZipBuilder;
using testing_support::ZipEntryRecipe;

// Every event of a run as one line of text, in order.
struct EventLog {
    std::vector<std::string> lines;
    void Attach(TVCLUnZip& z, bool percents = true) {
        z.OnStartUnZipInfo = [this](TVCLUnZip*, int n, int64_t bytes, bool&) {
            lines.push_back("info " + std::to_string(n) + " " + std::to_string(bytes));
        };
        z.OnStartUnZip = [this](TVCLUnZip*, int i, std::string& name, bool&) {
            lines.push_back("start " + std::to_string(i) + " " + std::filesystem::path(name).filename().string());
        };
        if (percents) {
            z.OnFilePercentDone = [this](TVCLUnZip*, int p) { lines.push_back("file% " + std::to_string(p)); };
            z.OnTotalPercentDone = [this](TVCLUnZip*, int p) { lines.push_back("total% " + std::to_string(p)); };
        }
        z.OnEndUnZip = [this](TVCLUnZip*, int i, const std::string& name) {
            lines.push_back("end " + std::to_string(i) + " " + std::filesystem::path(name).filename().string());
        };
        z.OnSkippingFile = [this](TVCLUnZip*, TSkipReason r, const std::string& name, int i, bool&) {
            lines.push_back("skip " + std::to_string(r) + " " + std::to_string(i) + " " + name);
        };
        z.OnBadCRC = [this](TVCLUnZip*, uint32_t, uint32_t, int i) { lines.push_back("badcrc " + std::to_string(i)); };
        z.OnUnZipComplete = [this](TVCLUnZip*, int n) { lines.push_back("complete " + std::to_string(n)); };
    }
    int Count(const std::string& prefix) const {
        int n = 0;
        for (const std::string& l : lines) n += l.rfind(prefix, 0) == 0;
        return n;
    }
};

// Names in a folder (recursively) that are leftovers of extraction.
int TempLeftovers(const std::string& root) {
    int n = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root))
        n += e.path().filename().string().rfind(".zbk-", 0) == 0;
    return n;
}

// The logger-like archive used by the path and selection cases.
std::string LoggerArchive() {
    ZipBuilder b;
    ZipEntryRecipe folder;
    folder.name = "DB/";
    b.Add(folder);
    b.Stored("DB/Awards.mdb", "db awards").Stored("Awards.mdb", "top awards").Stored("x.ini", "top ini");
    b.Stored("DB/x.ini", "db ini").Stored("tmp/x.reg", "registry");
    return b.Build();
}

struct PathCase {
    const char* pattern;
    const char* destDir;  // below the temporary folder
    bool recreate;
    const char* rootDir;
    std::vector<std::pair<std::string, std::string>> files;  // relative path -> content
    int result;
};

TEST(UnZipPaths, SelectionAndDestinations) {
    const PathCase cases[] = {
        {"db/awards.*", "db", false, "", {{"DB/Awards.mdb", "db awards"}}, 1},  // "db" finds the folder DB
        {"db/awards.*", "db", true, "", {{"DB/DB/Awards.mdb", "db awards"}}, 1},
        {"DB/AWARDS.MDB", "out", false, "", {{"out/Awards.mdb", "db awards"}}, 1},
        {"tmp/*", "tmp", false, "", {{"tmp/x.reg", "registry"}}, 1},
        {"tmp/*", "tmp", true, "", {{"tmp/tmp/x.reg", "registry"}}, 1},
        {"db/*", "out", true, "DB/", {{"out/Awards.mdb", "db awards"}, {"out/x.ini", "db ini"}}, 2},
        {"*.ini", "out", true, "", {{"out/x.ini", "top ini"}, {"out/DB/x.ini", "db ini"}}, 2},
        {"awards.mdb", "out", true, "", {{"out/Awards.mdb", "top awards"}}, 1},
    };
    for (const PathCase& c : cases) {
        TempDir dir;
        WriteFile(dir / "log.zip", LoggerArchive());
        testing_support::MakeDirs(dir / "DB");
        TVCLUnZip z;
        z.SetZipName(dir / "log.zip");
        z.OverwriteMode = Always;
        z.FilesList = {c.pattern};
        z.SetDestDir(dir / c.destDir);
        z.RecreateDirs = c.recreate;
        z.SetRootDir(c.rootDir);
        EXPECT_EQ(z.UnZip(), c.result) << c.pattern << " " << c.destDir << " " << c.recreate;
        for (const auto& [path, content] : c.files) EXPECT_EQ(ReadFile(dir / path), content) << path;
        EXPECT_TRUE(z.FilesList.empty());
    }
}

TEST(UnZipPaths, NothingIsWrittenOutsideDestDir) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("../evil.txt", "1").Stored("a/../../evil2.txt", "2").Stored("/abs/inside.txt", "3");
    b.Stored("ok.txt", "4");
    ZipEntryRecipe climbingFolder;
    climbingFolder.name = "../evildir/";
    b.Add(climbingFolder);
    WriteFile(dir / "evil.zip", b.Build());
    TVCLUnZip z;
    EventLog log;
    log.Attach(z, false);
    z.SetZipName(dir / "evil.zip");
    z.SetDestDir(dir / "dest/inner");
    z.RecreateDirs = true;
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 2);
    EXPECT_EQ(ReadFile(dir / "dest/inner/abs/inside.txt"), "3");
    EXPECT_EQ(ReadFile(dir / "dest/inner/ok.txt"), "4");
    EXPECT_FALSE(PathExists(dir / "dest/evil.txt"));
    EXPECT_FALSE(PathExists(dir / "evil2.txt"));
    EXPECT_FALSE(PathExists(dir / "dest/evil2.txt"));
    EXPECT_FALSE(PathExists(dir / "dest/evildir"));
    EXPECT_FALSE(PathExists("/abs/inside.txt"));
    EXPECT_EQ(log.Count("skip 3"), 3);
    EXPECT_EQ(log.lines.back(), "complete 2");
}

// ---- overwrite rules and read-only targets --------------------------------------------------------------

struct OverwriteCase {
    TUZOverwriteMode mode;
    bool handler;           // OnPromptForOverwrite answers `answer`
    bool answer;            // handler's answer, or the message box's Yes/No
    int64_t existingAge;    // existing file's time relative to the entry's, in seconds
    bool replaced;
};

TEST(UnZipOverwrite, RulesForExistingFiles) {
    const OverwriteCase cases[] = {
        {Prompt, true, true, 0, true},      {Prompt, true, false, 0, false},
        {Prompt, false, true, 0, true},     {Prompt, false, false, 0, false},
        {Always, false, false, 0, true},    {Never, false, false, 0, false},
        {ifNewer, false, false, -3600, true}, {ifNewer, false, false, 3600, false}, {ifNewer, false, false, 0, false},
        {ifOlder, false, false, 3600, true},  {ifOlder, false, false, -3600, false}, {ifOlder, false, false, 0, false},
    };
    for (const OverwriteCase& c : cases) {
        TempDir dir;
        ZipBuilder b;
        b.Stored("Awards.mdb", "new");
        WriteFile(dir / "o.zip", b.Build());
        WriteFile(dir / "out/Awards.mdb", "old");
        const uint32_t entryTime = b.Entries()[0].dosTime;
        const std::time_t when = fs::TimeFromDos(entryTime) + c.existingAge;
        fs::SetFileDosTime(dir / "out/Awards.mdb", fs::DosFromTime(when));

        RecordingHost host;
        host.answers.push_back(c.answer ? Answer::Yes : Answer::No);
        TVCLUnZip z(&host);
        EventLog log;
        log.Attach(z, false);
        int prompts = 0;
        if (c.handler) {
            z.OnPromptForOverwrite = [&](TVCLUnZip*, bool& overwrite, int index, std::string& name) {
                ++prompts;
                EXPECT_EQ(index, 0);
                EXPECT_EQ(name, dir / "out/Awards.mdb");
                overwrite = c.answer;
            };
        }
        z.SetZipName(dir / "o.zip");
        z.SetDestDir(dir / "out");
        z.OverwriteMode = c.mode;
        z.FilesList = {"*"};
        const int result = z.UnZip();
        const std::string what = std::to_string(c.mode) + "/" + std::to_string(c.handler) + "/" +
                                 std::to_string(c.answer) + "/" + std::to_string(c.existingAge);
        EXPECT_EQ(ReadFile(dir / "out/Awards.mdb"), c.replaced ? "new" : "old") << what;
        EXPECT_EQ(result, c.replaced ? 1 : 0) << what;
        if (!c.replaced) {
            EXPECT_EQ(log.Count("skip 1 0 " + dir / "out/Awards.mdb"), 1) << what;
        }
        if (c.mode == Prompt && !c.handler) {
            ASSERT_EQ(host.boxes.size(), 1u) << what;
            EXPECT_EQ(host.boxes[0].caption, "File Exists Alert");
            EXPECT_EQ(host.boxes[0].text, "Replace existing file Awards.mdb?");
            EXPECT_EQ(host.boxes[0].buttons, Buttons::YesNo);
        } else {
            EXPECT_TRUE(host.boxes.empty()) << what;
        }
        EXPECT_EQ(prompts, c.handler ? 1 : 0);
    }
}

TEST(UnZipOverwrite, ReadOnlyTargetNeedsReplaceReadOnly) {
    for (const bool replace : {false, true}) {
        TempDir dir;
        ZipBuilder b;
        b.Stored("Awards.mdb", "new").Stored("other.txt", "other");
        WriteFile(dir / "r.zip", b.Build());
        WriteFile(dir / "out/Awards.mdb", "old");
        ASSERT_TRUE(fs::SetAttributes(dir / "out/Awards.mdb", fs::faReadOnly));
        RecordingHost host;
        TVCLUnZip z(&host);
        EventLog log;
        log.Attach(z, false);
        z.SetZipName(dir / "r.zip");
        z.SetDestDir(dir / "out");
        z.OverwriteMode = Always;
        z.ReplaceReadOnly = replace;
        z.RetainAttributes = false;
        z.DoAll = true;
        EXPECT_EQ(z.UnZip(), replace ? 2 : 1);
        EXPECT_EQ(ReadFile(dir / "out/Awards.mdb"), replace ? "new" : "old");
        EXPECT_EQ(log.Count("skip 3 0 " + dir / "out/Awards.mdb"), replace ? 0 : 1);
        EXPECT_TRUE(host.boxes.empty());
        if (!replace) {
            EXPECT_TRUE(*fs::GetAttributes(dir / "out/Awards.mdb") & fs::faReadOnly);
        }
    }
}

// ---- failed entries keep the old file -----------------------------------------------------------------

TEST(UnZipFailures, BadCrcOversizeAndShortDataKeepTheOldFile) {
    struct Case {
        const char* what;
        ZipEntryRecipe entry;
    };
    ZipEntryRecipe badCrc;
    badCrc.data = "content";
    badCrc.crc = 0x12345678;
    ZipEntryRecipe oversize;
    oversize.data = std::string(40000, 'x');
    oversize.uncompressedSize = 30000;
    ZipEntryRecipe shortData;  // the CRC fits the bytes there are, but the directory promised one more
    shortData.data = "content";
    shortData.uncompressedSize = 8;
    const Case cases[] = {{"bad crc", badCrc}, {"oversize", oversize}, {"short", shortData}};
    for (Case c : cases) {
        TempDir dir;
        ZipBuilder b;
        c.entry.name = "DB/Awards.mdb";
        b.Add(c.entry).Stored("DB/ok.txt", "fine");
        WriteFile(dir / "f.zip", b.Build());
        WriteFile(dir / "out/DB/Awards.mdb", "old content");
        RecordingHost host;
        TVCLUnZip z(&host);
        EventLog log;
        log.Attach(z);
        uint32_t stored = 0;
        z.OnBadCRC = [&](TVCLUnZip*, uint32_t, uint32_t s, int i) {
            stored = s;
            log.lines.push_back("badcrc " + std::to_string(i));
        };
        z.SetZipName(dir / "f.zip");
        z.SetDestDir(dir / "out");
        z.RecreateDirs = true;
        z.OverwriteMode = Always;
        z.FilesList = {"*"};
        EXPECT_EQ(z.UnZip(), 1) << c.what;
        EXPECT_EQ(ReadFile(dir / "out/DB/Awards.mdb"), "old content") << c.what;
        EXPECT_EQ(ReadFile(dir / "out/DB/ok.txt"), "fine") << c.what;
        EXPECT_EQ(log.Count("badcrc 0"), 1) << c.what;
        EXPECT_EQ(stored, static_cast<uint32_t>(b.Entries()[0].crc)) << c.what;
        EXPECT_EQ(TempLeftovers(dir.Path()), 0) << c.what;
        EXPECT_TRUE(host.boxes.empty()) << c.what;
        EXPECT_EQ(log.lines.back(), "complete 1");
    }
}

// An entry of a method we do not decode is not damaged: it is refused with its method named (skip
// reason 3 and SkipDetail), after the "Unknown Compression Method" box, in a test as in an extraction;
// the old file stays, no folder is made for it, and the entries around it come out.
TEST(UnZipFailures, MethodsWeDoNotDecodeAreRefusedByName) {
    const struct {
        uint16_t method;
        std::string detail;
    } cases[] = {
        {7, "compression method Tokenizing (7) is not supported"},
        {9, "compression method Deflate64 (9) is not supported"},
        {10, "compression method DCL Implode (10) is not supported"},
        {12, "compression method BZip2 (12) is not supported"},
        {14, "compression method LZMA (14) is not supported"},
        {18, "compression method IBM TERSE (18) is not supported"},
        {20, "compression method Zstandard (20) is not supported"},
        {93, "compression method Zstandard (93) is not supported"},
        {95, "compression method XZ (95) is not supported"},
        {97, "compression method WavPack (97) is not supported"},
        {98, "compression method PPMd (98) is not supported"},
        {99, "AES encryption is not supported"},
        {11, "compression method 11 is not supported"},
        {65535, "compression method 65535 is not supported"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method);
        TempDir dir;
        ZipEntryRecipe odd;
        odd.name = "new/DB/Awards.mdb";
        odd.data = std::string(40, 'z');
        odd.uncompressedSize = 1000;
        odd.method = c.method;
        if (c.method == 99) {
            odd.flags = 1;  // encrypted, with the AES extra field naming Deflate as the real method
            odd.centralExtra = odd.localExtra = std::string("\x01\x99\x07\x00\x02\x00" "AE\x03\x08\x00", 11);
        }
        WriteFile(dir / "f.zip", ZipBuilder().Stored("DB/a.txt", "a").Add(odd).Stored("DB/b.txt", "b").Build());
        WriteFile(dir / "out/Awards.mdb", "old content");
        for (const bool test : {true, false}) {
            RecordingHost host;
            TVCLUnZip z(&host);
            z.DoProcessMessages = false;
            EventLog log;
            log.Attach(z, false);
            std::vector<std::string> details;
            z.OnSkippingFile = [&](TVCLUnZip* s, TSkipReason r, const std::string& name, int i, bool&) {
                log.lines.push_back("skip " + std::to_string(r) + " " + std::to_string(i) + " " + name);
                details.push_back(s->SkipDetail());
            };
            z.SetZipName(dir / "f.zip");
            z.SetDestDir(dir / "out");
            z.DoAll = true;
            z.OverwriteMode = Always;
            EXPECT_EQ(test ? z.TestArchive() : z.UnZip(), 2);
            const std::vector<std::string> expected = {
                "info 3 1002", "start 0 a.txt", "end 0 a.txt",
                "skip 3 1 " + (test ? std::string("new/DB/Awards.mdb") : dir / "out/Awards.mdb"),
                "start 2 b.txt", "end 2 b.txt", "complete 2"};
            EXPECT_EQ(log.lines, expected);
            EXPECT_EQ(details, std::vector<std::string>{c.detail});
            ASSERT_EQ(host.boxes.size(), 1u);
            EXPECT_EQ(host.boxes[0].caption, "Zip Error");
            EXPECT_EQ(host.boxes[0].text, "Unknown Compression Method");
            EXPECT_EQ(z.MessageText(), "Unknown Compression Method");
        }
        EXPECT_EQ(ReadFile(dir / "out/Awards.mdb"), "old content");
        EXPECT_EQ(TempLeftovers(dir.Path()), 0);
    }
    // With RecreateDirs the refused entry's folder is not made.
    TempDir dir;
    ZipEntryRecipe odd;
    odd.name = "new/DB/Awards.mdb";
    odd.data = "x";
    odd.method = 12;
    WriteFile(dir / "f.zip", ZipBuilder().Add(odd).Build());
    TVCLUnZip z;
    z.DoProcessMessages = false;
    z.SetZipName(dir / "f.zip");
    z.SetDestDir(dir / "out");
    z.RecreateDirs = true;
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 0);
    EXPECT_FALSE(PathExists(dir / "out/new"));
}

// All or nothing: any entry that cannot be done (damaged, refused name, read-only target) leaves every
// target of the call as it was and no scratch file; when all are good, every target is replaced and
// the end events come only once all of them were staged.
TEST(UnZipFailures, AllOrNothingReplacesEveryTargetOrNone) {
    enum Damage { None, BadCrc, Unsafe, ReadOnly };
    for (const Damage damage : {None, BadCrc, Unsafe, ReadOnly}) {
        SCOPED_TRACE(damage);
        TempDir dir;
        ZipBuilder b;
        b.Stored("DB/Logs.mdb", "new logs").Stored("DB/Logs.ldb", "new lock");
        ZipEntryRecipe third;
        third.name = damage == Unsafe ? "DB/logs.x/../../../evil" : "DB/Logs.idx";
        third.data = "new index";
        if (damage == BadCrc) third.crc = 0x12345678;
        b.Add(third);
        WriteFile(dir / "a.zip", b.Build());
        WriteFile(dir / "out/Logs.mdb", "old logs");
        WriteFile(dir / "out/Logs.idx", "old index");
        if (damage == ReadOnly) {
            ASSERT_EQ(chmod((dir / "out/Logs.idx").c_str(), 0444), 0);
        }
        TVCLUnZip z;
        EventLog log;
        log.Attach(z, false);
        z.SetZipName(dir / "a.zip");
        z.SetDestDir(dir / "out");
        z.OverwriteMode = Always;
        z.AllOrNothing = true;
        z.FilesList = {"db/logs.*"};
        const int written = z.UnZip();
        EXPECT_EQ(TempLeftovers(dir.Path()), 0);
        EXPECT_FALSE(PathExists(dir / "evil"));
        if (damage == None) {
            EXPECT_EQ(written, 3);
            EXPECT_EQ(ReadFile(dir / "out/Logs.mdb"), "new logs");
            EXPECT_EQ(ReadFile(dir / "out/Logs.ldb"), "new lock");
            EXPECT_EQ(ReadFile(dir / "out/Logs.idx"), "new index");
            EXPECT_EQ(log.lines, (std::vector<std::string>{"info 3 25", "start 0 Logs.mdb", "start 1 Logs.ldb",
                                                           "start 2 Logs.idx", "end 0 Logs.mdb", "end 1 Logs.ldb",
                                                           "end 2 Logs.idx", "complete 3"}));
            continue;
        }
        EXPECT_EQ(written, 0);
        EXPECT_EQ(ReadFile(dir / "out/Logs.mdb"), "old logs");
        EXPECT_FALSE(PathExists(dir / "out/Logs.ldb"));
        EXPECT_EQ(ReadFile(dir / "out/Logs.idx"), "old index");
        EXPECT_EQ(log.Count("end "), 0);
        EXPECT_EQ(log.Count(damage == BadCrc ? "badcrc 2" : "skip 3 2"), 1);
    }
}

// A folder that takes no new name and gives none up until this goes: the immutable flag for a process
// that modes do not stop (root), else mode 0555. Ok() is false when neither can be had here.
class ClosedFolder {
public:
    explicit ClosedFolder(const std::string& path) : path_(path) {
        if (geteuid() == 0) {
            const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags |= FS_IMMUTABLE_FL;
                immutable_ = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
            }
            if (fd >= 0) close(fd);
        } else {
            moded_ = chmod(path.c_str(), 0555) == 0;
        }
    }
    ~ClosedFolder() {
        if (immutable_) {
            const int fd = open(path_.c_str(), O_RDONLY | O_DIRECTORY);
            int flags = 0;
            if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
                flags &= ~FS_IMMUTABLE_FL;
                ioctl(fd, FS_IOC_SETFLAGS, &flags);
            }
            if (fd >= 0) close(fd);
        }
        if (moded_) chmod(path_.c_str(), 0755);
    }
    bool Ok() const { return immutable_ || moded_; }

private:
    std::string path_;
    bool immutable_ = false;
    bool moded_ = false;
};

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// The decision before and during the renames of an all-or-nothing extraction: whatever can be known
// before the first rename refuses the whole part then (a name the file system cannot take, a folder in
// the way, a read-only file, also one that became read-only after it was judged); a rename that fails
// late puts back every file already replaced. Either way each old file is byte for byte as it was, no
// file carries the scratch mark, and the events tell exactly what was written.
TEST(UnZipFailures, AllOrNothingDecidesBeforeTheRenamesAndPutsBackAfterALateFailure) {
    const std::string kTooLong = "its name is too long for the file system";
    const std::string kNotPlaced = "it could not be put in its place";
    const std::string kUndone = "another file of this all-or-nothing extraction could not be put in its place";
    const std::string longName = std::string(300, 'L') + ".mdb";
    struct Case {
        const char* what;
        std::string third;                                   // the third entry's stored name
        std::function<void(const std::string&)> before;      // the destination before the run
        std::function<bool(const std::string&)> midway;      // while the last entry is written (false: cannot)
        bool allOrNothing;
        bool replaceReadOnly;
        std::vector<std::string> events;                     // end and skip events, in order
        std::map<std::string, std::string> after;           // files afterwards ("" absent)
        std::string fourth = "";                             // a fourth entry's name, if any
    };
    auto write = [](const std::string& path, const std::string& bytes, mode_t mode = 0644) {
        WriteFile(path, bytes);
        chmod(path.c_str(), mode);
    };
    const std::map<std::string, std::string> untouched{
        {"Config.ini", "old config"}, {"DB/Logs.mdb", "old logs"}, {"DB/Logs.idx", ""}, {"New/x.txt", ""}};
    const std::map<std::string, std::string> replaced{
        {"Config.ini", "new config"}, {"DB/Logs.mdb", "new logs"}, {"DB/Logs.idx", "new third"}, {"New/x.txt", ""}};
    std::optional<ClosedFolder> closed;
    std::vector<std::string> cannotSetUp;
    int heldLock = -1;
    const Case cases[] = {
        {"every target takes its file", "DB/Logs.idx", nullptr, nullptr, true, false,
         {"end 0", "end 1", "end 2"}, replaced},
        {"a name too long for the file system", "DB/" + longName, nullptr, nullptr, true, false,
         {"skip 3 2 " + kTooLong}, untouched},
        {"a name too long, each entry on its own", "DB/" + longName, nullptr, nullptr, false, false,
         {"end 0", "end 1", "skip 3 2 " + kTooLong},
         {{"Config.ini", "new config"}, {"DB/Logs.mdb", "new logs"}, {"DB/Logs.idx", ""}}},
        {"a folder where the file goes", "DB/Logs.idx", [](const std::string& out) { MakeDirs(out + "/DB/Logs.idx"); },
         nullptr, true, false, {"skip 3 2 "}, {{"Config.ini", "old config"}, {"DB/Logs.mdb", "old logs"}}},
        {"a read-only file there", "DB/Logs.idx",
         [&](const std::string& out) { write(out + "/DB/Logs.idx", "old third", 0444); }, nullptr, true, false,
         {"skip 3 2 "}, {{"Config.ini", "old config"}, {"DB/Logs.mdb", "old logs"}, {"DB/Logs.idx", "old third"}}},
        {"a read-only file there, ReplaceReadOnly", "DB/Logs.idx",
         [&](const std::string& out) { write(out + "/DB/Logs.idx", "old third", 0444); }, nullptr, true, true,
         {"end 0", "end 1", "end 2"}, replaced},
        {"a file another program holds a lock on", "DB/Logs.idx",
         [&](const std::string& out) {
             heldLock = open((out + "/Config.ini").c_str(), O_RDONLY);
             ASSERT_EQ(flock(heldLock, LOCK_EX), 0);
         },
         nullptr, true, false, {"end 0", "end 1", "end 2"}, replaced},
        {"a file made read-only after it was judged", "DB/Logs.idx", nullptr,
         [](const std::string& out) { return chmod((out + "/Config.ini").c_str(), 0444) == 0; }, true, false,
         {"skip 3 0 ", "skip 3 1 " + kUndone, "skip 3 2 " + kUndone}, untouched},
        {"a folder made where the file goes after it was judged", "DB/Logs.idx", nullptr,
         [](const std::string& out) { return mkdir((out + "/DB/Logs.idx").c_str(), 0755) == 0; }, true, false,
         {"skip 3 0 " + kUndone, "skip 3 1 " + kUndone, "skip 3 2 "}, untouched},
        {"a rename that fails after others were done (one replaced, one new)", "New/x.txt",
         [](const std::string& out) { std::filesystem::remove(out + "/DB/Logs.mdb"); },
         [&](const std::string& out) { return closed.emplace(out + "/New").Ok(); }, true, false,
         {"skip 3 0 " + kUndone, "skip 3 1 " + kUndone, "skip 3 2 " + kNotPlaced},
         {{"Config.ini", "old config"}, {"DB/Logs.mdb", ""}, {"New/x.txt", ""}}},
        {"one new file named twice, in two cases", "DB/logs.MDB",
         [](const std::string& out) { std::filesystem::remove(out + "/DB/Logs.mdb"); }, nullptr, true, false,
         {"end 0", "end 1", "end 2"}, {{"Config.ini", "new config"}, {"DB/Logs.mdb", "new third"}, {"DB/logs.MDB", ""}}},
        {"one file named twice, then a rename that fails", "config.INI", nullptr,
         [&](const std::string& out) { return closed.emplace(out + "/New").Ok(); }, true, false,
         {"skip 3 0 " + kUndone, "skip 3 1 " + kUndone, "skip 3 2 " + kUndone, "skip 3 3 " + kNotPlaced},
         {{"Config.ini", "old config"}, {"config.INI", ""}, {"DB/Logs.mdb", "old logs"}, {"New/x.txt", ""}},
         "New/x.txt"},
        {"an old file that cannot be kept aside", "New/x.txt",
         [&](const std::string& out) { write(out + "/New/x.txt", "old x"); },
         [&](const std::string& out) { return closed.emplace(out + "/New").Ok(); }, true, false,
         {"skip 3 0 " + kUndone, "skip 3 1 " + kUndone, "skip 3 2 " + kNotPlaced},
         {{"Config.ini", "old config"}, {"DB/Logs.mdb", "old logs"}, {"New/x.txt", "old x"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ZipBuilder b;
        b.Stored("Config.ini", "new config").Stored("DB/Logs.mdb", "new logs").Stored(c.third, "new third");
        if (!c.fourth.empty()) b.Stored(c.fourth, "new fourth");
        const int last = c.fourth.empty() ? 2 : 3;
        WriteFile(dir / "p.zip", b.Build());
        const std::string out = dir / "out";
        write(out + "/Config.ini", "old config");
        write(out + "/DB/Logs.mdb", "old logs");
        MakeDirs(out + "/New");
        if (c.before) c.before(out);
        TVCLUnZip z;
        std::vector<std::string> events;
        int current = -1;
        bool midwayDone = !c.midway;
        z.OnStartUnZip = [&](TVCLUnZip*, int i, std::string&, bool&) { current = i; };
        mode_t configMode = ModeOf(out + "/Config.ini");
        z.OnFilePercentDone = [&](TVCLUnZip*, int) {
            if (current != last || midwayDone) return;
            midwayDone = c.midway(out) || (cannotSetUp.push_back(c.what), true);
            configMode = ModeOf(out + "/Config.ini");
        };
        z.OnEndUnZip = [&](TVCLUnZip*, int i, const std::string&) { events.push_back("end " + std::to_string(i)); };
        z.OnSkippingFile = [&](TVCLUnZip* s, TSkipReason r, const std::string&, int i, bool&) {
            events.push_back("skip " + std::to_string(r) + " " + std::to_string(i) + " " + s->SkipDetail());
        };
        z.SetZipName(dir / "p.zip");
        z.SetDestDir(out);
        z.RecreateDirs = true;
        z.OverwriteMode = Always;
        z.AllOrNothing = c.allOrNothing;
        z.ReplaceReadOnly = c.replaceReadOnly;
        z.RetainAttributes = false;
        z.DoAll = true;
        const int written = z.UnZip();
        if (heldLock >= 0) close(std::exchange(heldLock, -1));
        // A folder closed to changes keeps the scratch file made in it before: debris for the next sweep.
        if (closed) {
            closed.reset();
            fs::RemoveStaleScratchFiles(out + "/New");
        }
        EXPECT_TRUE(midwayDone);
        EXPECT_EQ(events, c.events);
        EXPECT_EQ(written, static_cast<int>(std::count_if(c.events.begin(), c.events.end(),
                                                          [](const std::string& e) { return e.rfind("end", 0) == 0; })));
        for (const auto& [name, content] : c.after) {
            if (content.empty()) {
                EXPECT_FALSE(std::filesystem::is_regular_file(out + "/" + name)) << name;
            } else {
                EXPECT_EQ(ReadFile(out + "/" + name), content) << name;
            }
        }
        EXPECT_EQ(TempLeftovers(dir.Path()), 0);
        for (const auto& e : std::filesystem::recursive_directory_iterator(out)) {
            char names[256];
            const ssize_t n = listxattr(e.path().c_str(), names, sizeof names);
            EXPECT_EQ(std::string(names, n > 0 ? static_cast<size_t>(n) : 0).find("zbk"), std::string::npos) << e.path();
        }
        if (c.after.count("DB/Logs.idx") && c.after.at("DB/Logs.idx") == "old third") {
            EXPECT_EQ(ModeOf(out + "/DB/Logs.idx"), 0444u);
        }
        if (ReadFile(out + "/Config.ini") == "old config") {
            EXPECT_EQ(ModeOf(out + "/Config.ini"), configMode);  // as it was before the call, or made midway
        }
    }
    if (!cannotSetUp.empty()) GTEST_SKIP() << "no folder could be closed to new names for: " << ::testing::PrintToString(cannotSetUp);
}

TEST(UnZipFailures, OversizeStopsBeforeWritingPastTheStoredSize) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe e;
    e.name = "big.bin";
    e.data = std::string(40000, 'x');
    e.uncompressedSize = 30000;
    b.Add(e);
    WriteFile(dir / "o.zip", b.Build());
    TVCLUnZip z;
    std::vector<int> filePercents;
    z.OnFilePercentDone = [&](TVCLUnZip*, int p) { filePercents.push_back(p); };
    z.SetZipName(dir / "o.zip");
    z.SetDestDir(dir / "out");
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 0);
    EXPECT_EQ(filePercents, std::vector<int>{53});  // one block of 16000 of 30000, then the refusal
    EXPECT_FALSE(PathExists(dir / "out/big.bin"));
}

TEST(UnZipFailures, TruncatedArchiveRaisesAndKeepsTheOldFile) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("first.txt", "first");
    ZipEntryRecipe cut;
    cut.name = "Awards.mdb";
    cut.data = std::string(50000, 'n');
    cut.compressedSize = 900000;  // far beyond the end of the file
    cut.uncompressedSize = 900000;
    b.Add(cut);
    WriteFile(dir / "t.zip", b.Build());
    WriteFile(dir / "out/Awards.mdb", "old content");
    TVCLUnZip z;
    EventLog log;
    log.Attach(z, false);
    z.SetZipName(dir / "t.zip");
    z.SetDestDir(dir / "out");
    z.OverwriteMode = Always;
    z.FilesList = {"*"};
    try {
        z.UnZip();
        FAIL();
    } catch (const EFatalUnzipError& e) {
        EXPECT_STREQ(e.what(), "Premature end of file reached");
    }
    EXPECT_EQ(ReadFile(dir / "out/Awards.mdb"), "old content");
    EXPECT_EQ(ReadFile(dir / "out/first.txt"), "first");
    EXPECT_EQ(TempLeftovers(dir.Path()), 0);
    EXPECT_TRUE(z.FilesList.empty());
    EXPECT_FALSE(z.KeepZipOpen);
    EXPECT_EQ(log.lines.back(), "complete 1");
}

// ---- passwords ----------------------------------------------------------------------------------------

ZipEntryRecipe Encrypted(const std::string& name, const std::string& content, const std::string& password,
                       uint16_t flags = 0) {
    ZipEntryRecipe e;
    e.name = name;
    e.data = content;
    e.encrypt = true;
    e.password = password;
    e.flags = flags;
    // A time whose high byte differs from the CRC's, so the two checks can be told apart.
    e.dosTime = 0x5A21A000;
    return e;
}

TEST(UnZipPasswords, HeaderCheckHandlerAndSkips) {
    TempDir dir;
    ZipBuilder b;
    b.Add(Encrypted("crc.txt", "checked on the CRC", "secret"));
    b.Add(Encrypted("time.txt", "checked on the time", "secret", 8));
    ZipEntryRecipe strong = Encrypted("strong.txt", "never decoded", "secret");
    strong.flags = 0x40;
    b.Add(strong);
    const std::string archive = b.Build();
    ASSERT_NE(b.Entries()[1].crc >> 24, (0x5A21A000u >> 8) & 0xFF);
    WriteFile(dir / "p.zip", archive);

    // No password, no handler: both traditional entries and the strong one are skipped with reason 0.
    {
        TVCLUnZip z;
        EventLog log;
        log.Attach(z, false);
        z.SetZipName(dir / "p.zip");
        z.SetDestDir(dir / "none");
        z.DoAll = true;
        EXPECT_EQ(z.UnZip(), 0);
        EXPECT_EQ(log.Count("skip 0"), 3);
        EXPECT_EQ(log.Count("skip 0 1 time.txt"), 1);
        EXPECT_FALSE(PathExists(dir / "none/crc.txt"));
    }
    // The handler supplies the password once; the strong entry is refused without asking.
    {
        TVCLUnZip z;
        EventLog log;
        log.Attach(z, false);
        std::vector<int> asked;
        z.OnBadPassword = [&](TVCLUnZip*, int index, std::string& password) {
            asked.push_back(index);
            password = "secret";
        };
        z.SetZipName(dir / "p.zip");
        z.SetDestDir(dir / "out");
        z.DoAll = true;
        EXPECT_EQ(z.UnZip(), 2);
        EXPECT_EQ(asked, std::vector<int>{0});
        EXPECT_EQ(z.Password, "secret");
        EXPECT_EQ(ReadFile(dir / "out/crc.txt"), "checked on the CRC");
        EXPECT_EQ(ReadFile(dir / "out/time.txt"), "checked on the time");
        EXPECT_EQ(log.Count("skip 0 2 strong.txt"), 1);
        EXPECT_FALSE(PathExists(dir / "out/strong.txt"));
    }
}

TEST(UnZipPasswords, EmptyPasswordThatPassesIsExtractedOnce) {
    TempDir dir;
    ZipBuilder b;
    b.Add(Encrypted("e.txt", "empty password", ""));
    WriteFile(dir / "e.zip", b.Build());
    TVCLUnZip z;
    EventLog log;
    log.Attach(z, false);
    int asked = 0;
    z.OnBadPassword = [&](TVCLUnZip*, int, std::string&) { ++asked; };
    z.SetZipName(dir / "e.zip");
    z.SetDestDir(dir / "out");
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 1);
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(log.Count("end"), 1);
    EXPECT_EQ(log.Count("start"), 1);
    EXPECT_EQ(ReadFile(dir / "out/e.txt"), "empty password");
}

TEST(UnZipPasswords, CrcMismatchAsksAgainAndRetries) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe e = Encrypted("d.txt", "data", "right", 8);  // checked on the time
    e.crc = 0xDEADBEEF;                                       // so the content never matches
    b.Add(e);
    WriteFile(dir / "d.zip", b.Build());
    TVCLUnZip z;
    EventLog log;
    log.Attach(z, false);
    std::vector<std::string> offered;
    z.OnBadPassword = [&](TVCLUnZip*, int, std::string& password) {
        offered.push_back(password);
        if (password == "right") password = "other";
    };
    z.Password = "right";
    z.SetZipName(dir / "d.zip");
    z.SetDestDir(dir / "out");
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 0);
    // CRC fails with "right" -> asked, answers "other" -> entry retried -> header check fails with
    // "other" -> asked, same answer -> skipped.
    EXPECT_EQ(offered, (std::vector<std::string>{"right", "other"}));
    EXPECT_EQ(log.Count("start 0"), 2);
    EXPECT_EQ(log.Count("skip 0 0 d.txt"), 1);
    EXPECT_EQ(log.Count("badcrc"), 0);
    EXPECT_FALSE(PathExists(dir / "out/d.txt"));
    EXPECT_EQ(log.lines.back(), "complete 0");
}

// ---- events, progress, counts -------------------------------------------------------------------------

TEST(UnZipEvents, OrderForASmallArchive) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe folder;
    folder.name = "DB/";
    b.Add(folder).Stored("DB/a.txt", std::string(20000, 'a')).Stored("b.txt", "").Stored("c.txt", "ccc");
    WriteFile(dir / "s.zip", b.Build());
    WriteFile(dir / "out/c.txt", "existing");
    TVCLUnZip z;
    EventLog log;
    log.Attach(z);
    z.SetZipName(dir / "s.zip");
    z.SetDestDir(dir / "out");
    z.RecreateDirs = true;
    z.OverwriteMode = Never;
    z.FilesList = {"*"};
    EXPECT_EQ(z.UnZip(), 2);
    const std::vector<std::string> expected = {
        "info 3 20003",
        "start 1 a.txt", "file% 80", "total% 80", "file% 100", "total% 100", "end 1 a.txt",
        "start 2 b.txt", "end 2 b.txt",  // empty: no percent events
        "start 3 c.txt", "skip 1 3 " + dir / "out/c.txt",
        "complete 2",
    };
    EXPECT_EQ(log.lines, expected);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "out/DB"));
    EXPECT_EQ(fs::GetFileDosTime(dir / "out/b.txt"), b.Entries()[2].dosTime);
}

TEST(UnZipEvents, TotalReachesHundredWhenAnEntryIsSkipped) {
    TempDir dir;
    ZipBuilder b;
    // The skipped entry comes first: the total shrinks before the output starts.
    b.Stored("b.txt", std::string(3000, 'b')).Stored("a.txt", std::string(1000, 'a'));
    WriteFile(dir / "s.zip", b.Build());
    WriteFile(dir / "out/b.txt", "keep");
    TVCLUnZip z;
    std::vector<int> totals;
    z.OnTotalPercentDone = [&](TVCLUnZip*, int p) { totals.push_back(p); };
    z.SetZipName(dir / "s.zip");
    z.SetDestDir(dir / "out");
    z.OverwriteMode = Never;
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 1);
    EXPECT_EQ(totals, std::vector<int>{100});
}

TEST(UnZipEvents, StoredEntryInThreeBlocksAndPumpPerBlock) {
    TempDir dir;
    ZipBuilder b;
    b.Stored("big.bin", testing_support::RandomBytes(40000, 7));
    WriteFile(dir / "s.zip", b.Build());
    RecordingHost host;
    TVCLUnZip z(&host);
    std::vector<int> files;
    z.OnFilePercentDone = [&](TVCLUnZip*, int p) { files.push_back(p); };
    z.SetZipName(dir / "s.zip");
    z.SetDestDir(dir / "out");
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 1);
    EXPECT_EQ(files, (std::vector<int>{40, 80, 100}));
    EXPECT_EQ(host.pumps, 3);
    EXPECT_EQ(ReadFile(dir / "out/big.bin"), testing_support::RandomBytes(40000, 7));
}

TEST(UnZipEvents, CommentsReadFromAHandlerDoNotDisturbTheEntry) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe e;
    e.name = "big.bin";
    e.data = testing_support::RandomBytes(40000, 9);
    e.comment = "entry comment";
    b.Add(e);
    b.archiveComment = "archive comment";
    WriteFile(dir / "c.zip", b.Build());
    TVCLUnZip z;
    z.SetZipName(dir / "c.zip");
    z.ReadCentralDirectory();
    z.OnFilePercentDone = [&](TVCLUnZip* sender, int) {
        EXPECT_EQ(sender->EntryComment(0), "entry comment");
        EXPECT_EQ(sender->ArchiveComment(), "archive comment");
    };
    z.SetDestDir(dir / "out");
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 1);
    EXPECT_EQ(ReadFile(dir / "out/big.bin"), e.data);
}

TEST(UnZipEvents, SecondCallWithoutFilesListExtractsNothing) {
    TempDir dir;
    WriteFile(dir / "l.zip", LoggerArchive());
    TVCLUnZip z;
    EventLog log;
    log.Attach(z, false);
    z.SetZipName(dir / "l.zip");
    z.SetDestDir(dir / "out");
    z.FilesList = {"x.ini"};
    EXPECT_EQ(z.UnZip(), 1);
    log.lines.clear();
    EXPECT_EQ(z.UnZip(), 0);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"info 0 0", "complete 0"}));
}

TEST(UnZipEvents, SkipFromStartUnZipAndKeepZipOpenRestored) {
    TempDir dir;
    WriteFile(dir / "l.zip", LoggerArchive());
    TVCLUnZip z;
    z.OnStartUnZip = [](TVCLUnZip*, int, std::string& name, bool& skip) { skip = name.find("x.ini") != std::string::npos; };
    int complete = -1;
    z.OnUnZipComplete = [&](TVCLUnZip*, int n) { complete = n; };
    z.SetZipName(dir / "l.zip");
    z.SetDestDir(dir / "out");
    z.RecreateDirs = true;
    z.DoAll = true;
    EXPECT_EQ(z.UnZip(), 3);
    EXPECT_EQ(complete, 3);
    EXPECT_FALSE(PathExists(dir / "out/x.ini"));
    EXPECT_FALSE(z.KeepZipOpen);
    z.KeepZipOpen = true;
    z.DoAll = true;
    z.UnZip();
    EXPECT_TRUE(z.KeepZipOpen);
}

TEST(UnZipAttributes, DatesAndAttributesFromTheEntry) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe ro;
    ro.name = "ro.txt";
    ro.data = "read only";
    ro.externalAttributes = 0x21;
    ro.dosTime = (44u << 25) | (2u << 21) | (29u << 16) | (23u << 11) | (59u << 5) | 31u;  // 62 seconds
    b.Add(ro);
    WriteFile(dir / "a.zip", b.Build());
    for (const bool retain : {true, false}) {
        const std::string out = dir / (retain ? "keep" : "plain");
        TVCLUnZip z;
        z.SetZipName(dir / "a.zip");
        z.SetDestDir(out);
        z.RetainAttributes = retain;
        z.DoAll = true;
        EXPECT_EQ(z.UnZip(), 1);
        EXPECT_EQ(static_cast<bool>(*fs::GetAttributes(out + "/ro.txt") & fs::faReadOnly), retain);
        // The impossible 62 seconds are corrected to 58.
        EXPECT_EQ(fs::GetFileDosTime(out + "/ro.txt"), (ro.dosTime & ~0x1Fu) | 29u);
    }
}

TEST(UnZipTest, TestArchiveWritesNothing) {
    TempDir dir;
    ZipBuilder b;
    ZipEntryRecipe bad;
    bad.name = "bad.txt";
    bad.data = "x";
    bad.crc = 1;
    b.Stored("DB/good.txt", "good").Add(bad);
    WriteFile(dir / "t.zip", b.Build());
    TVCLUnZip z;
    EventLog log;
    log.Attach(z, false);
    z.SetZipName(dir / "t.zip");
    z.DoAll = true;
    EXPECT_EQ(z.TestArchive(), 1);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"info 2 5", "start 0 good.txt", "end 0 good.txt", "start 1 bad.txt",
                                                   "badcrc 1", "complete 1"}));
    // Only the archive itself is there.
    const auto items = std::distance(std::filesystem::directory_iterator(dir.Path()), {});
    EXPECT_EQ(items, 1);
}

}  // namespace
