// libFuzzer target for the archive reader: arbitrary bytes are written to a file and read as an archive
// (end record, central records, companion and disk requests, recovery scan), then every entry is tested
// (decoded with its CRC checked, nothing written) and, when the archive claims little output, extracted
// into a scratch folder that is emptied after each input.
//
// Allowed outcomes are the engine's own exceptions; anything else (a crash, a sanitizer report, a
// std::bad_alloc from an unbounded allocation, a hang) is a finding.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "archive/errors.h"
#include "archive/reader/vcl_unzip.h"

namespace {

const std::string& Scratch() {
    static const std::string dir = [] {
        const std::string d = std::filesystem::temp_directory_path().string() + "/zbk-fuzz-" + std::to_string(getpid());
        std::filesystem::create_directories(d);
        return d;
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string archive = Scratch() + "/input.zip";
    const std::string out = Scratch() + "/out";
    if (FILE* f = std::fopen(archive.c_str(), "wb")) {
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
    } else {
        return 0;
    }

    archive::TVCLUnZip z;
    z.DoProcessMessages = false;
    // The three incomplete-archive modes in turn; recovery is the richest.
    static const archive::TIncompleteZipMode kModes[] = {archive::izAssumeBad, archive::izAssumeMulti,
                                                         archive::izAssumeNotAZip};
    z.IncompleteZipMode = kModes[size % 3];
    z.Password = "password";
    try {
        z.SetZipName(archive);
        z.ReadCentralDirectory();
        int64_t claimed = 0;
        for (int i = 0; i < z.Count(); ++i) {
            z.EntryName(i);
            z.EntryDateTime(i);
            z.EntryComment(i);
            claimed += z.EntryInfo(i).UncompressedSize;
        }
        z.ArchiveComment();
        z.DoAll = true;
        z.RecreateDirs = true;
        z.TestArchive();
        if (claimed < (1 << 20)) {
            z.SetDestDir(out);
            z.OverwriteMode = archive::Always;
            z.DoAll = true;
            z.UnZip();
        }
    } catch (const archive::Exception&) {
    }
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    return 0;
}
