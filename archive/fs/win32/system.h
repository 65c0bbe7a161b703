// The pieces every Windows file service shares: text conversion, the system's form of a path, errors
// and descriptors. Only archive/fs/win32 includes it.
#pragma once

#include <windows.h>

// The file services have functions of these names; the system's wide-character ones are called by
// their own names.
#undef DeleteFile
#undef RemoveDirectory
#undef SetCurrentDirectory
#undef GetCurrentDirectory

#include <cstdint>
#include <ctime>
#include <string>

namespace archive::fs::win32 {

// UTF-8 (the engine's text) to the system's UTF-16 and back.
std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

// The path the wide-character calls take: absolute, backslashes, "\\?\" in front (so that no length
// limit and no reserved-name rule applies); "" is the current folder. No trailing backslash except on
// a drive's root.
std::wstring SystemPath(const std::string& path);
// The engine's form of a path the system gave: '/' separators, no "\\?\" in front.
std::string EnginePath(const std::wstring& path);

// errno for the last error (or `error`), and sets it.
int SetErrnoFrom(DWORD error);
inline int SetErrnoFromLast() { return SetErrnoFrom(GetLastError()); }

// A C runtime descriptor that owns `handle` (closed with it), or -1 (and the handle closed).
int DescriptorOf(HANDLE handle);
// The handle behind a descriptor (INVALID_HANDLE_VALUE when there is none).
HANDLE HandleOf(int fd);

// Sharing for every file the engine opens: others may read, write, rename and delete it meanwhile, as
// on POSIX.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens anything (a folder too) for its attributes only; INVALID_HANDLE_VALUE when it is not there.
HANDLE OpenForAttributes(const std::string& path, bool followLinks = true);

// Volume serial and file index: what tells two files apart.
bool IdentityOf(HANDLE handle, uint64_t& volume, uint64_t& index);

// FILETIME (100 ns since 1601, UTC) and POSIX seconds.
std::time_t TimeFromFileTime(const FILETIME& ft);
int64_t NanosecondsFromFileTime(const FILETIME& ft);
FILETIME FileTimeFromTime(std::time_t t);

// The attribute word the engine shows for the system's attribute bits.
uint32_t EngineAttributes(DWORD attributes);

// The final path of an open file or folder (links, junctions and mount points followed), in the engine's
// form; "" when the system cannot tell.
std::string FinalPathOf(HANDLE handle);
// Whether `path` is `root` or lies below it (names compared ignoring case, as the system does).
bool InsideFolder(const std::string& path, const std::string& root);

// Deletes a file; a read-only one loses that attribute first (on POSIX the file's mode never stands in
// the way of removing its name).
bool DeleteFileAnyway(const std::wstring& path);

}  // namespace archive::fs::win32
