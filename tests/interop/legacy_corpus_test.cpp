// The legacy corpus: archives made by other tools over three decades (Stored, Shrunk, Reduced 1-4,
// Imploded, Deflated, traditional encryption with and without data descriptors). Every entry must come out
// with a matching CRC and, where the corpus ships the original, byte for byte equal to it; the entries
// whose password was never published and the strong-encryption entry must be refused as a wrong password.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "archive/reader/vcl_unzip.h"
#include "tests/support/recording_host.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_fixture.h"

namespace {

using namespace archive;
using testing_support::ReadFile;
using testing_support::TempDir;

std::string Legacy() { return testing_support::LegacyDir(); }

struct CorpusArchive {
    std::string file;
    std::string password;
    bool passwordKnown = true;
};

std::vector<CorpusArchive> LoadArchives() {
    std::vector<CorpusArchive> out;
    std::ifstream in(Legacy() + "/passwords.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const size_t tab = line.find('\t');
        CorpusArchive a;
        a.file = line.substr(0, tab);
        a.password = tab == std::string::npos ? std::string() : line.substr(tab + 1);
        if (a.password == "?") {
            a.password.clear();
            a.passwordKnown = false;
        }
        out.push_back(a);
    }
    return out;
}

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) { return s.rfind(prefix, 0) == 0; }

// The original of an entry, where the corpus ships it.
std::optional<std::string> Original(const std::string& archive, const std::string& name) {
    const std::string dir = Legacy() + "/expected/";
    const std::string lower = Lower(name);
    auto file = [&](const std::string& f) -> std::optional<std::string> { return ReadFile(dir + f); };
    if (StartsWith(archive, "zip2_") && lower == "first.txt") return file("zip2_first.txt");
    if (StartsWith(archive, "df2_PKZ") && StartsWith(name, "TEST"))
        return file(name == "TEST~1.JPE" ? "df2_TEST.JPG" : "df2_" + name);
    if (StartsWith(archive, "df2a_")) return file("df2a_" + name);
    if (StartsWith(archive, "sc_Zip.") && archive != "sc_Zip.deflate.pkware.zip") {
        if (lower == "test.exe") return file("sc_test.exe");
        if (lower == "test.jpg") return file("sc_test.jpg");
        return file("sc_test_ru_crlf.txt");  // the third entry, whatever its name's code page
    }
    if (StartsWith(archive, "zipjs_lorem-") && lower == "lorem.txt" && archive.find("secure") == std::string::npos)
        return file("zipjs_lorem.txt");
    if (StartsWith(archive, "zipjs_lorem-") && lower == "lorem-big.txt") {
        std::string big;
        for (int i = 0; i < 80; ++i) big += ReadFile(dir + "zipjs_lorem.txt");
        return big;
    }
    if (archive == "zipjs_hamlet-reduce-pkzip092.zip") return file("zipjs_hamlet-2048.txt");
    if (archive == "zipjs_zeros-reduce-pkzip092.zip") return ReadFile(dir + "zipjs_hamlet-2048.txt") + std::string(1024, '\0');
    if (StartsWith(archive, "zd_") && (lower == "lorem.txt" || lower == "lorem2.txt"))
        return file(lower == "lorem.txt" ? "zd_lorem.txt" : "zd_lorem2.txt");
    if (StartsWith(archive, "pt_aesop_linux_")) return file("pt_aesop.txt");
    if (archive == "lz_encrypt.zip") return std::string("foo\n");
    if (archive == "paz_crypt.zip") return std::string("encryption test\n");
    return std::nullopt;
}

class LegacyCorpus : public ::testing::TestWithParam<CorpusArchive> {};

TEST_P(LegacyCorpus, EveryEntryExtractsWithItsCrc) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    const CorpusArchive& a = GetParam();
    TempDir out;
    testing_support::RecordingHost host;
    TVCLUnZip z(&host);
    z.SetZipName(Legacy() + "/" + a.file);
    z.Password = a.password;
    z.ReadCentralDirectory();
    ASSERT_GT(z.Count(), 0);

    std::map<int, std::string> written;
    std::vector<int> refused, badCrc;
    z.OnEndUnZip = [&](TVCLUnZip*, int i, const std::string& name) { written[i] = name; };
    z.OnSkippingFile = [&](TVCLUnZip*, TSkipReason reason, const std::string&, int i, bool&) {
        EXPECT_EQ(reason, skBadPassword) << z.EntryInfo(i).StoredName();
        refused.push_back(i);
    };
    z.OnBadCRC = [&](TVCLUnZip*, uint32_t, uint32_t, int i) { badCrc.push_back(i); };
    z.SetDestDir(out.Path());
    z.RecreateDirs = true;
    z.OverwriteMode = Always;
    z.DoAll = true;
    const int result = z.UnZip();

    int files = 0;
    std::vector<int> mustRefuse;
    for (int i = 0; i < z.Count(); ++i) {
        const TZipHeaderInfo& e = z.EntryInfo(i);
        if (e.FileName().empty()) continue;
        ++files;
        const bool strong = (e.Flags & 0x40) != 0;
        if (strong || (e.IsEncrypted() && !a.passwordKnown)) mustRefuse.push_back(i);
    }
    EXPECT_EQ(refused, mustRefuse);
    EXPECT_TRUE(badCrc.empty());
    EXPECT_EQ(result, files - static_cast<int>(mustRefuse.size()));
    EXPECT_TRUE(host.boxes.empty());
    for (const auto& [i, path] : written) {
        const TZipHeaderInfo& e = z.EntryInfo(i);
        const std::string content = ReadFile(path);
        EXPECT_EQ(content.size(), e.UncompressedSize) << e.StoredName();
        if (const auto original = Original(a.file, e.FileName())) {
            EXPECT_EQ(content.size(), original->size()) << e.StoredName();
            EXPECT_TRUE(content == *original) << e.StoredName() << " differs from its original";
        }
    }
}

std::string Name(const ::testing::TestParamInfo<CorpusArchive>& info) {
    std::string n = info.param.file;
    for (char& c : n)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return n;
}

// Without the corpus there is nothing to instantiate; the totals test says why it skipped.
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(LegacyCorpus);
INSTANTIATE_TEST_SUITE_P(Archives, LegacyCorpus, ::testing::ValuesIn(LoadArchives()), Name);

TEST(LegacyCorpusTotals, SeventyThreeArchivesAndSixHundredSeventyFourEntries) {
    if (const std::string why = testing_support::LegacyCorpusMissing(); !why.empty()) GTEST_SKIP() << why;
    const auto archives = LoadArchives();
    EXPECT_EQ(archives.size(), 73u);
    int entries = 0, originals = 0;
    for (const CorpusArchive& a : archives) {
        TVCLUnZip z;
        z.SetZipName(Legacy() + "/" + a.file);
        z.ReadCentralDirectory();
        entries += z.Count();
        for (int i = 0; i < z.Count(); ++i) originals += Original(a.file, z.EntryName(i)).has_value();
    }
    EXPECT_EQ(entries, 674);
    EXPECT_GT(originals, 100);
}

}  // namespace
