// The benchmark corpus's database files (about 210 MiB of Jet 4 pages) through the writer at the backup's
// level, read back by unzip, 7-Zip and python3's zipfile. The corpus is taken from ../bench-corpus when it
// was made there (shared/bench/make_corpus.sh), otherwise its databases are generated into a scratch
// folder with the same generator.
#include <gtest/gtest.h>

#include <cstdlib>

#include "archive/writer/vcl_zip.h"
#include "tests/archive/writer/writer_test_support.h"

namespace archive {
namespace {

using testing_support::PathExists;
using testing_support::ReadFile;
using testing_support::ShellQuote;
using testing_support::TempDir;
constexpr auto Shell = testing_support::Run;

const char* const kDatabases[] = {"Awards.mdb", "DB.mdb", "Logs.mdb"};

// A corpus folder holding DB/ with the three databases, or "" when none can be had.
std::string FindOrMakeCorpus(const TempDir& scratch) {
    std::vector<std::string> candidates;
    if (const char* env = std::getenv("ZB_BENCH_CORPUS")) candidates.push_back(env);
    candidates.push_back(testing_support::SourceDir() + "/../bench-corpus/corpus");
    for (const auto& c : candidates)
        if (PathExists(c + "/DB/DB.mdb") && PathExists(c + "/DB/Logs.mdb") && PathExists(c + "/DB/Awards.mdb"))
            return c;
    const std::string out = scratch / "corpus";
    testing_support::MakeDirs(out + "/DB");
    const std::string generator = testing_support::SharedDir() + "/bench/make_corpus.py";
    const std::string seed = testing_support::SharedDir() + "/mdb-seed/DateTestDatabase.mdb";
    if (PathExists(generator)) {
        const auto r = Shell("python3 " + ShellQuote(generator) + " " + ShellQuote(out) +
                             (PathExists(seed) ? " " + ShellQuote(seed) : std::string()) + " >/dev/null");
        return r.exitCode == 0 ? out : "";
    }
    // A clone alone: the demo logger folder's databases (a few MB each), without the other files of DB/.
    const std::string demo = scratch / "demo";
    const auto r = Shell("python3 " + ShellQuote(testing_support::SourceDir() + "/scripts/make_demo_logger.py") + " " +
                         ShellQuote(demo) + " >/dev/null");
    if (r.exitCode != 0) return "";
    for (const char* db : kDatabases) testing_support::WriteFile(out + "/DB/" + db, ReadFile(demo + "/DB/" + db));
    return out;
}

TEST(WriterCorpus, TheDatabasesAtLevelSixReadBackEverywhere) {
    TempDir scratch;
    const std::string corpus = FindOrMakeCorpus(scratch);
    ASSERT_FALSE(corpus.empty()) << "no database corpus could be found or made (python3 is needed)";

    TVCLZip zip;
    zip.SetZipName(scratch / "db.zip");
    zip.SetRootDir(corpus);
    zip.SetRelativePaths(true);
    zip.FilesList = {"|" + zip.RootDir() + "DB/*.*"};
    int lastTotal = -1;
    zip.OnTotalPercentDone = [&](TVCLUnZip*, int p) {
        EXPECT_GE(p, lastTotal);
        lastTotal = p;
    };
    ASSERT_EQ(zip.Zip(), 3);
    EXPECT_EQ(lastTotal, 100);

    writer_testing::Contents expected;
    for (const char* db : kDatabases) expected[std::string("DB/") + db] = ReadFile(corpus + "/DB/" + db);
    const auto problems = writer_testing::CheckWithOracles(scratch / "db.zip", expected, {}, false);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    const auto listing = writer_testing::ReadListing(scratch / "db.zip");
    for (const auto& e : listing.entries) EXPECT_EQ(e.Method, 8) << e.StoredName();
}

}  // namespace
}  // namespace archive
