// zbk: the developers' command-line driver over the archive engine alone (no user interface). The
// benchmarks and the interoperability tests use it.
//
//   zbk list ARCHIVE
//   zbk test ARCHIVE [--password P] [--threads N]
//   zbk extract ARCHIVE DEST [PATTERN...] [--recreate] [--password P] [--threads N]
//
// --threads: worker threads that decode entries ahead (0, the default: one per core; 1: none).
// extract without a PATTERN takes every entry and replaces existing files. The exit code is 0 only when
// every selected entry was decoded with a matching CRC (extract: and written); 1 when one was not; 2 for
// a usage error or an exception (its message on standard error). The engine's message boxes go to
// standard error and questions get their default answer.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "archive/host.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/date_time.h"
#include "archive/records/printable_name.h"
#include "tools/zbk/thread_option.h"

namespace {

using archive::TVCLUnZip;

// Every name goes out through this: a stored name may hold bytes a terminal acts on.
std::string Shown(const std::string& name) { return archive::PrintableName(name); }

int Usage() {
    std::fprintf(stderr,
                 "usage: zbk list ARCHIVE\n"
                 "       zbk test ARCHIVE [--password P] [--threads N]\n"
                 "       zbk extract ARCHIVE DEST [PATTERN...] [--recreate] [--password P] [--threads N]\n");
    return 2;
}

struct Options {
    std::string command;
    std::vector<std::string> words;  // positional arguments after the command
    std::string password;
    bool recreate = false;
    unsigned threads = 0;  // the decoder's worker threads; 0: one per core
};

bool Parse(int argc, char** argv, Options& options) {
    if (argc < 2) return false;
    options.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--password") {
            if (++i >= argc) return false;
            options.password = argv[i];
        } else if (arg == "--recreate") {
            options.recreate = true;
        } else if (arg == "--threads") {
            if (++i >= argc || !ParseThreadCount(argv[i], options.threads)) return false;
        } else {
            options.words.push_back(arg);
        }
    }
    return true;
}

// Reports the per-entry failures; counts the entries that did not make it.
void Watch(TVCLUnZip& zip, int& failures) {
    zip.OnBadCRC = [&](TVCLUnZip*, uint32_t calc, uint32_t stored, int index) {
        std::fprintf(stderr, "bad CRC: %s (%08x, stored %08x)\n", Shown(zip.EntryName(index)).c_str(), calc, stored);
        ++failures;
    };
    zip.OnBadSize = [&](TVCLUnZip*, int64_t decoded, int64_t declared, int index) {
        std::fprintf(stderr, "wrong size: %s (%lld bytes, declared %lld)\n", Shown(zip.EntryName(index)).c_str(),
                     static_cast<long long>(decoded), static_cast<long long>(declared));
        ++failures;
    };
    zip.OnSkippingFile = [&](TVCLUnZip* sender, archive::TSkipReason reason, const std::string& name, int, bool&) {
        static const char* const kReasons[] = {"bad password", "not overwritten", "cannot open", "cannot create"};
        const std::string& detail = sender->SkipDetail();
        std::fprintf(stderr, "skipped (%s): %s\n", detail.empty() ? kReasons[reason & 3] : detail.c_str(),
                     Shown(name).c_str());
        ++failures;
    };
}

int List(TVCLUnZip& zip) {
    zip.ReadCentralDirectory();
    std::printf("%10s %10s %6s  %-19s %8s  %s\n", "size", "packed", "method", "date", "crc", "name");
    for (int i = 0; i < zip.Count(); ++i) {
        const archive::DateTimeParts t = archive::DecodeDateTime(zip.EntryDateTime(i));
        const archive::TZipHeaderInfo& e = zip.EntryInfo(i);
        std::printf("%10u %10u %6u  %04d-%02d-%02d %02d:%02d:%02d %08x  %s\n", e.UncompressedSize, e.CompressedSize,
                    e.Method, t.year, t.month, t.day, t.hour, t.minute, t.second, e.Crc32, Shown(e.StoredName()).c_str());
    }
    std::printf("%d entries\n", zip.Count());
    return 0;
}

int Run(const Options& options) {
    archive::DefaultHost host(true);
    TVCLUnZip zip(&host);
    zip.DoProcessMessages = false;
    if (options.command == "list" && options.words.size() == 1) {
        zip.SetZipName(options.words[0]);
        return List(zip);
    }
    int failures = 0;
    int selected = 0;
    Watch(zip, failures);
    zip.OnStartUnZipInfo = [&](TVCLUnZip*, int files, int64_t, bool&) { selected = files; };
    zip.Password = options.password;
    zip.SetDecompressionThreads(options.threads);
    if (options.command == "test" && options.words.size() == 1) {
        zip.SetZipName(options.words[0]);
        zip.DoAll = true;
        zip.RecreateDirs = true;
        const int good = zip.TestArchive();
        return failures == 0 && good == selected ? 0 : 1;
    }
    if (options.command == "extract" && options.words.size() >= 2) {
        zip.SetZipName(options.words[0]);
        zip.SetDestDir(options.words[1]);
        zip.RecreateDirs = options.recreate;
        zip.OverwriteMode = archive::Always;
        zip.FilesList.assign(options.words.begin() + 2, options.words.end());
        zip.DoAll = zip.FilesList.empty();
        const bool patterns = !zip.FilesList.empty();
        const int good = zip.UnZip();
        if (patterns && selected == 0) {
            std::fprintf(stderr, "zbk: no entry matches\n");
            return 1;
        }
        return failures == 0 && good == selected ? 0 : 1;
    }
    return Usage();
}

}  // namespace

// zbk create (tools/zbk/create_command.cpp).
int RunCreateCommand(int argc, char** argv);

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "create") return RunCreateCommand(argc, argv);
    Options options;
    if (!Parse(argc, argv, options)) return Usage();
    try {
        return Run(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zbk: %s\n", e.what());
        return 2;
    }
}
