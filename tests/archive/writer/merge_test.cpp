// Rebuilding an existing archive: replace, update and freshen; entries carried over byte for byte (also
// from archives other tools wrote, with extra fields and data descriptors); duplicates in the old
// archive; pending comment changes; and the old archive left whole until the new one is in place.
#include <gtest/gtest.h>

#include <ctime>

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/writer/vcl_zip.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::HaveTool;
using testing_support::ReadFile;
// Test::Run hides the shell runner inside test bodies.
constexpr auto Shell = testing_support::Run;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
using writer_testing::FolderNames;
using writer_testing::ReadListing;

// Sets a file's modification time to `daysAgo` days before now.
void Age(const std::string& path, int daysAgo) {
    ASSERT_TRUE(fs::SetFileDosTime(path, fs::DosFromTime(std::time(nullptr) - daysAgo * 86400L)));
}

// Writes an archive of the given files (relative to dir) with this writer.
void MakeArchive(const TempDir& dir, const std::string& zipName, const std::vector<std::string>& files) {
    TVCLZip zip;
    zip.SetZipName(dir / zipName);
    for (const auto& f : files) zip.FilesList.push_back(dir / f);
    ASSERT_EQ(zip.Zip(), static_cast<int>(files.size()));
}

// The raw bytes of an entry: local header, name, extra field and data.
std::string EntryBytes(const std::string& zipPath, const TZipHeaderInfo& central) {
    TZipHeaderInfo local;
    EXPECT_TRUE(writer_testing::ReadLocalHeader(zipPath, central.LocalHeaderOffset, local));
    const std::string all = ReadFile(zipPath);
    return all.substr(central.LocalHeaderOffset, local.LocalRecordSize() + central.CompressedSize);
}

std::vector<std::string> Names(const writer_testing::Listing& listing) {
    std::vector<std::string> names;
    for (const auto& e : listing.entries) names.push_back(e.StoredName());
    return names;
}

TEST(ZipMerge, ReplaceSwapsMatchingEntriesInPlaceAndAppendsNewFiles) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    WriteFile(dir / "b.txt", "bravo");
    WriteFile(dir / "c.txt", testing_support::TextBytes(3000, 1));
    MakeArchive(dir, "x.zip", {"a.txt", "b.txt", "c.txt"});
    const auto before = ReadListing(dir / "x.zip");

    WriteFile(dir / "b.txt", "bravo, rewritten");
    WriteFile(dir / "d.txt", "delta");
    Age(dir / "b.txt", 400);  // older than its entry: zaReplace does not care
    TVCLZip zip;
    zip.ZipAction = zaReplace;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "d.txt", dir / "B.TXT"};  // found again ignoring case
    std::vector<std::string> events;
    zip.OnUpdate = [&](TVCLZip*, TUpdateAction a, int i) {
        events.push_back("Update " + std::to_string(a) + " " + std::to_string(i));
    };
    zip.OnStartZipInfo = [&](TVCLZip*, int n, int64_t, TEndCentral&, bool&) {
        events.push_back("StartZipInfo " + std::to_string(n));
    };
    zip.OnEndZip = [&](TVCLZip*, const std::string& f, int64_t, int64_t, int64_t) {
        events.push_back("EndZip " + fs::ExtractFileName(f));
    };
    EXPECT_EQ(zip.Zip(), 2);
    EXPECT_EQ(events, (std::vector<std::string>{"Update 0 1", "EndZip B.TXT", "StartZipInfo 1", "EndZip d.txt"}));

    const auto after = ReadListing(dir / "x.zip");
    ASSERT_TRUE(after.ok);
    // The replacement takes the old entry's place, under the name as listed.
    EXPECT_EQ(Names(after), (std::vector<std::string>{"a.txt", "B.TXT", "c.txt", "d.txt"}));
    EXPECT_EQ(after.end.TotalEntries, 4);
    EXPECT_EQ(after.end.EntriesThisDisk, 4);
    // Carried-over entries are the same bytes, only at their new offsets.
    EXPECT_EQ(EntryBytes(dir / "x.zip", after.entries[0]), EntryBytes(dir / "x.zip", before.entries[0]));
    EXPECT_EQ(after.entries[2].Crc32, before.entries[2].Crc32);
    EXPECT_EQ(after.entries[2].CompressedSize, before.entries[2].CompressedSize);
    const auto problems = writer_testing::CheckWithOracles(
        dir / "x.zip", {{"a.txt", "alpha"},
                        {"B.TXT", "bravo, rewritten"},
                        {"c.txt", testing_support::TextBytes(3000, 1)},
                        {"d.txt", "delta"}});
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt", "x.zip"}));
}

TEST(ZipMerge, UpdateKeepsEntriesAtLeastAsNewAndReplacesOlderOnes) {
    TempDir dir;
    WriteFile(dir / "old.txt", "old content");
    WriteFile(dir / "same.txt", "same content");
    Age(dir / "old.txt", 10);
    Age(dir / "same.txt", 10);
    MakeArchive(dir, "x.zip", {"old.txt", "same.txt"});
    WriteFile(dir / "old.txt", "new content");  // newer now
    Age(dir / "same.txt", 20);                   // older than its entry

    TVCLZip zip;  // zaUpdate by default
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "same.txt", dir / "old.txt"};
    std::vector<std::pair<int, int>> updates;
    zip.OnUpdate = [&](TVCLZip*, TUpdateAction a, int i) { updates.emplace_back(a, i); };
    int startInfo = 0;
    zip.OnStartZipInfo = [&](TVCLZip*, int, int64_t, TEndCentral&, bool&) { ++startInfo; };
    EXPECT_EQ(zip.Zip(), 1);
    EXPECT_EQ(updates, (std::vector<std::pair<int, int>>{{uaReplacing, 0}, {uaKeeping, 1}}));
    EXPECT_EQ(startInfo, 0);  // nothing left to add after the merge
    const auto problems = writer_testing::CheckWithOracles(
        dir / "x.zip", {{"old.txt", "new content"}, {"same.txt", "same content"}});
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(ZipMerge, FreshenRightAfterSettingZipNameChangesNoEntry) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    WriteFile(dir / "b.txt", "bravo");
    Age(dir / "a.txt", 5);
    MakeArchive(dir, "x.zip", {"a.txt", "b.txt"});
    const auto before = ReadListing(dir / "x.zip");
    WriteFile(dir / "a.txt", "alpha, newer");
    WriteFile(dir / "c.txt", "charlie");

    TVCLZip zip;
    zip.ZipAction = zaFreshen;
    zip.SetZipName(dir / "x.zip");  // no directory read yet: freshen finds no names
    zip.FilesList = {dir / "*.txt"};
    int updates = 0;
    zip.OnUpdate = [&](TVCLZip*, TUpdateAction, int) { ++updates; };
    EXPECT_EQ(zip.Zip(), 0);
    EXPECT_EQ(updates, 0);
    const auto after = ReadListing(dir / "x.zip");
    EXPECT_EQ(Names(after), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(EntryBytes(dir / "x.zip", after.entries[0]), EntryBytes(dir / "x.zip", before.entries[0]));

    // With the directory loaded, freshen replaces the newer file and still adds nothing new.
    zip.ReadCentralDirectory();
    zip.FilesList = {dir / "*.txt"};
    EXPECT_EQ(zip.Zip(), 1);
    const auto problems =
        writer_testing::CheckWithOracles(dir / "x.zip", {{"a.txt", "alpha, newer"}, {"b.txt", "bravo"}});
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(ZipMerge, EntriesOfOtherToolsKeepTheirLocalExtraFieldsAndLoseTheirDataDescriptors) {
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
    TempDir dir;
    WriteFile(dir / "a.txt", testing_support::TextBytes(4000, 2));
    WriteFile(dir / "b.bin", testing_support::RandomBytes(3000, 3));
    // Info-ZIP writes extended-time and Unix extra fields; writing to a pipe adds data descriptors.
    ASSERT_EQ(Shell("cd " + ShellQuote(dir.Path()) + " && zip -q extra.zip a.txt b.bin").exitCode, 0);
    ASSERT_EQ(Shell("cd " + ShellQuote(dir.Path()) + " && zip -q - a.txt b.bin | cat > stream.zip").exitCode, 0);

    for (const char* name : {"extra.zip", "stream.zip"}) {
        const std::string path = dir / name;
        const auto before = ReadListing(path);
        ASSERT_EQ(before.entries.size(), 2u);
        if (std::string(name) == "stream.zip") {
            EXPECT_EQ(before.entries[0].Flags & 8, 8);
        }
        TZipHeaderInfo oldLocal;
        ASSERT_TRUE(writer_testing::ReadLocalHeader(path, before.entries[0].LocalHeaderOffset, oldLocal));
        const std::string old = ReadFile(path);
        const std::string oldExtra = old.substr(before.entries[0].LocalHeaderOffset + 30 + oldLocal.FileNameLength,
                                                oldLocal.LocalExtraLength);

        WriteFile(dir / "c.txt", "new file");
        TVCLZip zip;
        zip.SetZipName(path);
        zip.FilesList = {dir / "c.txt"};
        ASSERT_EQ(zip.Zip(), 1) << name;

        const auto after = ReadListing(path);
        ASSERT_EQ(after.entries.size(), 3u);
        TZipHeaderInfo local;
        ASSERT_TRUE(writer_testing::ReadLocalHeader(path, after.entries[0].LocalHeaderOffset, local));
        EXPECT_EQ(local.LocalExtraLength, oldLocal.LocalExtraLength) << name;
        const std::string now = ReadFile(path);
        EXPECT_EQ(now.substr(after.entries[0].LocalHeaderOffset + 30 + local.FileNameLength, local.LocalExtraLength),
                  oldExtra)
            << name;
        // CRC and sizes stand in the local header now, so no data descriptor is announced.
        EXPECT_EQ(local.Flags & 8, 0) << name;
        EXPECT_EQ(local.Crc32, before.entries[0].Crc32) << name;
        EXPECT_EQ(local.CompressedSize, before.entries[0].CompressedSize) << name;
        EXPECT_EQ(after.entries[0].Flags & ~8, before.entries[0].Flags & ~8) << name;
        EXPECT_EQ(after.entries[0].VersionMadeBy, before.entries[0].VersionMadeBy) << name;
        EXPECT_EQ(after.entries[0].ExternalAttributes, before.entries[0].ExternalAttributes) << name;
        const auto problems = writer_testing::CheckWithOracles(path, {{"a.txt", testing_support::TextBytes(4000, 2)},
                                                                      {"b.bin", testing_support::RandomBytes(3000, 3)},
                                                                      {"c.txt", "new file"}});
        EXPECT_TRUE(problems.empty()) << name << ::testing::PrintToString(problems);
    }
}

TEST(ZipMerge, DuplicateNamesInTheOldArchiveFailAndLeaveItUntouched) {
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
    TempDir dir;
    // Two names one folder of Windows cannot hold side by side: made by the shell, on the Unix side.
    ASSERT_EQ(Shell("cd " + ShellQuote(dir.Path()) +
                    " && printf upper >Notes.txt && printf lower >notes.TXT && zip -q dup.zip Notes.txt notes.TXT")
                  .exitCode,
              0);
    const std::string before = ReadFile(dir / "dup.zip");
    WriteFile(dir / "new.txt", "new");

    TVCLZip zip;
    zip.SetZipName(dir / "dup.zip");
    zip.FilesList = {dir / "new.txt"};
    bool completed = false;
    zip.OnZipComplete = [&](TVCLZip*, int) { completed = true; };
    try {
        zip.Zip();
        FAIL() << "duplicates accepted";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Duplicate Object index");
    }
    EXPECT_FALSE(completed);
    EXPECT_EQ(ReadFile(dir / "dup.zip"), before);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"Notes.txt", "dup.zip", "new.txt", "notes.TXT"}));
    EXPECT_TRUE(zip.FilesList.empty());
}

// A test's window into the loaded directory.
struct ProbeZip : TVCLZip {
    using TVCLZip::View;
};

TEST(ZipMerge, EntriesMarkedWithStateTwoAreDropped) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    WriteFile(dir / "b.txt", "bravo");
    WriteFile(dir / "c.txt", "charlie");
    MakeArchive(dir, "x.zip", {"a.txt", "b.txt", "c.txt"});
    ProbeZip zip;
    zip.SetZipName(dir / "x.zip");
    zip.ReadCentralDirectory();
    ASSERT_EQ(zip.Count(), 3);
    zip.View()->Items(1)->State = 2;
    EXPECT_EQ(zip.Zip(), 0);
    EXPECT_EQ(Names(ReadListing(dir / "x.zip")), (std::vector<std::string>{"a.txt", "c.txt"}));
}

TEST(ZipMerge, APendingCommentChangeIsWrittenBeforeTheNameChanges) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    WriteFile(dir / "b.txt", "bravo");
    MakeArchive(dir, "first.zip", {"a.txt", "b.txt"});
    TVCLZip zip;
    zip.SetZipName(dir / "first.zip");
    zip.ReadCentralDirectory();
    zip.FilesList = {"left over"};
    zip.SetEntryComment(1, "second entry");
    zip.SetArchiveComment("the archive");
    bool completed = false;
    zip.OnZipComplete = [&](TVCLZip*, int) { completed = true; };
    zip.SetZipName(dir / "other.zip");
    EXPECT_FALSE(completed);
    EXPECT_TRUE(zip.FilesList.empty());
    EXPECT_EQ(zip.ZipName(), dir / "other.zip");

    const auto listing = ReadListing(dir / "first.zip");
    ASSERT_TRUE(listing.ok);
    EXPECT_EQ(Names(listing), (std::vector<std::string>{"a.txt", "b.txt"}));
    const auto z = Shell("unzip -z " + ShellQuote(dir / "first.zip"));
    EXPECT_NE(z.output.find("the archive"), std::string::npos) << z.output;
    const auto l = Shell("unzip -v " + ShellQuote(dir / "first.zip"));
    EXPECT_NE(l.output.find("second entry"), std::string::npos) << l.output;
    const auto problems = writer_testing::CheckWithOracles(dir / "first.zip", {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);

    // Nothing pending any more: the next change of name rewrites nothing.
    const std::string now = ReadFile(dir / "first.zip");
    zip.SetZipName(dir / "first.zip");
    zip.SetZipName(dir / "third.zip");
    EXPECT_EQ(ReadFile(dir / "first.zip"), now);
}

TEST(ZipMerge, TheArchiveCommentSurvivesARebuildWithoutAPriorRead) {
    if (!HaveTool("zip")) GTEST_SKIP() << "Info-ZIP zip not installed";
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    ASSERT_EQ(Shell("cd " + ShellQuote(dir.Path()) + " && echo 'kept comment' | zip -q -z c.zip a.txt").exitCode, 0);
    WriteFile(dir / "b.txt", "bravo");
    TVCLZip zip;
    zip.SetZipName(dir / "c.zip");
    zip.FilesList = {dir / "b.txt"};
    ASSERT_EQ(zip.Zip(), 1);
    const auto z = Shell("unzip -z " + ShellQuote(dir / "c.zip"));
    EXPECT_NE(z.output.find("kept comment"), std::string::npos) << z.output;
    EXPECT_EQ(zip.ArchiveComment().rfind("kept comment", 0), 0u);
}

TEST(ZipMerge, AReplacementThatCannotBeMadeKeepsTheOldEntry) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    WriteFile(dir / "b.txt", "bravo");
    MakeArchive(dir, "x.zip", {"a.txt", "b.txt"});
    const auto before = ReadListing(dir / "x.zip");
    WriteFile(dir / "b.txt", "bravo two");
    TVCLZip zip;
    zip.ZipAction = zaReplace;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "a.txt", dir / "b.txt"};
    zip.OnStartZip = [](TVCLZip*, const std::string& f, TZipHeaderInfo&, bool& skip) {
        skip = fs::ExtractFileName(f) == "b.txt";
    };
    EXPECT_EQ(zip.Zip(), 1);
    const auto after = ReadListing(dir / "x.zip");
    ASSERT_EQ(Names(after), (std::vector<std::string>{"a.txt", "b.txt"}));
    EXPECT_EQ(EntryBytes(dir / "x.zip", after.entries[1]).substr(30), EntryBytes(dir / "x.zip", before.entries[1]).substr(30));
    const auto problems = writer_testing::CheckWithOracles(dir / "x.zip", {{"a.txt", "alpha"}, {"b.txt", "bravo"}});
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
}

TEST(ZipMerge, TheOldArchiveStaysWholeUntilTheNewOneIsInPlace) {
    TempDir dir;
    WriteFile(dir / "a.txt", testing_support::TextBytes(20000, 5));
    MakeArchive(dir, "x.zip", {"a.txt"});
    const std::string before = ReadFile(dir / "x.zip");
    WriteFile(dir / "b.txt", testing_support::TextBytes(20000, 6));
    TVCLZip zip;
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "b.txt"};
    int checks = 0;
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int) {
        ++checks;
        EXPECT_EQ(ReadFile(dir / "x.zip"), before);
        // The rebuilt archive is written beside the old one, never in the system's temporary folder.
        EXPECT_EQ(FolderNames(dir.Path()).size(), 4u);
    };
    ASSERT_EQ(zip.Zip(), 1);
    EXPECT_GT(checks, 0);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "b.txt", "x.zip"}));
    EXPECT_EQ(Names(ReadListing(dir / "x.zip")), (std::vector<std::string>{"a.txt", "b.txt"}));
}


// Records the engine's message boxes.
struct RecordingHost : DefaultHost {
    std::vector<std::string> boxes;
    Answer MessageBox(const std::string& caption, const std::string& text, Buttons buttons) override {
        boxes.push_back(caption + ": " + text);
        return DefaultHost::MessageBox(caption, text, buttons);
    }
};

TEST(ZipMerge, ARebuildShowsNoMessageAndLeavesNoTemporaryFile) {
    TempDir dir;
    WriteFile(dir / "a.txt", "alpha");
    MakeArchive(dir, "x.zip", {"a.txt"});
    WriteFile(dir / "b.txt", "bravo");
    RecordingHost host;
    TVCLZip zip(&host);
    zip.TempPath = fs::TempDirectory();  // not used for the archive: the rename must stay in its folder
    zip.SetZipName(dir / "x.zip");
    zip.FilesList = {dir / "b.txt"};
    ASSERT_EQ(zip.Zip(), 1);
    EXPECT_TRUE(host.boxes.empty()) << ::testing::PrintToString(host.boxes);
    EXPECT_EQ(FolderNames(dir.Path()), (std::vector<std::string>{"a.txt", "b.txt", "x.zip"}));
    TVCLUnZip reader;
    reader.SetZipName(dir / "x.zip");
    reader.DoAll = true;
    EXPECT_EQ(reader.TestArchive(), 2);
}

}  // namespace
}  // namespace archive
