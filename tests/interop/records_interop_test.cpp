// Archives written with the record classes alone (stored entries, local headers, central directory and
// end record, all through the buffered file stream) must be read by other tools exactly as meant:
// Info-ZIP's unzip tests and lists them, python's zipfile reads every byte, name, date and comment back,
// and our own record readers read them back too.
//
// Names: "café.txt" fits CP437 and is stored in it without bit 11; "Grüße_тест.txt" does not and is
// stored as UTF-8 with bit 11 (and host NTFS in "version made by": unzip garbles UTF-8 names of entries
// made on MS-DOS). Debian's unzip 6.0 (no -O/-I options) turns CP437 names of entries made on MS-DOS
// into ISO-8859-1 with a built-in table, whatever the locale, so its listing holds "caf\xE9.txt" even
// under a UTF-8 locale; a build that converts to the locale's charset prints UTF-8 instead. Either form
// proves the CP437 byte was read as "é"; anything else fails.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/codec/crc32.h"
#include "archive/codepage/codepage.h"
#include "archive/records/end_central.h"
#include "archive/records/sorted_zip.h"
#include "archive/records/zip_header_info.h"
#include "archive/streams/buffer_stream.h"
#include "tests/support/test_support.h"

namespace archive {
namespace {

using testing_support::HaveTool;
using testing_support::ReadFile;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

constexpr uint32_t kWhen = (uint32_t{2024 - 1980} << 25) | (5u << 21) | (17u << 16) | (13u << 11) | (45u << 5) | 16u;

struct Item {
    std::string name;  // UTF-8, '/' separators; a trailing '/' makes a folder entry
    std::string data;
    std::string comment;
};

std::vector<Item> Items() {
    return {
        {"DB/", "", ""},
        {"DB/Readme.TXT", "read me\r\n", ""},
        {"empty.dat", "", ""},
        {"random.bin", testing_support::RandomBytes(100000, 11), "random bytes"},
        {"DB/Log/text.txt", testing_support::TextBytes(30000, 5), ""},
        {"caf\xC3\xA9.txt", "CP437 name", ""},
        {"Gr\xC3\xBC\xC3\x9F" "e_\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt", "UTF-8 name", "\xD0\xBA\xD0\xBE\xD0\xBC"},
    };
}

void WriteArchive(const std::string& path, const std::vector<Item>& items, const std::string& archiveComment) {
    TLFNFileStream out(path, fmCreate, true);
    TSortedZip entries(dupError);
    for (const auto& item : items) {
        auto* e = new TZipHeaderInfo;
        const size_t cut = item.name.rfind('/');
        e->SetDirectory(cut == std::string::npos ? "" : item.name.substr(0, cut + 1));
        e->SetFileName(cut == std::string::npos ? item.name : item.name.substr(cut + 1));
        e->Method = 0;
        e->DateTime = kWhen;
        e->Crc32 = codec::Crc32(item.data.data(), item.data.size());
        e->CompressedSize = e->UncompressedSize = static_cast<uint32_t>(item.data.size());
        e->InternalAttributes = 0;
        if (!item.comment.empty()) e->SetComment(item.comment);
        e->WriteLocal(out);
        out.WriteBuffer(item.data.data(), static_cast<int64_t>(item.data.size()));
        entries.Add(e);
    }
    TEndCentral end;
    end.CentralOffset = static_cast<uint32_t>(out.Position());
    for (int i = 0; i < entries.Count(); ++i) entries[i]->WriteCentral(out);
    end.CentralSize = static_cast<uint32_t>(out.Position()) - end.CentralOffset;
    end.EntriesThisDisk = end.TotalEntries = static_cast<uint16_t>(entries.Count());
    end.SetComment(archiveComment);
    end.Write(out);
    ASSERT_TRUE(out.Commit(true));
}

class RecordsInterop : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_ / "interop.zip";
        WriteArchive(path_, Items(), "ZORVEL_Backup interop archive");
    }
    TempDir dir_;
    std::string path_;
};

TEST_F(RecordsInterop, UnzipTestsAndListsIt) {
    if (!HaveTool("unzip")) GTEST_SKIP() << "unzip not installed";
    const auto test = testing_support::Run("unzip -t " + ShellQuote(path_));
    EXPECT_EQ(test.exitCode, 0) << test.output;
    EXPECT_NE(test.output.find("No errors detected in compressed data"), std::string::npos) << test.output;

    const auto list = testing_support::Run("LC_ALL=C.UTF-8 unzip -l " + ShellQuote(path_));
    ASSERT_EQ(list.exitCode, 0) << list.output;
    for (const char* name : {"DB/", "DB/Readme.TXT", "empty.dat", "random.bin", "DB/Log/text.txt",
                             "Gr\xC3\xBC\xC3\x9F" "e_\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt"})
        EXPECT_NE(list.output.find(std::string("   ") + name + "\n"), std::string::npos) << name << "\n" << list.output;
    const bool utf8Form = list.output.find("   caf\xC3\xA9.txt\n") != std::string::npos;
    const bool latin1Form = list.output.find("   caf\xE9.txt\n") != std::string::npos;
    EXPECT_TRUE(utf8Form || latin1Form) << "CP437 name not read as caf\xC3\xA9.txt:\n" << list.output;
    EXPECT_NE(list.output.find("ZORVEL_Backup interop archive"), std::string::npos) << list.output;
    EXPECT_NE(list.output.find("7 files"), std::string::npos) << list.output;
}

TEST_F(RecordsInterop, UnzipExtractsNamesAndBytes) {
    if (!HaveTool("unzip")) GTEST_SKIP() << "unzip not installed";
    const std::string out = dir_ / "out";
    testing_support::MakeDirs(out);
    const auto r = testing_support::Run("cd " + ShellQuote(out) + " && LC_ALL=C.UTF-8 unzip -q " + ShellQuote(path_));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    for (const auto& item : Items()) {
        if (item.name.back() == '/') {
            EXPECT_TRUE(testing_support::PathExists(out + "/" + item.name)) << item.name;
            continue;
        }
        std::string onDisk = out + "/" + item.name;
        if (item.name == "caf\xC3\xA9.txt" && !testing_support::PathExists(onDisk)) {
            onDisk = out + "/caf\xE9.txt";  // this unzip's ISO-8859-1 form (see above)
#ifdef _WIN32
            // A name that is no UTF-8 is out of a Windows program's reach: the shell reads it.
            EXPECT_EQ(testing_support::Run("cat " + ShellQuote(out) + "/caf?.txt").output, item.data) << item.name;
            continue;
#endif
        }
        EXPECT_EQ(ReadFile(onDisk), item.data) << item.name;
    }
}

TEST_F(RecordsInterop, PythonReadsEveryByteBack) {
    if (!HaveTool("python3")) GTEST_SKIP() << "python3 not installed";
    const auto items = Items();
    for (size_t i = 0; i < items.size(); ++i) WriteFile(dir_ / ("expected/" + std::to_string(i)), items[i].data);
    // One line per entry: name (UTF-8), bit 11, date-time, external attributes, comment, data equal.
    WriteFile(dir_ / "check.py", R"(import sys, zipfile
zf = zipfile.ZipFile(sys.argv[1])
bad = zf.testzip()
print("testzip", bad)
print("comment", zf.comment.decode("ascii"))
for i, info in enumerate(zf.infolist()):
    data = zf.read(info)
    want = open(sys.argv[2] + "/" + str(i), "rb").read()
    print("|".join([info.filename, str(info.flag_bits & 0x800), repr(info.date_time), hex(info.external_attr),
                    info.comment.decode("utf-8"), str(data == want)]))
)");
    const auto r = testing_support::Run("python3 " + ShellQuote(dir_ / "check.py") + " " + ShellQuote(path_) + " " +
                                        ShellQuote(dir_ / "expected"));
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string want = "testzip None\ncomment ZORVEL_Backup interop archive\n";
    for (const auto& item : items) {
        const bool utf8 = !codepage::FitsCp437(item.name);
        want += item.name + "|" + (utf8 ? "2048" : "0") + "|(2024, 5, 17, 13, 45, 32)|0x20|" + item.comment + "|True\n";
    }
    EXPECT_EQ(r.output, want);
}

TEST_F(RecordsInterop, OurReadersReadItBack) {
    const auto items = Items();
    const std::string bytes = ReadFile(path_);
    TLFNFileStream in(path_, fmOpenRead | fmShareDenyWrite);
    TEndCentral end;
    ASSERT_TRUE(end.Locate(in));
    ASSERT_EQ(end.TotalEntries, items.size());
    EXPECT_EQ(end.CommentPosition + end.CommentLength, bytes.size());
    in.SetPosition(end.CentralOffset);
    TStream* s = &in;
    for (const auto& item : items) {
        TZipHeaderInfo central;
        ASSERT_TRUE(central.ReadCentral(s));
        EXPECT_EQ(central.StoredName(), codepage::RoundTrip(item.name));
        EXPECT_EQ(central.CommentLength, item.comment.size());
        const int64_t next = in.Position();

        in.SetPosition(central.LocalHeaderOffset);
        TZipHeaderInfo local;
        ASSERT_TRUE(local.ReadLocal(in));
        EXPECT_EQ(local.StoredName(), central.StoredName());
        EXPECT_EQ(local.Flags, central.Flags);
        std::string data(local.CompressedSize, '\0');
        in.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
        EXPECT_EQ(data, item.data) << item.name;
        EXPECT_EQ(codec::Crc32(data.data(), data.size()), central.Crc32);
        in.SetPosition(next);
    }
    EXPECT_EQ(in.Position(), static_cast<int64_t>(end.CentralOffset + end.CentralSize));
}

TEST(RecordsInteropEmpty, EmptyArchiveIsAccepted) {
    TempDir dir;
    const std::string path = dir / "empty.zip";
    WriteArchive(path, {}, "");
    EXPECT_EQ(ReadFile(path).size(), 22u);
    if (HaveTool("python3")) {
        const auto r = testing_support::Run("python3 -c \"import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).infolist()))\" " +
                                            ShellQuote(path));
        EXPECT_EQ(r.output, "0\n");
    }
    if (HaveTool("unzip")) {
        // unzip calls an archive without entries empty (exit code 1) but reads it without complaint.
        const auto r = testing_support::Run("unzip -l " + ShellQuote(path));
        EXPECT_NE(r.output.find("zipfile is empty"), std::string::npos) << r.output;
    }
}

}  // namespace
}  // namespace archive
