// Failures of a Zip call and what they leave behind: a disk that fills up (during the data, and only at
// the final flush), a cancel from a progress handler, files and archives too large for the 32-bit fields,
// an output folder that does not exist, an old archive that is not one. In every case: the exception
// reaches the caller, no partial archive and no temporary file remain, an old archive is byte-identical.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/writer/output_file.h"
#include "archive/writer/vcl_zip.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::ReadFile;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
using writer_testing::FolderNames;
using writer_testing::ReadListing;
constexpr auto Shell = testing_support::Run;

// A small file system of its own (tmpfs, 1 MiB) when this process may mount one; otherwise nullptr and
// the tests fall back to a per-process file size limit, which fails writes the same way a full disk does.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& mountPoint) : path_(mountPoint) {
        testing_support::MakeDirs(path_);
        mounted_ = Shell("mount -t tmpfs -o size=1m tmpfs " + ShellQuote(path_) + " 2>/dev/null").exitCode == 0;
    }
    ~SmallDisk() {
        if (mounted_) Shell("umount " + ShellQuote(path_));
    }
    bool Mounted() const { return mounted_; }

private:
    std::string path_;
    bool mounted_ = false;
};

struct ZipRun {
    std::string error;  // the exception's message, empty when Zip succeeded
    bool threwNotEnoughRoom = false;
    bool completed = false;
};

// Writes an archive of `files` and returns its bytes.
std::string ArchiveOf(const std::string& zipName, const std::vector<std::string>& files) {
    TVCLZip zip;
    zip.SetZipName(zipName);
    zip.FilesList = files;
    EXPECT_EQ(zip.Zip(), static_cast<int>(files.size()));
    return ReadFile(zipName);
}

ZipRun RunZip(TVCLZip& zip) {
    ZipRun run;
    zip.OnZipComplete = [&](TVCLZip*, int) { run.completed = true; };
    try {
        zip.Zip();
    } catch (const ENotEnoughRoom& e) {
        run.threwNotEnoughRoom = true;
        run.error = e.what();
    } catch (const std::exception& e) {
        run.error = e.what();
    }
    return run;
}

TEST(ZipFaults, AFullDiskDuringTheDataLeavesNothingAndTheOldArchiveIntact) {
    TempDir dir;
    WriteFile(dir / "small.txt", testing_support::TextBytes(20000, 1));
    WriteFile(dir / "big.bin", testing_support::RandomBytes(3 << 20, 2));  // larger than the disk
    SmallDisk disk(dir / "disk");
    const std::string target = dir / "disk";

    // A new archive, then a rebuild of an existing one, both failing on the full disk.
    TVCLZip first;
    first.SetZipName(target + "/old.zip");
    first.FilesList = {dir / "small.txt"};
    ASSERT_EQ(first.Zip(), 1);
    const std::string old = ReadFile(target + "/old.zip");

    for (const std::string name : {"new.zip", "old.zip"}) {
        TVCLZip zip;
        zip.SetZipName(target + "/" + name);
        zip.FilesList = {dir / "big.bin"};
        ZipRun run;
        if (disk.Mounted()) {
            run = RunZip(zip);
        } else {
            testing_support::FileSizeLimit limit(1 << 20);
            run = RunZip(zip);
        }
        EXPECT_TRUE(run.threwNotEnoughRoom) << name << ": " << run.error;
        EXPECT_EQ(run.error, "Not enough room to write archive");
        EXPECT_FALSE(run.completed);
        EXPECT_EQ(FolderNames(target), std::vector<std::string>{"old.zip"}) << name;
        EXPECT_EQ(ReadFile(target + "/old.zip"), old) << name;
        EXPECT_TRUE(zip.FilesList.empty());
        EXPECT_FALSE(zip.Busy());
    }
}

TEST(ZipFaults, AFullDiskAtTheFinalFlushIsStillAFailure) {
    // The last bytes of an archive (central directory and end record) sit in the write buffer until the
    // final flush; a disk that is full just then must not pass for a finished backup.
    TempDir dir;
    WriteFile(dir / "a.txt", testing_support::TextBytes(30000, 3));
    TVCLZip probe;
    probe.SetZipName(dir / "probe.zip");
    probe.FilesList = {dir / "a.txt"};
    ASSERT_EQ(probe.Zip(), 1);
    const auto size = std::filesystem::file_size(dir / "probe.zip");
    const auto listing = ReadListing(dir / "probe.zip");
    ASSERT_LT(size - listing.end.CentralOffset, 8192u);  // the directory is one buffer's tail

    TVCLZip zip;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "a.txt"};
    int endZip = 0;
    zip.OnEndZip = [&](TVCLZip*, const std::string&, int64_t, int64_t, int64_t) { ++endZip; };
    ZipRun run;
    {
        testing_support::FileSizeLimit limit(size - 10);
        run = RunZip(zip);
    }
    EXPECT_EQ(endZip, 1);  // the data went through; only the end did not
    EXPECT_TRUE(run.threwNotEnoughRoom) << run.error;
    EXPECT_FALSE(run.completed);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "probe.zip"}));
}

// The archive is read back before it takes its name. Bytes that changed on the disk after they were
// written (here: flipped from a handler while the last file is under way) are caught; the archive is not
// put in place, the scratch file goes and an old archive of the same name stays as it was.
TEST(ZipFaults, AnArchiveThatDoesNotReadBackIsNotPutInPlace) {
    struct Case {
        const char* what;
        int64_t offset;        // of the flipped bytes, in the archive being written
        const char* expected;  // in the message
    };
    const Case cases[] = {{"data of the first entry", 4000, "big.bin: CRC or size mismatch"},
                          {"signature of the first local header", 0, "other.txt: its local header is missing"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        WriteFile(dir / "big.bin", testing_support::RandomBytes(300000, 4));
        WriteFile(dir / "last.txt", testing_support::TextBytes(90000, 5));
        WriteFile(dir / "other.txt", "in the old archive");
        const std::string old = ArchiveOf(dir / "x.zip", {dir / "other.txt"});
        TVCLZip zip;
        zip.SetZipName(dir / "x.zip");
        zip.FilesList = {dir / "big.bin", dir / "last.txt"};
        zip.OnStartZip = [&](TVCLZip*, const std::string& name, TZipHeaderInfo&, bool&) {
            if (name != dir / "last.txt") return;
            for (const std::string& file : FolderNames(dir.Path())) {
                if (file.rfind(".zbk-", 0) != 0) continue;
                const int fd = ::open((dir / file).c_str(), O_RDWR);
                char bytes[4];
                ASSERT_EQ(::pread(fd, bytes, sizeof bytes, c.offset), 4);  // already on the disk
                for (char& b : bytes) b = static_cast<char>(~b);
                ASSERT_EQ(::pwrite(fd, bytes, sizeof bytes, c.offset), 4);
                ::close(fd);
            }
        };
        const ZipRun run = RunZip(zip);
        EXPECT_NE(run.error.find("The new archive did not read back whole"), std::string::npos) << run.error;
        EXPECT_NE(run.error.find(c.expected), std::string::npos) << run.error;
        EXPECT_FALSE(run.completed);
        EXPECT_EQ(ReadFile(dir / "x.zip"), old);
        EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"big.bin", "last.txt", "other.txt", "x.zip"}));
    }
}

TEST(ZipFaults, CancelFromAProgressHandlerStopsAtTheNextWrite) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    const std::string old = ArchiveOf(dir / "x.zip", {dir / "a.txt"});
    WriteFile(dir / "big.txt", testing_support::TextBytes(3000000, 4));

    for (const bool stored : {false, true}) {
        TVCLZip zip;
        zip.PackLevel = stored ? 0 : 6;
        zip.SetZipName(dir / "x.zip");
        zip.FilesList = {dir / "big.txt"};
        int percents = 0;
        zip.OnFilePercentDone = [&](TVCLUnZip*, int) {
            if (++percents == 2) zip.CancelOperation();
        };
        const ZipRun run = RunZip(zip);
        EXPECT_EQ(run.error, "User Aborted Operation");
        EXPECT_FALSE(run.completed);
        EXPECT_LT(percents, 60);  // of about 92 pieces: the compressor writes once per block
        EXPECT_EQ(ReadFile(dir / "x.zip"), old);
        EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "big.txt", "x.zip"}));
        // The request was used up: the next call runs to its end.
        zip.FilesList = {dir / "big.txt"};
        EXPECT_EQ(zip.Zip(), 1);
        ASSERT_EQ(ReadListing(dir / "x.zip").entries.size(), 2u);
        // Back to the one-entry archive for the next round.
        WriteFile(dir / "x.zip", old);
    }
}

TEST(ZipFaults, AFileOfFourGibibytesIsRefusedNotTruncated) {
    TempDir dir;
    const std::string huge = dir / "huge.bin";
    // A sparse file costs no disk space; some file systems refuse the size all the same.
    if (Shell("truncate -s 4G " + ShellQuote(huge)).exitCode != 0) GTEST_SKIP() << "no sparse 4 GiB file here";
    WriteFile(dir / "a.txt", "alpha");
    TVCLZip zip;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "a.txt", huge};
    try {
        zip.Zip();
        FAIL() << "a 4 GiB file was accepted";
    } catch (const EFileTooLarge& e) {
        EXPECT_NE(std::string(e.what()).find("huge.bin"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("4 GiB"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "huge.bin"}));
}

TEST(ZipFaults, AnArchivePastTheSizeLimitIsRefused) {
    // The limit is 4 GiB - 1; lowered here so that reaching it costs little.
    struct Limit {
        explicit Limit(uint64_t n) { writer::SetArchiveSizeLimit(n); }
        ~Limit() { writer::SetArchiveSizeLimit(0xFFFFFFFFull); }
    } limit(100000);
    TempDir dir;
    WriteFile(dir / "a.bin", testing_support::RandomBytes(60000, 5));
    WriteFile(dir / "b.bin", testing_support::RandomBytes(60000, 6));
    TVCLZip zip;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "a.bin", dir / "b.bin"};
    try {
        zip.Zip();
        FAIL() << "archive beyond the limit accepted";
    } catch (const EFileTooLarge& e) {
        EXPECT_NE(std::string(e.what()).find("100000 bytes"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.bin", "b.bin"}));
}

TEST(ZipFaults, AMissingOutputFolderIsACreateError) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    TVCLZip zip;
    zip.SetZipName(dir / "no/such/folder/x.zip");
    zip.FilesList = {dir / "a.txt"};
    EXPECT_THROW(zip.Zip(), EFCreateError);
    EXPECT_EQ(FolderNames(dir.Path()), std::vector<std::string>{"a.txt"});
    EXPECT_FALSE(zip.Busy());
}

TEST(ZipFaults, AnOldFileThatIsNoArchiveIsLeftAlone) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    const std::string garbage = testing_support::TextBytes(5000, 7);
    WriteFile(dir / "x.zip", garbage);
    TVCLZip zip;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "a.txt"};
    EXPECT_THROW(zip.Zip(), Exception);
    EXPECT_EQ(ReadFile(dir / "x.zip"), garbage);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "x.zip"}));
}

}  // namespace
}  // namespace archive
