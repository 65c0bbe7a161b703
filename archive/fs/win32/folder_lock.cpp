// Folder locks on Windows; see folder_lock.h.
//
// A folder takes no byte-range lock, so the lock is the sharing of a handle of the folder: every holder
// opens it with the right to add sub-folders (a right no other program asks for when it opens a folder
// to list it, and one that adding files does not need). A shared holder lets others have that right
// too; an exclusive one does not. The system lets the handle go when its holder ends, however it ends,
// and it is never inherited.
#include "archive/fs/folder_lock.h"

#include <utility>

#include "archive/fs/file_io.h"
#include "archive/fs/fs.h"
#include "archive/fs/win32/system.h"

namespace archive::fs {

using namespace win32;

FolderLock::FolderLock(FolderLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FolderLock& FolderLock::operator=(FolderLock&& other) noexcept {
    if (this != &other) {
        Unlock();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

FolderLock::~FolderLock() { Unlock(); }

void FolderLock::Unlock() noexcept {
    CloseFile(fd_);  // closing the only handle lets the lock go
    fd_ = -1;
}

FolderLock FolderLock::Try(const std::string& folder, bool exclusive, Result& result) {
    FolderLock lock;
    const std::wstring path = SystemPath(folder);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        result = Result::NoFolder;
        return lock;
    }
    const DWORD share = exclusive ? FILE_SHARE_READ | FILE_SHARE_DELETE : kShareAll;
    HANDLE handle = CreateFileW(path.c_str(), FILE_ADD_SUBDIRECTORY | SYNCHRONIZE, share, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        result = error == ERROR_SHARING_VIOLATION ? Result::Busy
                 : error == ERROR_ACCESS_DENIED   ? Result::Unsupported
                                                  : Result::NoFolder;
        return lock;
    }
    lock.fd_ = DescriptorOf(handle);
    result = lock.fd_ >= 0 ? Result::Held : Result::Unsupported;
    return lock;
}

bool SameFolder(const std::string& a, const std::string& b) {
    const auto sa = StatusOf(a), sb = StatusOf(b);
    return sa && sb && sa->folder && sb->folder && SameFile(*sa, *sb);
}

}  // namespace archive::fs
