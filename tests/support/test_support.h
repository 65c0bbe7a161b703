// Helpers shared by the tests: scratch folders, whole-file I/O, running the oracles (Info-ZIP zip/unzip,
// 7-Zip, python3) and the locations of the shared test data.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder under the system's temporary folder, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    // The folder, without a trailing separator.
    const std::string& Path() const { return path_; }
    // Path() + "/" + relative.
    std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

private:
    std::string path_;
};

// Writes (creating parent folders) / reads a whole file. ReadFile returns "" for a missing file.
void WriteFile(const std::string& path, const std::string& bytes);
std::string ReadFile(const std::string& path);
bool PathExists(const std::string& path);
void MakeDirs(const std::string& path);

struct CommandResult {
    int exitCode;
    std::string output;  // standard output and standard error together
};
// Runs a shell command line.
CommandResult Run(const std::string& commandLine);
// Single-quotes a word for the shell.
std::string ShellQuote(const std::string& word);
// Whether a program is on PATH.
bool HaveTool(const std::string& program);

// Makes the disk "fill up" for this process: while alive, no file can grow beyond `bytes` (RLIMIT_FSIZE),
// so write(2) moves what fits and then fails with EFBIG, as on a full disk. SIGXFSZ is ignored meanwhile.
// Writing to /dev/full is the other way to test a full disk (every write fails with ENOSPC).
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    uint64_t oldSoft_;
    void (*oldHandler_)(int);
};

// A scratch file in `folder` (or, with `keepOf`, a kept second name of that file of the folder) made by
// a child process that then dies without cleaning up, as a killed instance leaves it: the mark on, the
// lock gone. Its name, "" when it could not be made.
std::string DebrisOfAKilledMaker(const std::string& folder, const std::string& keepOf = "");
// A file of a scratch run (ScratchRun) in `folder`, holding a few bytes, made by a child process that then
// dies: the file and its anchor (the first 11 characters of its name) stay, the anchor's lock gone. Its
// name, "" when it could not be made.
std::string DebrisOfAKilledRun(const std::string& folder);

// Deterministic pseudo-random bytes.
std::string RandomBytes(size_t n, uint32_t seed);
// Text-like bytes: words from a small vocabulary with line breaks.
std::string TextBytes(size_t n, uint32_t seed);

// ../shared of the project (test data and benchmark corpus), and the source and build trees.
std::string SharedDir();
std::string SourceDir();
std::string BinaryDir();

}  // namespace testing_support
