// Multi-volume archives in block mode: volume names and sizes, headers never split across volumes, the
// companion directory file, progress, the scratch files, and a failed set leaving nothing behind. The set,
// joined into one file, must read back in the other tools.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/records/little_endian.h"
#include "archive/writer/vcl_zip.h"
#include "archive/writer/volume_set.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using writer_testing::FolderNames;

struct VolumeFixture {
    TempDir dir;
    writer_testing::Contents contents = {
        {"random.bin", testing_support::RandomBytes(150000, 31)},
        {"text.txt", testing_support::TextBytes(100000, 32)},
        {"empty.dat", ""},
        {"small.txt", "small"},
    };
    VolumeFixture() {
        for (const auto& [name, content] : contents) WriteFile(dir / ("in/" + name), content);
    }
    void Configure(TVCLZip& zip, int first, int block, bool companion) {
        TMultiZipInfo info;
        info.MultiMode = mmBlocks;
        info.FirstBlockSize = first;
        info.BlockSize = block;
        info.SaveZipInfoOnFirstDisk = companion;
        zip.SetMultiZipInfo(info);
        zip.SetZipName(dir / "out/set.zip");
        testing_support::MakeDirs(dir / "out");
        zip.FilesList = {dir / "in/*.*"};
    }
    std::vector<std::string> Volumes() const {
        std::vector<std::string> v;
        for (int n = 1; PathExists(writer::VolumeSet::VolumeName(dir / "out/set.zip", n)); ++n)
            v.push_back(writer::VolumeSet::VolumeName(dir / "out/set.zip", n));
        return v;
    }
};

TEST(VolumeSetNames, ThreeDigitExtensionsReplaceTheArchivesOwn) {
    EXPECT_EQ(writer::VolumeSet::VolumeName("/b/set.zip", 1), "/b/set.001");
    EXPECT_EQ(writer::VolumeSet::VolumeName("/b/set.zip", 42), "/b/set.042");
    EXPECT_EQ(writer::VolumeSet::VolumeName("/b/set", 3), "/b/set.003");
}

TEST(VolumeSetWriting, BlocksHoldWholeHeadersAndJoinIntoAReadableArchive) {
    VolumeFixture f;
    TVCLZip zip;
    f.Configure(zip, 50000, 65536, true);
    std::vector<int> total, file;
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int p) { total.push_back(p); };
    zip.OnFilePercentDone = [&](TVCLUnZip*, int p) { file.push_back(p); };
    ASSERT_EQ(zip.Zip(), 4);
    EXPECT_EQ(zip.MultiZipInfo().SaveOnFirstDisk, 2070 + 58 * 1);  // one list entry before expansion

    const auto volumes = f.Volumes();
    ASSERT_GE(volumes.size(), 3u);
    EXPECT_FALSE(PathExists(f.dir / "out/set.zip"));
    std::vector<std::string> bytes;
    for (size_t i = 0; i < volumes.size(); ++i) {
        bytes.push_back(ReadFile(volumes[i]));
        EXPECT_LE(bytes[i].size(), i == 0 ? 50000u : 65536u) << volumes[i];
    }
    // Every central record and the local header it points to lie wholly inside one volume.
    const std::string& last = bytes.back();
    const size_t endPos = last.rfind(std::string("PK\x05\x06", 4));
    ASSERT_NE(endPos, std::string::npos);
    const auto* e = reinterpret_cast<const uint8_t*>(last.data() + endPos);
    EXPECT_EQ(GetU16(e + 4), volumes.size() - 1);  // this disk
    size_t disk = GetU16(e + 6);
    size_t pos = GetU32(e + 16);
    for (int i = 0; i < GetU16(e + 10); ++i) {
        if (pos == bytes[disk].size()) {
            ++disk;
            pos = 0;
        }
        const auto* c = reinterpret_cast<const uint8_t*>(bytes[disk].data() + pos);
        ASSERT_EQ(GetU32(c), kCentralHeaderSignature) << "record " << i;
        const size_t size = 46 + GetU16(c + 28) + GetU16(c + 30) + GetU16(c + 32);
        EXPECT_LE(pos + size, bytes[disk].size()) << "central record " << i << " split";
        const uint16_t localDisk = GetU16(c + 34);
        const uint32_t offset = GetU32(c + 42);
        const auto* l = reinterpret_cast<const uint8_t*>(bytes[localDisk].data() + offset);
        ASSERT_EQ(GetU32(l), kLocalHeaderSignature) << "entry " << i;
        EXPECT_LE(offset + 30u + GetU16(l + 26), bytes[localDisk].size()) << "local header " << i << " split";
        EXPECT_EQ(GetU32(l + 14), GetU32(c + 16)) << "local CRC of entry " << i;
        pos += size;
    }

    // The companion holds the directory and the end record.
    const std::string companion = ReadFile(f.dir / "out/set.zfc");
    ASSERT_FALSE(companion.empty());
    EXPECT_EQ(companion.substr(companion.size() - 22), last.substr(endPos, 22));
    EXPECT_EQ(GetU32(reinterpret_cast<const uint8_t*>(companion.data())), kCentralHeaderSignature);

    // Progress: per-file figures halved while compressing and carried on to 100 by the copy; the total
    // ends on 100.
    ASSERT_FALSE(total.empty());
    EXPECT_EQ(total.back(), 100);
    EXPECT_TRUE(std::is_sorted(total.begin(), total.end()));
    EXPECT_NE(std::find(file.begin(), file.end(), 50), file.end());
    EXPECT_EQ(file.back(), 100);

    // The reader takes the set from its last volume (and the companion), asking for the others.
    TVCLUnZip reader;
    reader.SetZipName(volumes.back());
    reader.DoAll = true;
    EXPECT_EQ(reader.TestArchive(), 4);

    std::string error;
    ASSERT_TRUE(writer_testing::JoinVolumes(volumes, f.dir / "joined.zip", error)) << error;
    const auto problems = writer_testing::CheckWithOracles(f.dir / "joined.zip", f.contents);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    // Nothing but the set and its companion in the target folder.
    auto names = FolderNames(f.dir / "out");
    EXPECT_EQ(names.size(), volumes.size() + 1);
}

TEST(VolumeSetWriting, ASetThatFitsOneVolumeHasNoCompanion) {
    VolumeFixture f;
    TVCLZip zip;
    f.Configure(zip, 10 << 20, 10 << 20, true);
    ASSERT_EQ(zip.Zip(), 4);
    EXPECT_EQ(FolderNames(f.dir / "out"), std::vector<std::string>{"set.001"});
    const auto problems = writer_testing::CheckWithOracles(f.dir / "out/set.001", f.contents);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(VolumeSetWriting, ScratchFilesGoToTempPathAndAFailedSetLeavesNothing) {
    VolumeFixture f;
    testing_support::MakeDirs(f.dir / "scratch");
    TVCLZip zip;
    f.Configure(zip, 50000, 65536, false);
    zip.TempPath = f.dir / "scratch";
    bool sawScratch = false;
    int pieces = 0;
    zip.OnFilePercentDone = [&](TVCLUnZip*, int) {
        sawScratch = sawScratch || !FolderNames(f.dir / "scratch").empty();
        if (++pieces == 8) zip.CancelOperation();
    };
    EXPECT_THROW(zip.Zip(), EUserCanceled);
    EXPECT_TRUE(sawScratch);
    EXPECT_TRUE(FolderNames(f.dir / "scratch").empty());
    EXPECT_TRUE(FolderNames(f.dir / "out").empty());
}

TEST(VolumeSetWriting, VolumesTooSmallForAHeaderAreRefused) {
    VolumeFixture f;
    TVCLZip zip;
    f.Configure(zip, 30, 30, false);  // no local header fits in 30 bytes
    EXPECT_THROW(zip.Zip(), EFileTooLarge);
    EXPECT_TRUE(FolderNames(f.dir / "out").empty());
}

TEST(VolumeSetWriting, AnExistingArchiveIsNotRebuiltAsASet) {
    VolumeFixture f;
    TVCLZip zip;
    f.Configure(zip, 50000, 65536, false);
    WriteFile(f.dir / "out/set.zip", "");
    EXPECT_THROW(zip.Zip(), Exception);
    EXPECT_EQ(FolderNames(f.dir / "out"), std::vector<std::string>{"set.zip"});
}

}  // namespace
}  // namespace archive
