// zbk create from the command line: the backup's twelve patterns under a logger folder, the options
// (level, action, password, recursion), and its exit codes. The archives it writes are checked by the
// other tools.
#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/archive/writer/writer_test_support.h"

namespace {

using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;
constexpr auto Shell = testing_support::Run;

std::string Zbk() {
    const char* path = std::getenv("ZBK");
    return path ? path : "";
}

const char* const kBackupPatterns[] = {"|tmp/zorvel3_Registry.reg", "|tmp/ZORVEL_server_Registry.reg",
                                       "|DB/*.*", "|*.ini", "|*.qsl", "|*.aal", "|LanguageFile*", "|*.dat",
                                       "|*.txt", "|*.md", "|*.lyr", "|*.sys"};

struct Logger {
    TempDir dir;
    std::string root;
    writer_testing::Contents included;
    Logger() {
        root = dir / "Log";
        Put("tmp/zorvel3_Registry.reg", "REGEDIT4\r\n", true);
        Put("DB/Logs.mdb", testing_support::RandomBytes(30000, 41) + std::string(20000, 'x'), true);
        Put("DB/Awards.mdb", testing_support::TextBytes(40000, 42), true);
        Put("Config.ini", "[x]\r\n", true);
        Put("LanguageFileEnglish.lng", "lang", true);
        Put("notes.doc", "not a backed-up kind", false);
        Put("DB/Old/old.mdb", "below DB: not taken", false);
        Put("sub/x.txt", "in a subfolder", false);
    }
    void Put(const std::string& rel, const std::string& content, bool taken) {
        WriteFile(root + "/" + rel, content);
        if (taken) included[rel] = content;
    }
    std::string Command(const std::string& archive, const std::string& extra = {}) const {
        std::string cmd = ShellQuote(Zbk()) + " create " + ShellQuote(archive) + " " + ShellQuote(root);
        for (const char* p : kBackupPatterns) cmd += " " + ShellQuote(p);
        return cmd + extra;
    }
};

TEST(ZbkCreate, TheBackupsPatternsUnderALoggerFolder) {
    if (Zbk().empty()) GTEST_SKIP() << "ZBK not set";
    Logger logger;
    const std::string archive = logger.dir / "backup.zip";
    const auto run = Shell(logger.Command(archive));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("5 entries added"), std::string::npos) << run.output;
    const auto problems = writer_testing::CheckWithOracles(archive, logger.included);
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);
    const auto list = Shell(ShellQuote(Zbk()) + " list " + ShellQuote(archive));
    EXPECT_NE(list.output.find("DB/Logs.mdb"), std::string::npos) << list.output;
}

TEST(ZbkCreate, LevelPasswordRecursionAndAction) {
    if (Zbk().empty()) GTEST_SKIP() << "ZBK not set";
    Logger logger;
    const std::string stored = logger.dir / "stored.zip";
    ASSERT_EQ(Shell(logger.Command(stored, " --level 0 --password 'p w'")).exitCode, 0);
    const auto listing = writer_testing::ReadListing(stored);
    ASSERT_EQ(listing.entries.size(), logger.included.size());
    for (const auto& e : listing.entries) {
        EXPECT_EQ(e.Method, 0) << e.StoredName();
        EXPECT_EQ(e.Flags & 1, 1) << e.StoredName();
    }
    const auto problems = writer_testing::CheckWithOracles(stored, logger.included, "p w");
    EXPECT_TRUE(problems.empty()) << ::testing::PrintToString(problems);

    // Without "|", --recurse walks the subfolders.
    const std::string deep = logger.dir / "deep.zip";
    const auto r = Shell(ShellQuote(Zbk()) + " create " + ShellQuote(deep) + " " + ShellQuote(logger.root) +
                         " '*.txt' --recurse");
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(writer_testing::CheckWithOracles(deep, {{"sub/x.txt", "in a subfolder"}}).empty());

    // update: a second run finds every entry as new as its file.
    const std::string again = logger.dir / "again.zip";
    ASSERT_EQ(Shell(logger.Command(again)).exitCode, 0);
    const auto second = Shell(logger.Command(again, " --action update"));
    EXPECT_EQ(second.exitCode, 0) << second.output;
    EXPECT_NE(second.output.find("0 entries added, 5 in the archive"), std::string::npos) << second.output;
}

TEST(ZbkCreate, UsageErrorsAndFailuresExitWithTwo) {
    if (Zbk().empty()) GTEST_SKIP() << "ZBK not set";
    Logger logger;
    const std::string zbk = ShellQuote(Zbk());
    const std::string cases[] = {
        zbk + " create",
        zbk + " create a.zip " + ShellQuote(logger.root),
        logger.Command(logger.dir / "x.zip", " --level 10"),
        logger.Command(logger.dir / "x.zip", " --action merge"),
        logger.Command(logger.dir / "x.zip", " --password"),
    };
    for (const auto& c : cases) {
        const auto r = Shell(c);
        EXPECT_EQ(r.exitCode, 2) << c;
        EXPECT_NE(r.output.find("usage: zbk create"), std::string::npos) << c << "\n" << r.output;
    }
    const auto missing = Shell(logger.Command(logger.dir / "no/such/folder/x.zip"));
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.output.find("Cannot create file"), std::string::npos) << missing.output;
}

}  // namespace
