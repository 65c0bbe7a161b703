// Open files by descriptor: what the streams, the reader and the writer do with a file once it is open.
//
// The rest of the engine reaches the operating system only through archive/fs; these are the calls on
// open files. A descriptor is an int on every platform (on Windows the C runtime's descriptor of the
// file's handle). Every call retries an interrupted system call itself and leaves errno set on failure.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace archive::fs {

enum class Access {
    Read,       // existing file, read only
    Write,      // existing file, write only
    ReadWrite,  // existing file
    Create,     // read and write; made, or emptied when it exists
};

// Opens a file (the path as given: callers resolve it first). Not inherited by child processes. A folder
// is refused (EISDIR). -1 when it cannot be opened; errno tells why.
int OpenFile(const std::string& path, Access access);
// Opens `path` for reading only when it is a regular file, without waiting on a pipe or a device; -1
// otherwise.
int OpenRegularFile(const std::string& path);
// A second descriptor of the same open file (sharing its position); -1 with errno.
int DuplicateFile(int fd);
// A descriptor of its own for the file open on `fd`, for ReadSomeAt from several threads while `fd`
// reads on at its own position; -1 with errno.
int ReopenForReading(int fd);
void CloseFile(int fd);

// Moves up to `count` bytes at the file position: the count moved (fewer only at the end of the file, a
// full disk...), 0 at the end, -1 on an error.
int64_t ReadSome(int fd, void* buffer, int64_t count);
int64_t WriteSome(int fd, const void* buffer, int64_t count);
// Reads up to `count` bytes at `offset`, as ReadSome; the file position stays. From several threads at
// once, use a descriptor of their own (ReopenForReading): Windows moves the position and puts it back.
int64_t ReadSomeAt(int fd, void* buffer, int64_t count, int64_t offset);
// SEEK_SET, SEEK_CUR, SEEK_END: the new position, or -1 (the position stays).
int64_t SeekFile(int fd, int64_t offset, int whence);
// The file's size, or -1.
int64_t SizeOfFile(int fd);
// Flushes the file's data and its size to the disk.
bool FlushFile(int fd);
// Flushes a folder's entries to the disk (after a rename into it); best effort, "" is the current folder.
void FlushFolder(const std::string& folder);

// What a path (links followed) or an open file is.
struct FileStatus {
    bool regular = false;
    bool folder = false;
    int64_t size = 0;
    int64_t modifiedNs = 0;  // last write, nanoseconds since 1970 (UTC)
    uint64_t device = 0;     // with `index`, tells two files apart
    uint64_t index = 0;
};
std::optional<FileStatus> StatusOf(const std::string& path);
std::optional<FileStatus> StatusOfFile(int fd);
inline bool SameFile(const FileStatus& a, const FileStatus& b) { return a.device == b.device && a.index == b.index; }

// The local time of `t`; false when it cannot be told.
bool LocalTime(std::time_t t, std::tm& out);

// The text of an errno value.
std::string ErrorText(int error);

}  // namespace archive::fs
