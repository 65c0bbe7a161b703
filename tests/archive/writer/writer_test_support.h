// Helpers for the writer's tests (header-only: every test file is its own executable).
// Reading back what the writer wrote (central records, local headers) with the record classes, and asking
// the other ZIP tools (Info-ZIP unzip, 7-Zip, python3's zipfile) whether they read the same content.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "archive/codec/crc32.h"
#include "archive/records/end_central.h"
#include "archive/records/zip_header_info.h"
#include "archive/streams/stream.h"
#include "tests/support/test_support.h"

namespace writer_testing {

using testing_support::ReadFile;
using testing_support::Run;
using testing_support::ShellQuote;
using testing_support::TempDir;
using testing_support::WriteFile;

struct Listing {
    archive::TEndCentral end;
    std::vector<archive::TZipHeaderInfo> entries;  // central records in directory order
    bool ok = false;
};

// The end record and every central record of a single-file archive.
inline Listing ReadListing(const std::string& zipPath) {
    Listing listing;
    try {
        archive::TFileStream file(zipPath, archive::fmOpenRead);
        if (!listing.end.Locate(file)) return listing;
        file.Seek(listing.end.CentralOffset, archive::soFromBeginning);
        archive::TStream* stream = &file;
        for (int i = 0; i < listing.end.TotalEntries; ++i) {
            archive::TZipHeaderInfo entry;
            if (!entry.ReadCentral(stream)) return listing;
            listing.entries.push_back(entry);
        }
        listing.ok = true;
    } catch (...) {
    }
    return listing;
}

// The local header (and name) at `offset`; false when there is none.
inline bool ReadLocalHeader(const std::string& zipPath, uint32_t offset, archive::TZipHeaderInfo& out) {
    try {
        archive::TFileStream file(zipPath, archive::fmOpenRead);
        file.Seek(offset, archive::soFromBeginning);
        return out.ReadLocal(file);
    } catch (...) {
        return false;
    }
}

// Expected content by stored name ('/' separators; folder entries end with '/', their content is ignored).
using Contents = std::map<std::string, std::string>;

namespace detail {

inline std::string PythonChecker() {
    return R"PY(
import sys, zipfile, zlib, os
path, pwd, mode, dest = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4]
z = zipfile.ZipFile(path)
if pwd:
    z.setpassword(pwd.encode())
bad = z.testzip()
if bad is not None:
    print("BAD", bad); sys.exit(1)
for info in z.infolist():
    if info.is_dir():
        print("DIR", info.filename); continue
    crc = 0; size = 0
    with z.open(info) as f:
        while True:
            b = f.read(1 << 20)
            if not b: break
            crc = zlib.crc32(b, crc); size += len(b)
    print("FILE %08x %d %s" % (crc, size, info.filename))
if mode == "extract":
    z.extractall(dest)
)PY";
}

// Compares the files extracted under `folder` with the expected contents.
inline void CompareFolder(const std::string& tool, const std::string& folder, const Contents& expected,
                          std::vector<std::string>& problems) {
    namespace stdfs = std::filesystem;
    for (const auto& [name, content] : expected) {
        const std::string path = folder + "/" + name;
        if (!name.empty() && name.back() == '/') {
            if (!stdfs::is_directory(path)) problems.push_back(tool + ": folder missing: " + name);
            continue;
        }
        if (!testing_support::PathExists(path)) {
            problems.push_back(tool + ": missing: " + name);
        } else if (ReadFile(path) != content) {
            problems.push_back(tool + ": content differs: " + name);
        }
    }
    size_t files = 0;
    for (auto it = stdfs::recursive_directory_iterator(folder); it != stdfs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file()) ++files;
    size_t expectedFiles = 0;
    for (const auto& [name, content] : expected)
        if (name.empty() || name.back() != '/') ++expectedFiles;
    if (files != expectedFiles)
        problems.push_back(tool + ": " + std::to_string(files) + " files extracted, expected " +
                           std::to_string(expectedFiles));
}

}  // namespace detail

// Runs unzip -t, 7z t and python3's zipfile over the archive and compares what each reads with
// `expected`. With extract, unzip, 7z and python each extract into a folder compared byte for byte;
// without (large archives), python compares CRC-32 and size of every entry. Returns the problems found.
inline std::vector<std::string> CheckWithOracles(const std::string& zipPath, const Contents& expected,
                                                 const std::string& password = {}, bool extract = true) {
    std::vector<std::string> problems;
    TempDir work;
    const std::string zip = ShellQuote(zipPath);
    const std::string pw = ShellQuote(password);

    auto unzipTest = Run("unzip -tqq " + (password.empty() ? std::string() : "-P " + pw + " ") + zip);
    if (unzipTest.exitCode != 0) problems.push_back("unzip -t: " + unzipTest.output);
    auto sevenTest = Run("7z t -bd -p" + pw + " " + zip);
    if (sevenTest.exitCode != 0) problems.push_back("7z t: " + sevenTest.output);

    WriteFile(work / "check.py", detail::PythonChecker());
    const std::string pyDest = work / "python";
    auto py = Run("python3 " + ShellQuote(work / "check.py") + " " + zip + " " + pw + " " +
                  (extract ? "extract" : "list") + " " + ShellQuote(pyDest));
    if (py.exitCode != 0) {
        problems.push_back("python zipfile: " + py.output);
        return problems;
    }
    // Every expected entry listed with the CRC and size of the expected content, and nothing more.
    std::map<std::string, std::string> listed;
    size_t pos = 0;
    while (pos < py.output.size()) {
        size_t end = py.output.find('\n', pos);
        if (end == std::string::npos) end = py.output.size();
        const std::string line = py.output.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("DIR ", 0) == 0) {
            listed[line.substr(4)] = "";
        } else if (line.rfind("FILE ", 0) == 0) {
            const size_t a = line.find(' ', 5);
            const size_t b = line.find(' ', a + 1);
            listed[line.substr(b + 1)] = line.substr(5, b - 5);
        }
    }
    for (const auto& [name, content] : expected) {
        auto it = listed.find(name);
        if (it == listed.end()) {
            problems.push_back("python zipfile: entry missing: " + name);
            continue;
        }
        if (!name.empty() && name.back() == '/') continue;
        char want[64];
        std::snprintf(want, sizeof want, "%08x %zu", archive::codec::Crc32(content.data(), content.size()),
                      content.size());
        if (it->second != want) problems.push_back("python zipfile: " + name + " reads as " + it->second);
    }
    if (listed.size() != expected.size())
        problems.push_back("python zipfile: " + std::to_string(listed.size()) + " entries, expected " +
                           std::to_string(expected.size()));
    if (!extract) return problems;

    detail::CompareFolder("python zipfile", pyDest, expected, problems);
    const std::string unzipDest = work / "unzip";
    testing_support::MakeDirs(unzipDest);
    auto ux = Run("unzip -qq -o " + (password.empty() ? std::string() : "-P " + pw + " ") + zip + " -d " +
                  ShellQuote(unzipDest));
    if (ux.exitCode != 0) problems.push_back("unzip: " + ux.output);
    detail::CompareFolder("unzip", unzipDest, expected, problems);
    const std::string sevenDest = work / "7z";
    auto sx = Run("7z x -bd -y -p" + pw + " -o" + ShellQuote(sevenDest) + " " + zip);
    if (sx.exitCode != 0) problems.push_back("7z x: " + sx.output);
    detail::CompareFolder("7z", sevenDest, expected, problems);
    return problems;
}

// Joins the volumes of a multi-volume set into one archive: the volumes are concatenated, and every
// offset of the central directory and end record is moved by the size of the volumes before its disk,
// with the disk numbers set to 0. Tools without multi-volume support can then read the set.
inline bool JoinVolumes(const std::vector<std::string>& volumes, const std::string& joined, std::string& error) {
    std::vector<uint32_t> base;
    std::string all;
    for (const auto& v : volumes) {
        base.push_back(static_cast<uint32_t>(all.size()));
        all += ReadFile(v);
    }
    // The end record: the last "PK\5\6" of the last volume.
    const size_t endPos = all.rfind(std::string("PK\x05\x06", 4));
    if (endPos == std::string::npos || endPos + 22 > all.size()) {
        error = "no end record";
        return false;
    }
    auto u16 = [&](size_t p) { return static_cast<uint32_t>(uint8_t(all[p]) | uint8_t(all[p + 1]) << 8); };
    auto u32 = [&](size_t p) { return u16(p) | u16(p + 2) << 16; };
    auto put16 = [&](size_t p, uint32_t v) { all[p] = char(v); all[p + 1] = char(v >> 8); };
    auto put32 = [&](size_t p, uint32_t v) { put16(p, v & 0xFFFF); put16(p + 2, v >> 16); };
    const uint32_t startDisk = u16(endPos + 6);
    const uint32_t count = u16(endPos + 10);
    if (startDisk >= base.size()) {
        error = "central directory on a missing disk";
        return false;
    }
    size_t p = base[startDisk] + u32(endPos + 16);
    for (uint32_t i = 0; i < count; ++i) {
        if (p + 46 > all.size() || u32(p) != 0x02014b50) {
            error = "central record " + std::to_string(i) + " not found";
            return false;
        }
        const uint32_t disk = u16(p + 34);
        if (disk >= base.size()) {
            error = "entry on a missing disk";
            return false;
        }
        put32(p + 42, base[disk] + u32(p + 42));
        put16(p + 34, 0);
        p += 46 + u16(p + 28) + u16(p + 30) + u16(p + 32);
    }
    put32(endPos + 16, base[startDisk] + u32(endPos + 16));
    put16(endPos + 4, 0);
    put16(endPos + 6, 0);
    put16(endPos + 8, count);
    WriteFile(joined, all);
    return true;
}

// Names of the entries of a folder (no recursion), sorted.
inline std::vector<std::string> FolderNames(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace writer_testing
