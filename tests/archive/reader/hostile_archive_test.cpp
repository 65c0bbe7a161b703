// Archives made to harm: names that climb out of the destination after their drive is cut, folders that
// are symbolic links leading elsewhere, entries that share one stream (a bomb), sizes that lie, names with
// a NUL byte, more entries than the list holds. Each archive is built here; each case checks that nothing
// outside the destination changed (the whole tree around it is listed before and after), and that test
// and extraction judge the archive alike.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <filesystem>
#include <map>

#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/reader/archive_check.h"
#include "archive/reader/vcl_unzip.h"
#include "tests/support/test_support.h"
#include "tests/support/zip_builder.h"

namespace {

using namespace archive;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;
using testing_support::ZipBuilder;
using testing_support::ZipEntryRecipe;
using testing_support::PutLE;

#ifdef _WIN32
// Wine makes no links for a Windows program (it reports success and makes nothing); the links a Windows
// program meets under Wine are the Unix links of the folders its drives are kept in, made here with the
// shell, and shown to the program as plain folders.
bool MakeLink(const std::string& target, const std::string& path) {
    using testing_support::ShellQuote;
    return testing_support::Run("ln -s " + ShellQuote(target) + " " + ShellQuote(path)).exitCode == 0;
}

// Every path below `root` (links not followed) with its kind and contents, as the Unix side sees them.
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    const auto listing = testing_support::Run(
        "cd " + testing_support::ShellQuote(root) +
        " && find . -mindepth 1 \\( -type l -printf 'L %P\\t%l\\n' \\) -o \\( -type d -printf 'D %P\\n' \\) -o -printf 'F %P\\n'");
    size_t pos = 0;
    while (pos < listing.output.size()) {
        size_t end = listing.output.find('\n', pos);
        if (end == std::string::npos) end = listing.output.size();
        const std::string line = listing.output.substr(pos, end - pos);
        pos = end + 1;
        if (line.size() < 3) continue;
        const std::string rest = line.substr(2);
        if (line[0] == 'L') {
            const size_t tab = rest.find('\t');
            tree[rest.substr(0, tab)] = "-> " + rest.substr(tab + 1);
        } else if (line[0] == 'D') {
            tree[rest] = "/";
        } else {
            tree[rest] = ReadFile(root + "/" + rest);
        }
    }
    return tree;
}
#else
bool MakeLink(const std::string& target, const std::string& path) { return symlink(target.c_str(), path.c_str()) == 0; }

// Every path below `root` (links not followed) with its kind and contents.
std::map<std::string, std::string> Tree(const std::string& root) {
    std::map<std::string, std::string> tree;
    namespace sfs = std::filesystem;
    for (auto it = sfs::recursive_directory_iterator(root); it != sfs::recursive_directory_iterator(); ++it) {
        const std::string rel = sfs::relative(it->path(), root).string();
        if (it->is_symlink()) tree[rel] = "-> " + sfs::read_symlink(it->path()).string();
        else if (it->is_directory()) tree[rel] = "/";
        else tree[rel] = ReadFile(it->path().string());
    }
    return tree;
}
#endif

struct Outcome {
    int written = 0;
    std::vector<std::string> failures;  // one line per entry that did not make it
    std::string error;                  // the exception that ended the call
};

Outcome RunOn(const std::string& archive, const std::string& dest, bool test, std::vector<std::string> patterns = {}) {
    TVCLUnZip z;
    z.DoProcessMessages = false;
    Outcome out;
    z.OnBadCRC = [&](TVCLUnZip* s, uint32_t, uint32_t, int i) { out.failures.push_back("crc " + s->EntryName(i)); };
    z.OnBadSize = [&](TVCLUnZip* s, int64_t got, int64_t declared, int i) {
        out.failures.push_back("size " + s->EntryName(i) + " " + std::to_string(got) + "/" + std::to_string(declared));
    };
    z.OnSkippingFile = [&](TVCLUnZip* s, TSkipReason, const std::string&, int i, bool&) {
        out.failures.push_back("skip " + s->EntryName(i) + ": " + s->SkipDetail());
    };
    z.SetZipName(archive);
    z.SetDestDir(dest);
    z.RecreateDirs = true;
    z.OverwriteMode = Always;
    z.FilesList = patterns;
    z.DoAll = patterns.empty();
    try {
        out.written = test ? z.TestArchive() : z.UnZip();
    } catch (const Exception& e) {
        out.error = e.what();
    }
    return out;
}

// Entries that all point into one stored stream: each local header's extra field reaches over the
// headers after it, so every entry's data is the same bytes.
std::string OverlappingEntries(int count, const std::string& shared) {
    const uint32_t crc = codec::Crc32(shared.data(), shared.size());
    std::vector<std::string> names;
    size_t headers = 0;
    for (int i = 0; i < count; ++i) {
        names.push_back("f" + std::to_string(100 + i));
        headers += 30 + names.back().size();
    }
    std::string out, central;
    for (int i = 0; i < count; ++i) {
        const uint32_t at = static_cast<uint32_t>(out.size());
        const size_t after = headers - at - 30 - names[i].size();
        PutLE(out, 0x04034b50, 4), PutLE(out, 20, 2), PutLE(out, 0, 2), PutLE(out, 0, 2), PutLE(out, 0, 4);
        PutLE(out, crc, 4), PutLE(out, shared.size(), 4), PutLE(out, shared.size(), 4);
        PutLE(out, names[i].size(), 2), PutLE(out, after, 2);
        out += names[i];
        PutLE(central, 0x02014b50, 4), PutLE(central, 20, 2), PutLE(central, 20, 2), PutLE(central, 0, 4);
        PutLE(central, 0, 4), PutLE(central, crc, 4), PutLE(central, shared.size(), 4);
        PutLE(central, shared.size(), 4), PutLE(central, names[i].size(), 2), PutLE(central, 0, 6);
        PutLE(central, 0, 2), PutLE(central, 0x20, 4), PutLE(central, at, 4);
        central += names[i];
    }
    out += shared;
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    PutLE(out, 0x06054b50, 4), PutLE(out, 0, 4), PutLE(out, count, 2), PutLE(out, count, 2);
    PutLE(out, central.size(), 4), PutLE(out, centralOffset, 4), PutLE(out, 0, 2);
    return out;
}

struct HostileCase {
    const char* what;
    std::function<std::string()> build;
    std::vector<std::string> patterns;
    // Expected: files written by extraction (relative to dest) and the failure count in test and
    // extract. A link is in the destination, not in the archive:
    // only extraction meets it.
    std::map<std::string, std::string> written;
    size_t failures;
    bool destinationFails = false;
};

TEST(HostileArchive, NothingOutsideTheDestinationAndTestAgreesWithExtract) {
    const std::string ok = "[Settings]\n";
    ZipEntryRecipe lying1, lying2;
    lying1.name = "a.txt", lying1.crc = 0, lying1.uncompressedSize = 1000;
    lying2.name = "b.txt", lying2.crc = 0, lying2.uncompressedSize = 0xFFFFFFFE;
    const HostileCase cases[] = {
        {"drive prefix before ..",
         [&] {
             return ZipBuilder().Stored("Settings.ini", ok).Stored("C:../evil.ini", "x").Stored("C:..\\evil2.ini", "y")
                 .Stored("D:/../evil3.ini", "z").Build();
         },
         {"*.ini"}, {{"Settings.ini", ok}}, 3},
        {"folders that are links out of the destination, in either case",
         [] { return ZipBuilder().Stored("link/x.ini", "x").Stored("LINK/y.ini", "y").Stored("inner/z.ini", "z").Build(); },
         {}, {{"real/z.ini", "z"}}, 2, true},
        {"one stream under many entries",
         [] { return OverlappingEntries(40, std::string(4096, 'A')); }, {}, {{"f139", std::string(4096, 'A')}}, 39},
        {"two records naming one local header",
         [] {
             std::string zip = ZipBuilder().Stored("a.txt", "aaaa").Stored("b.txt", "bbbb").Build();
             const size_t second = zip.find("PK\x01\x02", zip.find("PK\x01\x02") + 4);
             zip.replace(second + 42, 4, std::string(4, '\0'));  // b.txt's local header offset: a.txt's
             zip.replace(second + 16, 4, zip.substr(zip.find("PK\x01\x02") + 16, 4));
             return zip;
         },
         {}, {}, 1},
        {"sizes that lie", [&] { return ZipBuilder().Add(lying1).Add(lying2).Build(); }, {}, {}, 2},
        {"a NUL byte in a name",
         [] { return ZipBuilder().Stored(std::string("\0x.txt", 6), "hi").Stored("good.txt", "ok").Build(); },
         {}, {{"good.txt", "ok"}}, 1},
        {"one folder in two cases, one file in two cases",
         [] { return ZipBuilder().Stored("Dir/A.txt", "1").Stored("dir/a.TXT", "2").Build(); },
         {}, {{"Dir/A.txt", "2"}}, 0},
    };
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir tmp;
        const std::string archive = tmp / "A.zip";
        WriteFile(archive, c.build());
        const std::string dest = tmp / "dest/Logger";
        MakeDirs(dest + "/real");
        MakeDirs(tmp / "elsewhere");
        WriteFile(tmp / "dest/evil.ini", "old");
        ASSERT_TRUE(MakeLink(tmp / "elsewhere", dest + "/link"));
        ASSERT_TRUE(MakeLink("real", dest + "/inner"));  // leads inside: followed
        auto outside = Tree(tmp.Path());
        const auto inside = Tree(dest);

        const Outcome test = RunOn(archive, "", true, c.patterns);
        const Outcome extract = RunOn(archive, dest, false, c.patterns);
        EXPECT_EQ(test.error, "");
        EXPECT_EQ(extract.error, "");
        EXPECT_EQ(extract.failures.size(), c.failures) << ::testing::PrintToString(extract.failures);
        if (!c.destinationFails) {
            EXPECT_EQ(test.failures, extract.failures);
        }

        // Outside the destination nothing changed; inside, exactly the expected files appeared.
        auto after = Tree(tmp.Path());
        for (auto it = after.begin(); it != after.end();) {
            if (it->first.rfind("dest/Logger/", 0) == 0) it = after.erase(it);
            else ++it;
        }
        for (auto it = outside.begin(); it != outside.end();) {
            if (it->first.rfind("dest/Logger/", 0) == 0) it = outside.erase(it);
            else ++it;
        }
        EXPECT_EQ(after, outside);
        auto expected = inside;
        for (const auto& [name, content] : c.written) {
            expected[name] = content;
            for (auto slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
                expected.emplace(name.substr(0, slash), "/");
        }
        EXPECT_EQ(Tree(dest), expected);
    }
}

// A control byte in a name is refused for what it is, in a test as in an extraction, and the events get
// the whole stored name, a NUL and what follows it included.
TEST(HostileArchive, NamesWithControlBytesAreRefusedForWhatTheyAre) {
    TempDir tmp;
    const std::string nul("\0x.txt", 6);
    const std::string esc = "a\x1b[2Jb.txt";
    const std::string del = "sub\x7f/c.ini";
    WriteFile(tmp / "A.zip",
              ZipBuilder().Stored(nul, "1").Stored(esc, "2").Stored(del, "3").Stored("ok.txt", "4").Build());
    const std::string why = ": its name holds control characters";
    const std::vector<std::string> expected = {nul + why, esc + why, del + why};
    for (const bool test : {true, false}) {
        SCOPED_TRACE(test ? "test" : "extract");
        const std::string dest = tmp / (test ? "t" : "x");
        MakeDirs(dest);
        TVCLUnZip z;
        z.DoProcessMessages = false;
        std::vector<std::string> skipped;
        z.OnSkippingFile = [&](TVCLUnZip* s, TSkipReason reason, const std::string& name, int, bool&) {
            EXPECT_EQ(reason, skCreateFailed);
            skipped.push_back(name + ": " + s->SkipDetail());
        };
        z.SetZipName(tmp / "A.zip");
        z.SetDestDir(dest);
        z.RecreateDirs = true;
        z.DoAll = true;
        EXPECT_EQ(test ? z.TestArchive() : z.UnZip(), 1);
        EXPECT_EQ(skipped, expected);
        std::map<std::string, std::string> written;
        if (!test) written["ok.txt"] = "4";
        EXPECT_EQ(Tree(dest), written);
    }
}

// More entries than the list holds are told as such, also when the end record's count wrapped past
// 65535 (a writer without Zip64 records keeps only its low 16 bits): 65536 entries must not pass for an
// empty archive, nor 65537 for one entry. Nothing is tested or written then.
TEST(HostileArchive, MoreEntriesThanTheListHoldsAreToldAsSuch) {
    const char* const kTooMany = "The archive holds more than 65520 entries";
    const char* zbk = std::getenv("ZBK");
    for (const int count : {65521, 65536, 65537}) {
        SCOPED_TRACE(count);
        TempDir tmp;
        ZipBuilder builder;  // its end record keeps the count's low 16 bits
        for (int i = 0; i < count; ++i) builder.Stored(std::to_string(i), "");
        WriteFile(tmp / "many.zip", builder.Build());
        TVCLUnZip z;
        z.DoProcessMessages = false;
        z.SetZipName(tmp / "many.zip");
        try {
            z.ReadCentralDirectory();
            ADD_FAILURE() << "read " << z.Count() << " entries";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), kTooMany);
        }
        const CheckResult check = CheckArchive(tmp / "many.zip");
        EXPECT_FALSE(check.Ok());
        ASSERT_EQ(check.problems.size(), 1u);
        EXPECT_EQ(check.problems[0].what, kTooMany);
        const Outcome extract = RunOn(tmp / "many.zip", tmp / "out", false);
        EXPECT_EQ(extract.error, kTooMany);
        EXPECT_FALSE(testing_support::PathExists(tmp / "out"));
        if (zbk) {
            const auto r = testing_support::Run(testing_support::ShellQuote(zbk) + " test " +
                                                testing_support::ShellQuote(tmp / "many.zip"));
            EXPECT_EQ(r.exitCode, 2) << r.output;
            EXPECT_NE(r.output.find(kTooMany), std::string::npos) << r.output;
        }
    }
}

// A local process that swaps a folder below the destination for a link to another place while entries
// are written into it: the folder the walk entered is the one the files land in, whatever the path
// leads to meanwhile. Either a real folder goes aside for the link, or a link that leads inside (and is
// followed) is replaced by one that leads out. Bounded: a number of rounds, each a whole extraction
// raced by a swapping thread.
TEST(HostileArchive, AFolderSwappedForALinkMidwayTakesNothingOutside) {
#ifdef _WIN32
    // A held folder keeps Windows programs from renaming it, and the file services make, rename and
    // delete by path below it; under Wine a Unix process heeds no such sharing, and Wine deletes and
    // renames through the path a file was opened by. The swaps below are a Unix loop of the shell.
    if (testing_support::Run("uname").output.rfind("Linux", 0) == 0)
        GTEST_SKIP() << "Wine cannot hold a folder against a Unix process that swaps it for a link";
    constexpr int kRounds = 12;
#else
    constexpr int kRounds = 200;
#endif
    TempDir tmp;
    ZipBuilder builder;
    for (int i = 0; i < 12; ++i) builder.Stored("Sub/f" + std::to_string(i) + ".txt", "new " + std::to_string(i));
    WriteFile(tmp / "race.zip", builder.Build());
    const std::string outside = tmp / "outside";
    MakeDirs(outside);
    for (const bool linkInside : {false, true}) {
        SCOPED_TRACE(linkInside ? "a link inside swapped for one outside" : "a folder swapped for a link");
        int rounds = 0, swaps = 0, refused = 0;
        for (; rounds < kRounds; ++rounds) {
            const std::string dest = tmp / ("dest" + std::to_string(rounds));
            const std::string sub = dest + "/Sub", aside = dest + "/Sub.aside";
            const std::string in = dest + "/In.link", out = dest + "/Out.link";
            if (linkInside) {
                MakeDirs(dest + "/Inner");
                ASSERT_TRUE(MakeLink("Inner", sub));
            } else {
                MakeDirs(sub);
            }
#ifdef _WIN32
            // A Unix process swaps, as under Wine another program of the machine may: it heeds none of
            // the sharing a held folder asks of Windows programs.
            using testing_support::ShellQuote;
            const std::string control = tmp / ("control" + std::to_string(rounds));
            MakeDirs(control);
            const std::string step = linkInside
                ? "ln -s " + ShellQuote(outside) + " Out.link && mv -T Out.link Sub; ln -s Inner In.link && mv -T In.link Sub"
                : "mv Sub Sub.aside || continue; ln -s " + ShellQuote(outside) + " Sub && rm Sub; mv Sub.aside Sub";
            ASSERT_EQ(testing_support::Run("cd " + ShellQuote(dest) + " && (n=0; while [ ! -e " + ShellQuote(control + "/stop") +
                                           " ]; do " + step + "; n=$((n+1)); done; echo $n >" +
                                           ShellQuote(control + "/swaps.new") + "; mv " + ShellQuote(control + "/swaps.new") +
                                           " " + ShellQuote(control + "/swaps") + ") >/dev/null 2>&1 &")
                          .exitCode,
                      0);
            const Outcome result = RunOn(tmp / "race.zip", dest, false);
            WriteFile(control + "/stop", "");
            while (!testing_support::PathExists(control + "/swaps")) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            swaps += std::atoi(ReadFile(control + "/swaps").c_str());
#else
            std::atomic<bool> stop{false};
            std::thread swapper([&] {
                while (!stop.load(std::memory_order_relaxed)) {
                    if (linkInside) {
                        // Each link replaces the other in one step: Sub always exists.
                        if (symlink(outside.c_str(), out.c_str()) != 0 || rename(out.c_str(), sub.c_str()) != 0) continue;
                        std::this_thread::yield();
                        if (symlink("Inner", in.c_str()) == 0) rename(in.c_str(), sub.c_str());
                    } else {
                        if (rename(sub.c_str(), aside.c_str()) != 0) continue;
                        if (symlink(outside.c_str(), sub.c_str()) == 0) {
                            std::this_thread::yield();
                            unlink(sub.c_str());
                        }
                        rename(aside.c_str(), sub.c_str());
                    }
                    ++swaps;
                }
            });
            const Outcome result = RunOn(tmp / "race.zip", dest, false);
            stop = true;
            swapper.join();
#endif
            EXPECT_EQ(result.error, "");
            refused += static_cast<int>(result.failures.size());
            const auto leaked = Tree(outside);
            ASSERT_TRUE(leaked.empty()) << "round " << rounds << ": " << ::testing::PrintToString(leaked);
            // Whatever was written stayed below the destination, in the real folder.
            for (const auto& [name, content] : Tree(dest)) {
                if (content == "/" || content.rfind("-> ", 0) == 0) continue;
                EXPECT_EQ(name.rfind(linkInside ? "Inner/f" : "Sub/f", 0), 0u) << name;
            }
#ifdef _WIN32
            testing_support::Run("rm -rf " + testing_support::ShellQuote(dest));
#else
            std::filesystem::remove_all(dest);
#endif
        }
        std::printf("%s: %d rounds, %d swaps, %d entries refused; nothing outside\n",
                    linkInside ? "link inside for link outside" : "folder for link", rounds, swaps, refused);
    }
}

}  // namespace
