// Paths, the well-known folders and folder listings, on Windows.
//
// The engine's paths use '/' on Windows too ("C:/Users/x/ZORVEL_Log/db"); the system's calls get them
// through SystemPath(). The file system itself ignores case, so Resolve() takes a path as written.
#include "archive/fs/win32/system.h"

#include <shlobj.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"
#include "archive/fs/win32/system.h"

namespace archive::fs {

using namespace win32;

namespace detail {

size_t RootLength(const std::string& path) {
    auto separator = [](char c) { return c == '/' || c == '\\'; };
    if (path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':')
        return path.size() >= 3 && separator(path[2]) ? 3 : 2;
    if (path.size() >= 2 && separator(path[0]) && separator(path[1])) {
        // "//server/share/": two components after the doubled separator.
        size_t pos = 2;
        for (int part = 0; part < 2 && pos <= path.size(); ++part) {
            while (pos < path.size() && !separator(path[pos])) ++pos;
            if (pos < path.size()) ++pos;
        }
        return pos;
    }
    return !path.empty() && separator(path[0]) ? 1 : 0;
}

}  // namespace detail

// ---- resolution ---------------------------------------------------------------------------------------

std::string Resolve(const std::string& path) { return path; }

struct FolderListingCache::Listings {};

FolderListingCache::FolderListingCache() = default;
FolderListingCache::~FolderListingCache() = default;

// ---- well-known folders -------------------------------------------------------------------------------

std::string CurrentDirectory() {
    const DWORD n = GetCurrentDirectoryW(0, nullptr);
    if (n == 0) return {};
    std::vector<wchar_t> buffer(n + 1);
    const DWORD got = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    return ExcludeTrailingSeparator(EnginePath(std::wstring(buffer.data(), got)));
}

bool SetCurrentDirectory(const std::string& path) {
    if (path.empty()) return false;
    // The current folder takes no "\\?\" form.
    std::wstring w = Widen(path);
    for (wchar_t& c : w)
        if (c == L'/') c = L'\\';
    return SetCurrentDirectoryW(w.c_str()) != 0;
}

std::string HomeDirectory() {
    wchar_t* known = nullptr;
    std::string home;
    if (SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &known) == S_OK && known) home = EnginePath(known);
    CoTaskMemFree(known);
    if (home.empty())
        if (const wchar_t* profile = _wgetenv(L"USERPROFILE"); profile && *profile) home = EnginePath(profile);
    if (home.empty()) home = "C:/";
    return home.size() > 3 ? ExcludeTrailingSeparator(home) : home;
}

std::string TempDirectory() {
    wchar_t buffer[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, buffer);
    if (n == 0 || n > MAX_PATH + 1) return "C:/";
    return IncludeTrailingSeparator(EnginePath(std::wstring(buffer, n)));
}

// ---- folders ------------------------------------------------------------------------------------------

bool ListDirectory(const std::string& path, std::vector<DirEntry>& out) {
    out.clear();
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW((SystemPath(path) + L"\\*").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty root
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DirEntry item;
        item.name = Narrow(name);
        item.attributes = EngineAttributes(found.dwFileAttributes);
        const bool folder = found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        item.size = folder ? 0 : static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
        item.dosTime = DosFromTime(TimeFromFileTime(found.ftLastWriteTime));
        out.push_back(std::move(item));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return true;
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    // Each level from the top: "C:/a", "C:/a/b", ...
    size_t pos = detail::RootLength(path);
    while (pos <= path.size()) {
        size_t end = path.find_first_of("/\\", pos);
        if (end == std::string::npos) end = path.size();
        if (end > pos) CreateDirectoryW(SystemPath(path.substr(0, end)).c_str(), nullptr);
        pos = end + 1;
    }
    return DirectoryExists(path);
}

bool RemoveDirectory(const std::string& path) {
    if (path.empty()) return false;
    if (RemoveDirectoryW(SystemPath(path).c_str())) return true;
    SetErrnoFromLast();
    return false;
}

}  // namespace archive::fs
