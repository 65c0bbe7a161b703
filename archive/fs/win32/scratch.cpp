// Scratch files on Windows; see scratch.h.
//
// The lock is a byte-range lock (LockFileEx) of one byte far beyond any end of file, so that it stands
// in the way of no read or write of the file's contents, taken through the scratch file's own handle,
// which is never inherited. No mark is set: the names carry their check, and the sweep deletes only
// names whose check holds (the rule of a file system without user extended attributes). Deleting goes
// through the open handle (delete disposition), so it takes exactly the file that was judged.
#include "archive/fs/scratch.h"

#include <cerrno>
#include <utility>

#include "archive/fs/file_io.h"
#include "archive/fs/fs_detail.h"
#include "archive/fs/win32/system.h"

namespace archive::fs {

using namespace win32;

namespace {

constexpr DWORD kLockLow = 0xFFFFFFFEu;  // the byte at 2^63 - 2: no file reaches it
constexpr DWORD kLockHigh = 0x7FFFFFFFu;

bool Lock(HANDLE handle, bool wait) {
    OVERLAPPED at{};
    at.Offset = kLockLow;
    at.OffsetHigh = kLockHigh;
    const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
    return LockFileEx(handle, flags, 0, 1, 0, &at) != 0;
}

// Whether `path` still leads to the file open on `handle`.
bool StillNamed(const std::string& path, HANDLE handle) {
    HANDLE byName = OpenForAttributes(path, false);
    if (byName == INVALID_HANDLE_VALUE) return false;
    uint64_t v1 = 0, i1 = 0, v2 = 0, i2 = 0;
    const bool same = IdentityOf(byName, v1, i1) && IdentityOf(handle, v2, i2) && v1 == v2 && i1 == i2;
    CloseHandle(byName);
    return same;
}

// Deletes the file open on `handle` (opened with DELETE access); its name goes once the handle closes.
bool DeleteThrough(HANDLE handle) {
    FILE_DISPOSITION_INFO disposition{TRUE};  // its one member, which the system's headers rename
    if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) return true;
    // A read-only file refuses; its attribute goes first, as removing a name never asks the mode on POSIX.
    FILE_BASIC_INFO basic{};
    if (!GetFileInformationByHandleEx(handle, FileBasicInfo, &basic, sizeof basic) ||
        !(basic.FileAttributes & FILE_ATTRIBUTE_READONLY))
        return false;
    FILE_BASIC_INFO change{};
    change.FileAttributes = (basic.FileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) | FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(handle, FileBasicInfo, &change, sizeof change) &&
           SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// A new scratch file in `dir` ("" or ending with '/'), locked; its name in `name`, or -1. With
// `realFolder` (the final path of a held folder), the file must have been made in that very folder: a
// program that does not heed the held folder's sharing (a Unix process, under Wine) may have swapped a
// folder on the way for a link since, and a file made elsewhere is taken back (EXDEV).
int MakeIn(const std::string& dir, std::string& name, const std::string& realFolder = {}) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = detail::NewScratchName();
        const std::string path = dir + name;
        HANDLE handle = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kShareAll,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS) continue;
            SetErrnoFromLast();
            return -1;
        }
        // A sweeper that got there first holds the lock only while it decides; if it deleted the file,
        // the name no longer leads here and another is made.
        if (!Lock(handle, true) || !StillNamed(path, handle)) {
            CloseHandle(handle);
            continue;
        }
        if (!realFolder.empty() && ExtractFilePath(FinalPathOf(handle)) != IncludeTrailingSeparator(realFolder)) {
            DeleteThrough(handle);
            CloseHandle(handle);
            errno = EXDEV;
            return -1;
        }
        return DescriptorOf(handle);
    }
    errno = EEXIST;
    return -1;
}

}  // namespace

ScratchFile ScratchFile::Create(const std::string& folder) {
    const std::string dir = folder.empty() ? std::string() : IncludeTrailingSeparator(folder);
    std::string name;
    const int fd = MakeIn(dir, name);
    if (fd < 0) return {};
    ScratchFile file;
    file.path_ = dir + name;
    file.name_ = std::move(name);
    file.fd_ = fd;
    return file;
}

ScratchFile ScratchFile::CreateIn(const HeldFolder& folder) {
    if (!folder.Valid()) {
        errno = EBADF;
        return {};
    }
    std::string name;
    const std::string real = FinalPathOf(HandleOf(folder.Fd()));
    if (real.empty()) {
        errno = EBADF;
        return {};
    }
    const int fd = MakeIn(folder.Path(), name, real);
    if (fd < 0) return {};
    return Adopted(folder, std::move(name), fd, false);
}

// A run's files are ordinary scratch files here, each locked on its own: the anchor of a run saves the
// mark's changes, which Windows does not have.
struct ScratchFile::Anchor {};
struct ScratchRun::Anchors {};

ScratchRun::ScratchRun() = default;
ScratchRun::~ScratchRun() = default;

ScratchFile ScratchFile::CreateIn(const HeldFolder& folder, ScratchRun&) { return CreateIn(folder); }

ScratchFile ScratchFile::Keep(const HeldFolder& folder, const std::string& name) {
    if (!folder.Valid()) {
        errno = EBADF;
        return {};
    }
    const std::wstring existing = SystemPath(folder.Path() + name);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string second = detail::NewScratchName();
        const std::wstring link = SystemPath(folder.Path() + second);
        if (!CreateHardLinkW(link.c_str(), existing.c_str(), nullptr)) {
            if (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS) continue;
            SetErrnoFromLast();
            return {};
        }
        HANDLE handle = CreateFileW(link.c_str(), GENERIC_READ | DELETE, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            const int error = SetErrnoFromLast();
            DeleteFileAnyway(link);
            errno = error;
            return {};
        }
        // The lock is the file's own: held by another, the second name goes without.
        Lock(handle, false);
        const int fd = DescriptorOf(handle);
        if (fd < 0) return {};
        return Adopted(folder, std::move(second), fd, false);
    }
    errno = EEXIST;
    return {};
}

bool ScratchFile::PutInPlace(const std::string& target) {
    if (fd_ < 0 || placed_ || !folder_.Valid()) {
        errno = EINVAL;
        return false;
    }
    if (!RenameFile(path_, folder_.Path() + target)) return false;
    name_ = target;
    path_ = folder_.Path() + target;
    placed_ = true;
    return true;
}

bool ScratchFile::Withdraw() noexcept {
    if (fd_ < 0 || !placed_) return false;
    const bool gone = folder_.RemoveIfSame(name_, fd_);
    CloseFile(fd_);
    fd_ = -1;
    return gone;
}

void ScratchFile::Release() noexcept {
    CloseFile(fd_);
    fd_ = -1;
    marked_ = false;
    folder_ = {};
    path_.clear();
    name_.clear();
}

void ScratchFile::Discard() noexcept {
    if (fd_ < 0) return;
    // Only while the name still leads to our file: a rename we did not notice must not cost another file
    // (Wine deletes through the name the file was opened by, not through the handle).
    if (!placed_ && StillNamed(path_, HandleOf(fd_))) DeleteThrough(HandleOf(fd_));
    CloseFile(fd_);
    fd_ = -1;
    marked_ = false;
    placed_ = false;
    folder_ = {};
    path_.clear();
    name_.clear();
}

int RemoveStaleScratchFiles(const std::string& folder) {
    if (folder.empty()) return 0;
    const std::string dir = IncludeTrailingSeparator(folder);
    std::vector<DirEntry> entries;
    if (!ListDirectory(folder, entries)) return 0;
    int removed = 0;
    for (const DirEntry& entry : entries) {
        if (entry.attributes & faDirectory) continue;
        if (!IsScratchName(entry.name) || !detail::HasOwnScratchCheck(entry.name)) continue;
        const std::string path = dir + entry.name;
        HANDLE handle = CreateFileW(SystemPath(path).c_str(), GENERIC_READ | DELETE, kShareAll, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle == INVALID_HANDLE_VALUE) continue;
        // Not waiting: a lock held means a live maker, whose file stays.
        if (GetFileType(handle) == FILE_TYPE_DISK && Lock(handle, false) && StillNamed(path, handle) &&
            DeleteThrough(handle))
            ++removed;
        CloseHandle(handle);
    }
    return removed;
}

}  // namespace archive::fs
