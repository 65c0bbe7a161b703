// Existence, attributes, times, renames and free space of files, on Windows.
//
// The attribute word is the system's own (read-only, hidden, system, folder, archive; 0x80 when none
// is set); no name is hidden for its leading dot. Times are the last-write time; setting one leaves the
// other times alone.
#include <cerrno>
#include <cstdio>
#include <vector>

#include "archive/fs/file_io.h"
#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"
#include "archive/fs/win32/system.h"

namespace archive::fs {

using namespace win32;

namespace {

// The bits a program may set; the folder bit is the item's type.
constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

DWORD SystemAttributes(const std::string& path) {
    if (path.empty()) return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesW(SystemPath(path).c_str());
}

bool SetTimeOf(HANDLE handle, uint32_t dosDateTime) {
    const std::time_t t = TimeFromDos(dosDateTime);
    if (t == static_cast<std::time_t>(-1)) return false;
    const FILETIME written = FileTimeFromTime(t);
    if (SetFileTime(handle, nullptr, nullptr, &written)) return true;
    SetErrnoFromLast();
    return false;
}

}  // namespace

bool Exists(const std::string& path) { return SystemAttributes(path) != INVALID_FILE_ATTRIBUTES; }

bool FileExists(const std::string& path) {
    const DWORD a = SystemAttributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
    const DWORD a = SystemAttributes(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::optional<uint32_t> GetAttributes(const std::string& path) {
    const DWORD a = SystemAttributes(path);
    if (a == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return EngineAttributes(a);
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    const DWORD a = SystemAttributes(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    DWORD wanted = attributes & kSettable;
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    if (SetFileAttributesW(SystemPath(path).c_str(), wanted)) return true;
    SetErrnoFromLast();
    return false;
}

bool SetAttributesOf(int fd, const std::string&, uint32_t attributes, int) {
    FILE_BASIC_INFO info{};
    HANDLE handle = HandleOf(fd);
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &info, sizeof info)) return SetErrnoFromLast(), false;
    DWORD wanted = attributes & kSettable;
    if (wanted == 0) wanted = FILE_ATTRIBUTE_NORMAL;
    FILE_BASIC_INFO change{};  // zero times: left as they are
    change.FileAttributes = wanted;
    if (SetFileInformationByHandle(handle, FileBasicInfo, &change, sizeof change)) return true;
    SetErrnoFromLast();
    return false;
}

std::optional<int64_t> GetFileSize(const std::string& path) {
    if (path.empty()) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::optional<std::time_t> GetFileTime(const std::string& path) {
    if (path.empty()) return std::nullopt;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(SystemPath(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    return TimeFromFileTime(data.ftLastWriteTime);
}

bool SetFileDosTime(const std::string& path, uint32_t dosDateTime) {
    if (path.empty()) return false;
    HANDLE handle = CreateFileW(SystemPath(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return SetErrnoFromLast(), false;
    const bool ok = SetTimeOf(handle, dosDateTime);
    CloseHandle(handle);
    return ok;
}

bool SetFileDosTimeOf(int fd, uint32_t dosDateTime) { return SetTimeOf(HandleOf(fd), dosDateTime); }

bool SetFileTimeOf(int fd, std::time_t time) {
    if (time == static_cast<std::time_t>(-1)) return false;
    const FILETIME written = FileTimeFromTime(time);
    if (SetFileTime(HandleOf(fd), nullptr, nullptr, &written)) return true;
    SetErrnoFromLast();
    return false;
}

// ---- files --------------------------------------------------------------------------------------------

bool DeleteFile(const std::string& path) {
    const DWORD a = SystemAttributes(path);
    if (a == INVALID_FILE_ATTRIBUTES || (a & FILE_ATTRIBUTE_DIRECTORY)) return false;
    return DeleteFileAnyway(SystemPath(path));
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    const std::wstring source = SystemPath(from), target = SystemPath(to);
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (MoveFileExW(source.c_str(), target.c_str(), kFlags)) return true;
    DWORD error = GetLastError();
    // A read-only target refuses to be replaced; on POSIX its mode never stands in the way.
    const DWORD a = GetFileAttributesW(target.c_str());
    if (error == ERROR_ACCESS_DENIED && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) &&
        !(a & FILE_ATTRIBUTE_DIRECTORY) && SetFileAttributesW(target.c_str(), a & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        if (MoveFileExW(source.c_str(), target.c_str(), kFlags)) return true;
        error = GetLastError();
        SetFileAttributesW(target.c_str(), a);
    }
    SetErrnoFrom(error);
    return false;
}

std::optional<uint64_t> FreeSpace(const std::string& path) {
    // A file about to be created is on the volume of the nearest folder above it that exists.
    std::string probe = path.empty() ? CurrentDirectory() : ExpandFileName(path);
    while (!DirectoryExists(probe)) {
        const std::string parent = ExcludeTrailingSeparator(ExtractFilePath(ExcludeTrailingSeparator(probe)));
        if (parent.empty() || parent == probe) break;
        probe = parent;
    }
    ULARGE_INTEGER available{};
    std::wstring folder = SystemPath(probe) + L"\\";
    if (!GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return available.QuadPart;
}

bool CopyFileTo(const std::string& source, int fd) {
    const int in = OpenFile(source, Access::Read);
    if (in < 0) return false;
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        const int64_t got = ReadSome(in, buffer.data(), static_cast<int64_t>(buffer.size()));
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (int64_t done = 0; ok && done < got;) {
            const int64_t put = WriteSome(fd, buffer.data() + done, got - done);
            if (put <= 0) ok = false;
            else done += put;
        }
        if (!ok) break;
    }
    const int error = errno;
    CloseFile(in);
    if (ok && !FlushFile(fd)) return false;
    errno = error;
    return ok;
}

bool SameContents(const std::string& a, const std::string& b) {
    const int fa = OpenFile(a, Access::Read);
    const int fb = OpenFile(b, Access::Read);
    bool same = fa >= 0 && fb >= 0;
    std::vector<char> x(1 << 16), y(1 << 16);
    while (same) {
        int64_t na = 0, nb = 0;
        // Whole pieces from both, so that a short read of one does not look like a difference.
        for (int64_t n; na < static_cast<int64_t>(x.size()) && (n = ReadSome(fa, x.data() + na, static_cast<int64_t>(x.size()) - na)) > 0;) na += n;
        for (int64_t n; nb < static_cast<int64_t>(y.size()) && (n = ReadSome(fb, y.data() + nb, static_cast<int64_t>(y.size()) - nb)) > 0;) nb += n;
        same = na == nb && std::equal(x.begin(), x.begin() + na, y.begin());
        if (na == 0) break;
    }
    CloseFile(fa);
    CloseFile(fb);
    return same;
}

}  // namespace archive::fs
