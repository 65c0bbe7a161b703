// Folders held open, and the folders below an extraction's destination, on Windows.
//
// A folder is held through a handle that shares reading and writing but not deletion: while it is
// held, no process can rename or remove it, so a folder cannot be swapped for a junction or a link
// under the engine's feet. The walk below a destination holds every folder it entered, and names in the
// held folder are reached by path through that chain.
//
// Links of every kind (symbolic links, junctions, mount points, and the Unix links a Wine prefix shows
// as plain folders) are judged by where they end: after each component is opened, the system's final
// path of what was opened must lie inside the destination's, else the entry leaves the destination.
#include <cerrno>
#include <string>
#include <utility>
#include <vector>

#include "archive/fs/file_io.h"
#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"
#include "archive/fs/win32/system.h"

namespace archive::fs {

using namespace win32;

namespace {

// Listing, attributes and change; others may read and write the folder, not rename or remove it.
HANDLE OpenFolderHandle(const std::string& path) {
    return CreateFileW(SystemPath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                       nullptr);
}

// The name as the disk spells it, with its attributes; false when there is nothing of that name.
bool Lookup(const std::string& path, std::string& spelled, DWORD& attributes) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(SystemPath(path).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    spelled = Narrow(found.cFileName);
    attributes = found.dwFileAttributes;
    return true;
}

}  // namespace

struct HeldFolder::State {
    int fd = -1;
    std::string path;
    std::vector<HANDLE> above;  // the folders walked through to reach this one, held as long as it is
    std::pair<uint64_t, uint64_t> identity;
    bool identityKnown = false;
    ~State() {
        CloseFile(fd);
        for (HANDLE h : above) CloseHandle(h);
    }
};

HeldFolder HeldFolder::Adopt(int fd, std::string path) {
    HeldFolder folder;
    folder.state_ = std::make_shared<State>();
    folder.state_->fd = fd;
    folder.state_->path = std::move(path);
    return folder;
}

HeldFolder HeldFolder::Open(const std::string& path) {
    const std::string folder = path.empty() ? std::string() : IncludeTrailingSeparator(path);
    return Adopt(DescriptorOf(OpenFolderHandle(folder)), folder);
}

bool HeldFolder::Valid() const { return state_ && state_->fd >= 0; }

int HeldFolder::Fd() const { return state_ ? state_->fd : -1; }

const std::string& HeldFolder::Path() const {
    static const std::string none;
    return state_ ? state_->path : none;
}

long HeldFolder::NameMax() const { return 255; }

HeldFolder::Item HeldFolder::Find(const std::string& name) const {
    Item item;
    item.name = name;
    if (!Valid() || name.empty()) return item;
    DWORD attributes = 0;
    if (!Lookup(state_->path + name, item.name, attributes)) {
        item.name = name;
        return item;
    }
    item.exists = true;
    item.folder = attributes & FILE_ATTRIBUTE_DIRECTORY;
    item.readOnly = attributes & FILE_ATTRIBUTE_READONLY;
    return item;
}

bool HeldFolder::RemoveIfSame(const std::string& name, int fd) const {
    if (!Valid()) return false;
    HANDLE byName = OpenForAttributes(state_->path + name, false);
    if (byName == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    uint64_t v1 = 0, i1 = 0, v2 = 0, i2 = 0;
    const bool known = IdentityOf(byName, v1, i1) && IdentityOf(HandleOf(fd), v2, i2);
    CloseHandle(byName);
    if (!known) return false;
    if (v1 != v2 || i1 != i2) return true;
    return DeleteFileAnyway(SystemPath(state_->path + name));
}

std::pair<uint64_t, uint64_t> HeldFolder::Identity() const {
    if (!Valid()) return {0, 0};
    if (!state_->identityKnown) {
        uint64_t volume = 0, index = 0;
        if (!IdentityOf(HandleOf(state_->fd), volume, index)) return {0, 0};
        state_->identity = {volume, index};
        state_->identityKnown = true;
    }
    return state_->identity;
}

BeneathResult FolderBeneath(const std::string& destination, const std::string& relative, bool create,
                            HeldFolder& folder) {
    std::string onDisk = destination.empty() ? std::string() : IncludeTrailingSeparator(destination);
    folder = HeldFolder::Adopt(-1, onDisk);
    HANDLE root = OpenFolderHandle(onDisk);
    if (root == INVALID_HANDLE_VALUE) {
        if (create) return BeneathResult::CannotCreate;
        if (!relative.empty()) onDisk += IncludeTrailingSeparator(relative);  // nothing below it can be a link yet
        folder = HeldFolder::Adopt(-1, onDisk);
        return BeneathResult::Ok;
    }
    std::vector<HANDLE> chain{root};
    auto release = [&chain] {
        for (HANDLE h : chain) CloseHandle(h);
        chain.clear();
    };
    const std::string realRoot = FinalPathOf(root);
    if (realRoot.empty()) {
        release();
        return BeneathResult::CannotCreate;
    }

    const std::vector<std::string> components = PathComponents(relative);
    for (size_t k = 0; k < components.size(); ++k) {
        std::string name = components[k];
        if (name == "..") {
            release();
            return BeneathResult::LeavesDestination;
        }
        DWORD attributes = 0;
        std::string spelled;
        if (Lookup(onDisk + name, spelled, attributes)) {
            name = spelled;
        } else {
            if (!create) {  // nothing below a missing folder can be a link yet
                std::string rest = name;
                for (size_t r = k + 1; r < components.size(); ++r) rest += kSeparator + components[r];
                onDisk += IncludeTrailingSeparator(rest);
                release();
                folder = HeldFolder::Adopt(-1, onDisk);
                return BeneathResult::Ok;
            }
            CreateDirectoryW(SystemPath(onDisk + name).c_str(), nullptr);
        }
        HANDLE next = OpenFolderHandle(onDisk + name);
        if (next == INVALID_HANDLE_VALUE) {
            release();
            return BeneathResult::CannotCreate;
        }
        // What was opened, wherever a link or junction on the way led: it is held now, so it stays
        // where it was judged.
        if (!InsideFolder(FinalPathOf(next), realRoot)) {
            CloseHandle(next);
            release();
            return BeneathResult::LeavesDestination;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(next, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            CloseHandle(next);
            release();
            return BeneathResult::CannotCreate;
        }
        chain.push_back(next);
        onDisk += name;
        onDisk += kSeparator;
    }
    HANDLE last = chain.back();
    chain.pop_back();
    folder = HeldFolder::Adopt(DescriptorOf(last), onDisk);
    folder.state_->above = std::move(chain);
    return BeneathResult::Ok;
}

bool SyncFolder(const HeldFolder& folder) {
    // Renames are made with MOVEFILE_WRITE_THROUGH: they are on the disk when they return.
    return folder.Valid();
}

}  // namespace archive::fs
