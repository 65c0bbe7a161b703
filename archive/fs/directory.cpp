// Folders: listing with attributes, creating a folder with its parents, removing an empty folder.
//
// Listing delivers items in the order readdir() gives them: callers that need an order sort
// themselves, and the engine's folder walk is specified as unsorted. Each item is stat()ed through the
// listed folder's descriptor (a dangling symbolic link is reported as itself rather than dropped), so a
// listing costs one open folder plus one stat and one getxattr per item.
//
// ForceDirectories walks the resolved path from the top and tries every missing level; a level that
// cannot be made (no permission, a file in the way) is passed over without an error, and the answer
// is simply whether the folder exists at the end.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

bool ListDirectory(const std::string& path, std::vector<DirEntry>& out) {
    out.clear();
    const std::string resolved = path.empty() ? std::string(".") : Resolve(path);
    DIR* dir = opendir(resolved.c_str());
    if (!dir) return false;
    const std::string prefix = IncludeTrailingSeparator(resolved);
    const int fd = dirfd(dir);
    while (const dirent* e = readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (fstatat(fd, name.c_str(), &st, 0) != 0 && fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;  // vanished between readdir and stat
        DirEntry item;
        item.name = name;
        item.attributes = detail::AttributesOf(prefix + name, st);
        item.size = S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
        item.dosTime = DosFromTime(st.st_mtime);
        out.push_back(std::move(item));
    }
    closedir(dir);
    return true;
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    const std::string resolved = Resolve(path);
    if (DirectoryExists(resolved)) return true;

    // Try each level from the top: "/a", "/a/b", ... (or "a", "a/b", ... for a relative path).
    size_t pos = resolved.front() == kSeparator ? 1 : 0;
    while (pos <= resolved.size()) {
        size_t end = resolved.find(kSeparator, pos);
        if (end == std::string::npos) end = resolved.size();
        if (end > pos) {
            const std::string level = resolved.substr(0, end);
            struct stat st {};
            if (stat(level.c_str(), &st) != 0 && mkdir(level.c_str(), 0777) == 0) detail::NoteFolderChange(level, true);
        }
        pos = end + 1;
    }
    struct stat st {};
    return stat(resolved.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool RemoveDirectory(const std::string& path) {
    if (path.empty()) return false;
    const std::string resolved = Resolve(path);
    if (rmdir(resolved.c_str()) != 0) return false;
    detail::NoteFolderChange(resolved, false);
    return true;
}

}  // namespace archive::fs
