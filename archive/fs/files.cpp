// Files: delete, rename over a target, free space.
//
// Renaming resolves both names, so replacing "x.zip" replaces the "X.ZIP" that is there rather than
// putting a second file beside it that a Windows program could not tell apart. The one exception is a rename
// that only changes the case of a name: the target then resolves to the source itself and the name is
// taken as written.
//
// Temporary files are scratch files (scratch.h).
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

bool DeleteFile(const std::string& path) {
    if (path.empty()) return false;
    const std::string resolved = Resolve(path);
    struct stat st {};
    // A folder is not a file: unlink() refuses it anyway, but say so without trying.
    if (lstat(resolved.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return false;
    if (unlink(resolved.c_str()) != 0) return false;
    detail::NoteFolderChange(resolved, false);
    return true;
}

bool RenameFile(const std::string& from, const std::string& to) {
    if (from.empty() || to.empty()) return false;
    const std::string source = Resolve(from);
    std::string target = Resolve(to);

    struct stat a {}, b {};
    if (target != to && lstat(source.c_str(), &a) == 0 && lstat(target.c_str(), &b) == 0 &&
        a.st_dev == b.st_dev && a.st_ino == b.st_ino) {
        // Only the case changes: keep the resolved folder and take the new name as written.
        target = ExtractFilePath(target) + ExtractFileName(to);
    }
    if (std::rename(source.c_str(), target.c_str()) != 0) return false;
    detail::NoteFolderChange(source, false);
    detail::NoteFolderChange(target, true);
    return true;
}

std::optional<uint64_t> FreeSpace(const std::string& path) {
    // A file about to be created is on the file system of the nearest folder above it that exists.
    std::string probe = path.empty() ? std::string(".") : ExcludeTrailingSeparator(Resolve(path));
    struct stat st {};
    while (stat(probe.c_str(), &st) != 0) {
        const std::string parent = ExcludeTrailingSeparator(ExtractFilePath(probe));
        if (parent.empty()) {
            probe = probe.front() == kSeparator ? "/" : ".";
            break;
        }
        if (parent == probe) break;
        probe = parent;
    }
    struct statvfs vfs {};
    if (statvfs(probe.c_str(), &vfs) != 0) return std::nullopt;
    return static_cast<uint64_t>(vfs.f_bavail) * static_cast<uint64_t>(vfs.f_frsize);
}

}  // namespace archive::fs
