// Folders below an extraction's destination, made and entered without following symbolic links.
//
// An archive names the folders below the destination, so none of them may lead anywhere else. Each
// component is opened relative to the one before with O_NOFOLLOW: a real folder is entered, a missing one
// is made (mkdirat) and entered. A component that is a symbolic link is entered only when the place it
// leads to lies inside the destination; one that leads outside refuses the entry. The destination itself,
// and every link on the way to it, is the user's choice and is followed as it stands.
//
// Components match ignoring case, as Resolve() matches them, so "LINK" finds the link "link" and is
// judged as it. The walk keeps the names as the disk spells them, and hands the last folder back held
// open: the caller makes its files in that descriptor, so no path below the destination is resolved a
// second time, and a folder swapped for a link after the walk changes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <string>
#include <utility>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace {

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { if (fd_ >= 0) close(fd_); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    void Reset(int fd) {
        if (fd_ >= 0) close(fd_);
        fd_ = fd;
    }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string RealPath(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.empty() ? "." : path.c_str(), buffer) ? std::string(buffer) : std::string();
}

bool Inside(const std::string& real, const std::string& realRoot) {
    if (real.empty() || realRoot.empty()) return false;
    if (realRoot == "/") return true;
    return real == realRoot || (real.size() > realRoot.size() && real.compare(0, realRoot.size(), realRoot) == 0 &&
                                real[realRoot.size()] == kSeparator);
}

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

}  // namespace

struct HeldFolder::State {
    int fd = -1;
    std::string path;
    long nameMax = 0;  // 0: not asked yet
    std::pair<uint64_t, uint64_t> identity;
    bool identityKnown = false;
    ~State() {
        if (fd >= 0) close(fd);
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
    const std::string resolved = path.empty() ? std::string() : IncludeTrailingSeparator(Resolve(path));
    return Adopt(open(resolved.empty() ? "." : resolved.c_str(), kFolderFlags), resolved);
}

bool HeldFolder::Valid() const { return state_ && state_->fd >= 0; }

int HeldFolder::Fd() const { return state_ ? state_->fd : -1; }

const std::string& HeldFolder::Path() const {
    static const std::string none;
    return state_ ? state_->path : none;
}

long HeldFolder::NameMax() const {
    if (!Valid()) return NAME_MAX;
    if (state_->nameMax == 0) {
        const long asked = fpathconf(state_->fd, _PC_NAME_MAX);
        state_->nameMax = asked > 0 ? asked : NAME_MAX;
    }
    return state_->nameMax;
}

HeldFolder::Item HeldFolder::Find(const std::string& name) const {
    Item item;
    item.name = name;
    if (!Valid() || name.empty()) return item;
    struct stat st {};
    bool found = fstatat(state_->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (!found) {
        const std::string folded = detail::FindFoldedAt(state_->fd, state_->path, name);
        if (folded.empty()) return item;
        item.name = folded;
        found = fstatat(state_->fd, folded.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (!found) return item;
    }
    item.exists = true;
    // As the attribute word tells it: a link is what it leads to (itself when it leads nowhere).
    struct stat target {};
    if (S_ISLNK(st.st_mode) && fstatat(state_->fd, item.name.c_str(), &target, 0) == 0) st = target;
    item.folder = S_ISDIR(st.st_mode);
    item.readOnly = !(st.st_mode & S_IWUSR);
    return item;
}

bool HeldFolder::RemoveIfSame(const std::string& name, int fd) const {
    if (!Valid()) return false;
    struct stat byName {}, byFd {};
    if (fstatat(state_->fd, name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
    if (fstat(fd, &byFd) != 0) return false;
    if (byName.st_dev != byFd.st_dev || byName.st_ino != byFd.st_ino) return true;
    if (unlinkat(state_->fd, name.c_str(), 0) != 0) return false;
    detail::NoteFolderChange(state_->path + name, false);
    return true;
}

std::pair<uint64_t, uint64_t> HeldFolder::Identity() const {
    if (!Valid()) return {0, 0};
    if (!state_->identityKnown) {
        struct stat st {};
        if (fstat(state_->fd, &st) != 0) return {0, 0};
        state_->identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        state_->identityKnown = true;
    }
    return state_->identity;
}

BeneathResult FolderBeneath(const std::string& destination, const std::string& relative, bool create,
                            HeldFolder& folder) {
    std::string onDisk = destination.empty() ? std::string() : IncludeTrailingSeparator(Resolve(destination));
    folder = HeldFolder::Adopt(-1, onDisk);
    Fd dir(open(onDisk.empty() ? "." : onDisk.c_str(), kFolderFlags));
    if (dir.Get() < 0) {
        if (create) return BeneathResult::CannotCreate;
        if (!relative.empty()) onDisk += IncludeTrailingSeparator(relative);  // nothing below it can be a link yet
        folder = HeldFolder::Adopt(-1, onDisk);
        return BeneathResult::Ok;
    }
    std::string realRoot;  // found when a link needs judging

    const std::vector<std::string> components = PathComponents(relative);
    for (size_t k = 0; k < components.size(); ++k) {
        std::string name = components[k];
        if (name == "..") return BeneathResult::LeavesDestination;

        struct stat st {};
        if (fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const std::string folded = detail::FindFoldedAt(dir.Get(), onDisk, name);
            if (!folded.empty()) name = folded;
        }
        int next = openat(dir.Get(), name.c_str(), kFolderFlags | O_NOFOLLOW);
        if (next < 0 && errno == ENOENT) {
            if (!create) {  // nothing below a missing folder can be a link yet
                std::string rest = name;
                for (size_t r = k + 1; r < components.size(); ++r) rest += kSeparator + components[r];
                onDisk += IncludeTrailingSeparator(rest);
                folder = HeldFolder::Adopt(-1, onDisk);
                return BeneathResult::Ok;
            }
            if (mkdirat(dir.Get(), name.c_str(), 0777) == 0) detail::NoteFolderChange(onDisk + name, true);
            next = openat(dir.Get(), name.c_str(), kFolderFlags | O_NOFOLLOW);
        }
        if (next < 0 && (errno == ELOOP || errno == ENOTDIR) &&
            fstatat(dir.Get(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
            if (realRoot.empty()) realRoot = RealPath(destination);
            const std::string real = RealPath(onDisk + name);
            if (!Inside(real, realRoot)) return BeneathResult::LeavesDestination;
            next = openat(dir.Get(), name.c_str(), kFolderFlags);
            // The link may have been replaced since it was judged: what was opened must be what was judged.
            struct stat judged {}, opened {};
            if (next >= 0 && (stat(real.c_str(), &judged) != 0 || fstat(next, &opened) != 0 ||
                              judged.st_dev != opened.st_dev || judged.st_ino != opened.st_ino)) {
                close(next);
                return BeneathResult::LeavesDestination;
            }
        }
        if (next < 0) return BeneathResult::CannotCreate;
        dir.Reset(next);
        onDisk += name;
        onDisk += kSeparator;
    }
    folder = HeldFolder::Adopt(dir.Release(), onDisk);
    return BeneathResult::Ok;
}

}  // namespace archive::fs
