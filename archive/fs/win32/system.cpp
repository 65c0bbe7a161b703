// The shared pieces of the Windows file services; see system.h.
#include "archive/fs/win32/system.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cwctype>
#include <vector>

namespace archive::fs::win32 {

namespace {

constexpr int64_t kEpochDifference = 116444736000000000LL;  // 1601-01-01 to 1970-01-01 in 100 ns

int64_t Ticks(const FILETIME& ft) {
    return static_cast<int64_t>((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
}

}  // namespace

std::wstring Widen(const std::string& text) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
    return out;
}

std::string Narrow(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                      nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring SystemPath(const std::string& path) {
    std::wstring w = Widen(path.empty() ? std::string(".") : path);
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    if (w.rfind(L"\\\\?\\", 0) == 0) return w;
    DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    std::wstring full;
    if (n > 0) {
        std::vector<wchar_t> buffer(n + 1);
        n = GetFullPathNameW(w.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
        full.assign(buffer.data(), n);
    } else {
        full = w;
    }
    // "C:\" keeps its backslash; "C:\a\" loses it.
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string EnginePath(const std::wstring& path) {
    std::wstring w = path;
    if (w.rfind(L"\\\\?\\UNC\\", 0) == 0)
        w = L"\\\\" + w.substr(8);
    else if (w.rfind(L"\\\\?\\", 0) == 0)
        w = w.substr(4);
    for (wchar_t& c : w)
        if (c == L'\\') c = L'/';
    return Narrow(w);
}

int SetErrnoFrom(DWORD error) {
    int e = EIO;
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME: e = ENOENT; break;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT: e = EACCES; break;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS: e = EEXIST; break;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL: e = ENOSPC; break;
        case ERROR_DIRECTORY: e = ENOTDIR; break;
        case ERROR_DIR_NOT_EMPTY: e = ENOTEMPTY; break;
        case ERROR_NOT_SAME_DEVICE: e = EXDEV; break;
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
        case ERROR_BAD_PATHNAME: e = EINVAL; break;
        case ERROR_FILENAME_EXCED_RANGE: e = ENAMETOOLONG; break;
        case ERROR_INVALID_HANDLE: e = EBADF; break;
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY: e = ENOMEM; break;
        case ERROR_TOO_MANY_OPEN_FILES: e = EMFILE; break;
        case ERROR_NOT_SUPPORTED:
        case ERROR_INVALID_FUNCTION: e = ENOTSUP; break;
        default: break;
    }
    errno = e;
    return e;
}

int DescriptorOf(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return -1;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        CloseHandle(handle);
        errno = EMFILE;
    }
    return fd;
}

HANDLE HandleOf(int fd) {
    if (fd < 0) return INVALID_HANDLE_VALUE;
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd));
}

HANDLE OpenForAttributes(const std::string& path, bool followLinks) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileW(SystemPath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING, flags,
                       nullptr);
}

bool IdentityOf(HANDLE handle, uint64_t& volume, uint64_t& index) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) return false;
    volume = info.dwVolumeSerialNumber;
    index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

std::time_t TimeFromFileTime(const FILETIME& ft) {
    const int64_t ticks = Ticks(ft) - kEpochDifference;
    // Rounded down, also before 1970.
    return static_cast<std::time_t>(ticks >= 0 ? ticks / 10000000 : -((-ticks + 9999999) / 10000000));
}

int64_t NanosecondsFromFileTime(const FILETIME& ft) { return (Ticks(ft) - kEpochDifference) * 100; }

FILETIME FileTimeFromTime(std::time_t t) {
    const uint64_t ticks = static_cast<uint64_t>(static_cast<int64_t>(t) * 10000000 + kEpochDifference);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return ft;
}

uint32_t EngineAttributes(DWORD attributes) {
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_ARCHIVE;
    const uint32_t word = attributes & kKept;
    return word == 0 ? FILE_ATTRIBUTE_NORMAL : word;
}

std::string FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(1024);
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < buffer.size()) return EnginePath(std::wstring(buffer.data(), n));
        buffer.resize(n + 1);
    }
}

bool InsideFolder(const std::string& path, const std::string& root) {
    if (path.empty() || root.empty()) return false;
    const std::wstring p = Widen(path), r = Widen(root.back() == '/' && root.size() > 3 ? root.substr(0, root.size() - 1) : root);
    if (p.size() < r.size()) return false;
    if (CompareStringOrdinal(p.data(), static_cast<int>(r.size()), r.data(), static_cast<int>(r.size()), TRUE) !=
        CSTR_EQUAL)
        return false;
    return p.size() == r.size() || r.back() == L'/' || p[r.size()] == L'/';
}

bool DeleteFileAnyway(const std::wstring& path) {
    if (DeleteFileW(path.c_str())) return true;
    const DWORD error = GetLastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
        SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY})) {
        if (DeleteFileW(path.c_str())) return true;
        const DWORD again = GetLastError();
        SetFileAttributesW(path.c_str(), attributes);
        SetErrnoFrom(again);
        return false;
    }
    SetErrnoFrom(error);
    return false;
}

}  // namespace archive::fs::win32
