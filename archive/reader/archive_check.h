// Reading an archive back whole, the way a restore would, without writing anything: its directory, every
// entry's local header, and every entry's data decoded with its CRC and size compared against the
// directory (what `unzip -t` does).
//
// The writer runs it on each archive it has written and flushed, before the archive takes its name; the
// program's `verify` and `list` commands run it on archives already there. Nothing of it is shown: the
// caller gets the problems as text and decides. Message boxes the reader would raise while decoding are
// answered silently; the host's message pump still runs, so a window stays responsive.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace archive {

class Host;

struct CheckedEntry {
    std::string name;  // stored name, with '/'
    uint32_t crc32 = 0;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint32_t localHeaderOffset = 0;
    bool operator==(const CheckedEntry&) const = default;
};

struct CheckProblem {
    std::string entry;  // stored name; empty for a problem of the whole archive
    std::string what;
    // Not damage: a kind of archive or entry this engine does not read (a method, Zip64 records) or
    // cannot read without a password. Such an archive may be whole; it just cannot be checked here.
    bool unread = false;
};

struct CheckResult {
    bool opened = false;                // the directory could be read
    std::vector<CheckedEntry> entries;  // as the directory lists them, in archive order
    std::vector<CheckProblem> problems; // the first one is why the archive did not open, when it did not
    bool Ok() const { return opened && problems.empty(); }
};

// Only reads the directory of the archive at `path` (does it open?); `entries` and the first problem
// as CheckArchive gives them. A file without an end record does not open, a file of no bytes included;
// nor does anything but a regular file (a device, a FIFO, a folder), which is not even read.
CheckResult OpenArchive(const std::string& path);

// Checks the archive at `path`. `host` (or none) pumps messages while the data is decoded; `password`
// opens encrypted entries.
// `threads`: the reader's decompression threads (0: one per core).
CheckResult CheckArchive(const std::string& path, Host* host = nullptr, const std::string& password = {},
                         unsigned threads = 0);

// The first difference between what was meant to be written and what the directory read back holds,
// as text ("" when they are the same).
std::string CompareEntries(const std::vector<CheckedEntry>& expected, const std::vector<CheckedEntry>& found);

}  // namespace archive
