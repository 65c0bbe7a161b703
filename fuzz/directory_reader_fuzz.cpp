// libFuzzer target for the archive reader: arbitrary bytes are read as an archive (end record, central
// records, companion and disk requests, recovery scan), then every entry is tested: decoded with its CRC
// checked and its name judged as extraction judges it, nothing written (for archives that claim at most
// 128 KiB of output). The input lives in memory (a
// memfd, opened by the reader through /proc/self/fd like any file), so no input touches the disk.
// Every name the reader accepts must also land inside a destination folder.
//
// Allowed outcomes are the engine's own exceptions; anything else (a crash, a sanitizer report, a
// std::bad_alloc from an unbounded allocation, a hang, a name that leaves the destination) is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "archive/errors.h"
#include "archive/reader/destination.h"
#include "archive/reader/vcl_unzip.h"

namespace {

// The one in-memory file every input is written to, and the name the reader opens it by.
struct MemoryFile {
    int fd = memfd_create("zbk-fuzz-archive", 0);
    std::string path = "/proc/self/fd/" + std::to_string(fd);
};

constexpr int64_t kMaxTested = 128 * 1024;

bool InsideDestination(const archive::TZipHeaderInfo& entry) {
    const auto usable = archive::reader::UsableFolder("", entry.Directory(), entry.FileName());
    if (!usable) return true;  // refused: nothing is written
    const std::string path = archive::reader::DestinationFolder("/d", true, *usable) + entry.FileName();
    if (path.rfind("/d/", 0) != 0 || path.find('\0') != std::string::npos) return false;
    for (size_t start = 0; start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string part = path.substr(start, end - start);
        if (part == "..") return false;
        start = end + 1;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const MemoryFile file;
    if (file.fd < 0) __builtin_trap();
    if (ftruncate(file.fd, 0) != 0 || (size && pwrite(file.fd, data, size, 0) != static_cast<ssize_t>(size)))
        __builtin_trap();

    archive::TVCLUnZip z;
    z.DoProcessMessages = false;
    // The three incomplete-archive modes in turn; recovery is the richest.
    static const archive::TIncompleteZipMode kModes[] = {archive::izAssumeBad, archive::izAssumeMulti,
                                                         archive::izAssumeNotAZip};
    z.IncompleteZipMode = kModes[size % 3];
    z.Password = "password";
    try {
        z.SetZipName(file.path);
        z.ReadCentralDirectory();
        int64_t claimed = 0;
        for (int i = 0; i < z.Count(); ++i) {
            z.EntryName(i);
            z.EntryDateTime(i);
            z.EntryComment(i);
            if (!InsideDestination(z.EntryInfo(i))) __builtin_trap();
            claimed += z.EntryInfo(i).UncompressedSize;
        }
        z.ArchiveComment();
        // Decoding megabytes per input would bury the reader's own paths; the decoders have their own
        // targets. An archive that claims little output is tested whole.
        if (claimed <= kMaxTested) {
            z.DoAll = true;
            z.RecreateDirs = true;
            z.TestArchive();
        }
    } catch (const archive::Exception&) {
    }
    return 0;
}
