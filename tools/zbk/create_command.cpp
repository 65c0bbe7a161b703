// zbk create: writes an archive the way the backup application does, from the command line.
//
//   zbk create ARCHIVE ROOT PATTERN... [--level N] [--action update|replace|freshen] [--password P]
//              [--recurse] [--threads N]
//
// RootDir is ROOT and stored names are relative to it (RelativePaths). Each PATTERN is a file-list entry
// of the writer: a leading "|" switches recursion off for it, a leading ">" on; otherwise --recurse
// decides (off by default). A relative pattern is taken under ROOT, so "|DB/*.*" is the backup's own
// "every file directly in DB". The action defaults to replace, as in the backup application.
//
// Exit code 0 when the archive was written, 2 for a usage error or an exception (its message on standard
// error). Skipped files are reported on standard error; they do not change the exit code.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "archive/host.h"
#include "archive/records/printable_name.h"
#include "archive/writer/vcl_zip.h"
#include "tools/zbk/thread_option.h"

namespace {

using archive::TVCLZip;

int CreateUsage() {
    std::fprintf(stderr,
                 "usage: zbk create ARCHIVE ROOT PATTERN... [--level N] [--action update|replace|freshen]\n"
                 "                  [--password P] [--recurse] [--threads N]\n");
    return 2;
}

struct CreateOptions {
    std::string archive;
    std::string root;
    std::vector<std::string> patterns;
    int level = 6;
    archive::TZipAction action = archive::zaReplace;
    std::string password;
    bool recurse = false;
    unsigned threads = 0;  // the compressor's worker threads; 0: one per core
};

bool ParseCreate(int argc, char** argv, CreateOptions& o) {
    std::vector<std::string> words;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--level") {
            if (++i >= argc) return false;
            char* end = nullptr;
            const long level = std::strtol(argv[i], &end, 10);
            if (*end != '\0' || level < 0 || level > 9) return false;
            o.level = static_cast<int>(level);
        } else if (arg == "--action") {
            if (++i >= argc) return false;
            const std::string action = argv[i];
            if (action == "update") {
                o.action = archive::zaUpdate;
            } else if (action == "replace") {
                o.action = archive::zaReplace;
            } else if (action == "freshen") {
                o.action = archive::zaFreshen;
            } else {
                return false;
            }
        } else if (arg == "--password") {
            if (++i >= argc) return false;
            o.password = argv[i];
        } else if (arg == "--recurse") {
            o.recurse = true;
        } else if (arg == "--threads") {
            if (++i >= argc || !ParseThreadCount(argv[i], o.threads)) return false;
        } else {
            words.push_back(arg);
        }
    }
    if (words.size() < 3) return false;
    o.archive = words[0];
    o.root = words[1];
    o.patterns.assign(words.begin() + 2, words.end());
    return true;
}

// "|DB/*.*" under /log/ is "|/log/DB/*.*"; absolute patterns stay as they are.
std::string UnderRoot(const std::string& pattern, const std::string& root) {
    size_t start = 0;
    if (!pattern.empty() && (pattern[0] == '|' || pattern[0] == '>')) start = 1;
    if (pattern.compare(start, 1, "/") == 0) return pattern;
    return pattern.substr(0, start) + root + pattern.substr(start);
}

}  // namespace

int RunCreateCommand(int argc, char** argv) {
    CreateOptions o;
    if (!ParseCreate(argc, argv, o)) return CreateUsage();
    try {
        archive::DefaultHost host(true);
        TVCLZip zip(&host);
        zip.DoProcessMessages = false;
        zip.PackLevel = o.level;
        zip.SetCompressionThreads(o.threads);
        zip.ZipAction = o.action;
        zip.Password = o.password;
        zip.SetZipName(o.archive);
        zip.SetRootDir(o.root);
        zip.SetRelativePaths(true);  // also turns StorePaths and Recurse on
        zip.Recurse = o.recurse;
        for (const auto& p : o.patterns) zip.FilesList.push_back(UnderRoot(p, zip.RootDir()));
        zip.OnSkippingFile = [](archive::TVCLUnZip*, archive::TSkipReason reason, const std::string& name, int,
                                bool&) {
            std::fprintf(stderr, "skipped (%s): %s\n",
                         reason == archive::skNotOverwritten ? "listed twice" : "cannot open",
                         archive::PrintableName(name).c_str());
        };
        zip.OnNoSuchFile = [](TVCLZip*, const std::string& name) {
            std::fprintf(stderr, "no such file: %s\n", archive::PrintableName(name).c_str());
        };
        const int added = zip.Zip();
        std::printf("%d entries added, %d in the archive\n", added, zip.Count());
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zbk: %s\n", e.what());
        return 2;
    }
}
