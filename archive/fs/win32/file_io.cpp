// Open files by descriptor, on Windows; see file_io.h.
//
// A descriptor is the C runtime's for the file's handle; every call goes to the handle. Files are opened
// sharing reading, writing and deletion with others, as POSIX never locks a file against them, and
// never inherited by child processes.
#include "archive/fs/file_io.h"

#include <io.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "archive/fs/win32/system.h"

namespace archive::fs {

using namespace win32;

namespace {

// The largest piece handed to one ReadFile/WriteFile call (the count is a DWORD).
constexpr int64_t kMaxPiece = 0x40000000;

bool IsFolder(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileStatus StatusFrom(HANDLE handle) {
    FileStatus s;
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return s;
    s.folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    s.regular = !s.folder && GetFileType(handle) == FILE_TYPE_DISK;
    s.size = s.folder ? 0 : static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    s.modifiedNs = NanosecondsFromFileTime(info.ftLastWriteTime);
    s.device = info.dwVolumeSerialNumber;
    s.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return s;
}

}  // namespace

int OpenFile(const std::string& path, Access access) {
    const std::wstring system = SystemPath(path);
    DWORD rights = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (access) {
        case Access::Read: break;
        case Access::Write: rights = GENERIC_WRITE; break;
        case Access::ReadWrite: rights = GENERIC_READ | GENERIC_WRITE; break;
        case Access::Create:
            rights = GENERIC_READ | GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
    }
    HANDLE handle = CreateFileW(system.c_str(), rights, kShareAll, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE && access == Access::Create && GetLastError() == ERROR_ACCESS_DENIED &&
        !IsFolder(system)) {
        // A hidden or system file refuses CREATE_ALWAYS with other attributes: emptied in place instead.
        handle = CreateFileW(system.c_str(), rights, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE && !SetEndOfFile(handle)) {
            const DWORD error = GetLastError();
            CloseHandle(handle);
            SetErrnoFrom(error);
            return -1;
        }
    }
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (IsFolder(system)) {
            errno = EISDIR;
            return -1;
        }
        SetErrnoFrom(error);
        return -1;
    }
    return DescriptorOf(handle);
}

int OpenRegularFile(const std::string& path) {
    const std::wstring system = SystemPath(path);
    if (IsFolder(system)) return -1;
    HANDLE handle = CreateFileW(system.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr);
    if (handle == INVALID_HANDLE_VALUE) return SetErrnoFromLast(), -1;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return -1;
    }
    return DescriptorOf(handle);
}

int DuplicateFile(int fd) {
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), HandleOf(fd), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return SetErrnoFromLast(), -1;
    return DescriptorOf(copy);
}

int ReopenForReading(int fd) {
    // A file object of its own: positioned reads move its position, not that of `fd`.
    HANDLE handle = ReOpenFile(HandleOf(fd), GENERIC_READ, kShareAll, 0);
    if (handle == INVALID_HANDLE_VALUE) return SetErrnoFromLast(), -1;
    return DescriptorOf(handle);
}

void CloseFile(int fd) {
    if (fd >= 0) _close(fd);
}

int64_t ReadSome(int fd, void* buffer, int64_t count) {
    DWORD got = 0;
    if (!ReadFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min(count, kMaxPiece)), &got, nullptr)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF || error == ERROR_BROKEN_PIPE) return 0;
        SetErrnoFrom(error);
        return -1;
    }
    return got;
}

int64_t WriteSome(int fd, const void* buffer, int64_t count) {
    DWORD put = 0;
    if (!WriteFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min(count, kMaxPiece)), &put, nullptr)) {
        SetErrnoFromLast();
        return -1;
    }
    return put;
}

int64_t ReadSomeAt(int fd, void* buffer, int64_t count, int64_t offset) {
    // A read at an offset moves the position of a synchronous handle: it is put back, so that a reader by
    // position and a stream on one descriptor (one thread) keep out of each other's way.
    LARGE_INTEGER zero{}, position{};
    const bool known = SetFilePointerEx(HandleOf(fd), zero, &position, FILE_CURRENT) != 0;
    struct Restore {
        HANDLE handle;
        bool known;
        LARGE_INTEGER position;
        ~Restore() {
            if (known) SetFilePointerEx(handle, position, nullptr, FILE_BEGIN);
        }
    } restore{HandleOf(fd), known, position};
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD got = 0;
    if (!ReadFile(HandleOf(fd), buffer, static_cast<DWORD>(std::min(count, kMaxPiece)), &got, &at)) {
        const DWORD error = GetLastError();
        if (error == ERROR_HANDLE_EOF) return 0;
        SetErrnoFrom(error);
        return -1;
    }
    return got;
}

int64_t SeekFile(int fd, int64_t offset, int whence) {
    DWORD method = FILE_BEGIN;
    if (whence == SEEK_CUR) method = FILE_CURRENT;
    else if (whence == SEEK_END) method = FILE_END;
    LARGE_INTEGER distance{}, position{};
    distance.QuadPart = offset;
    if (!SetFilePointerEx(HandleOf(fd), distance, &position, method)) {
        SetErrnoFromLast();
        return -1;
    }
    return position.QuadPart;
}

int64_t SizeOfFile(int fd) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(HandleOf(fd), &size)) return SetErrnoFromLast(), -1;
    return size.QuadPart;
}

bool FlushFile(int fd) {
    if (FlushFileBuffers(HandleOf(fd))) return true;
    SetErrnoFromLast();
    return false;
}

void FlushFolder(const std::string&) {
    // Nothing to do: the file services rename with MOVEFILE_WRITE_THROUGH, which returns only once the
    // rename is on the disk, and Windows flushes no folder handle.
}

std::optional<FileStatus> StatusOf(const std::string& path) {
    HANDLE handle = OpenForAttributes(path);
    if (handle == INVALID_HANDLE_VALUE) return SetErrnoFromLast(), std::nullopt;
    const FileStatus status = StatusFrom(handle);
    CloseHandle(handle);
    return status;
}

std::optional<FileStatus> StatusOfFile(int fd) {
    HANDLE handle = HandleOf(fd);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    return StatusFrom(handle);
}

bool LocalTime(std::time_t t, std::tm& out) { return localtime_s(&out, &t) == 0; }

std::string ErrorText(int error) { return std::strerror(error); }

}  // namespace archive::fs
