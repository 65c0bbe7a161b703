// Files: delete, rename over a target, free space.
//
// Renaming resolves both names, so replacing "x.zip" replaces the "X.ZIP" that is there rather than
// putting a second file beside it that a Windows program could not tell apart. The one exception is a rename
// that only changes the case of a name: the target then resolves to the source itself and the name is
// taken as written.
//
// Temporary files are scratch files (scratch.h).
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
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

bool CopyFileTo(const std::string& source, int fd) {
    const int in = ::open(Resolve(source).c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    std::vector<char> buffer(1 << 20);
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(fd, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) ok = false;
            else done += put;
        }
        if (!ok) break;
    }
    const int error = errno;
    ::close(in);
    if (ok && ::fsync(fd) != 0) return false;
    errno = error;
    return ok;
}

bool SameContents(const std::string& a, const std::string& b) {
    std::FILE* fa = std::fopen(Resolve(a).c_str(), "rb");
    std::FILE* fb = std::fopen(Resolve(b).c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> x(1 << 16), y(1 << 16);
    while (same) {
        const size_t na = std::fread(x.data(), 1, x.size(), fa);
        const size_t nb = std::fread(y.data(), 1, y.size(), fb);
        same = na == nb && std::equal(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(na), y.begin());
        if (na == 0) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

bool SyncFolder(const HeldFolder& folder) { return folder.Valid() && ::fsync(folder.Fd()) == 0; }

}  // namespace archive::fs
