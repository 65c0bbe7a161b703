// Case-insensitive path resolution.
//
// The logger and its files come from a file system where DB, db and Db are one folder; on Linux they are
// three names. Resolve() maps a path the program formed onto what is on disk:
//   - the whole path is tried first with one lstat(): a path that exists exactly as written (by far the
//     common case, since most paths come from listings) costs nothing more;
//   - otherwise the path is walked one component at a time. A component that exists as written is
//     taken; else its folder is listed and the entry equal to it ignoring A-Z case is taken (with
//     several such entries the smallest in byte order, so the answer does not depend on listing order);
//   - once a component exists in no case, it and everything after it are kept as written: the path
//     names something about to be created.
// "." and ".." components are kept as written and never matched against entries; since each folder is
// listed through the path built so far, the kernel interprets them exactly as it would in the final
// path (including ".." after a symbolic link). Empty components (doubled separators) are dropped, a
// trailing separator is kept. Only ASCII letters fold: other bytes, UTF-8 included, must match exactly.
#include <dirent.h>
#include <sys/stat.h>

#include <string>
#include <string_view>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace detail {

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
        if (x != y) return false;
    }
    return true;
}

}  // namespace detail

namespace {

bool EntryExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The entry of `folder` equal to `name` ignoring case; the smallest in byte order when several are.
// Empty when there is none or the folder cannot be listed.
std::string FindFolded(const std::string& folder, const std::string& name) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return {};
    std::string best;
    while (const dirent* e = readdir(dir)) {
        const std::string_view candidate(e->d_name);
        if (candidate == "." || candidate == "..") continue;
        if (!detail::EqualIgnoringAsciiCase(candidate, name)) continue;
        if (best.empty() || candidate < best) best.assign(candidate);
    }
    closedir(dir);
    return best;
}

}  // namespace

std::string Resolve(const std::string& path) {
    if (path.empty() || EntryExists(path)) return path;

    const bool absolute = path.front() == kSeparator;
    const bool trailing = path.size() > 1 && path.back() == kSeparator;

    // `result` is the path resolved so far; it always ends with a separator or is empty (relative start).
    std::string result = absolute ? std::string(1, kSeparator) : std::string();
    bool missing = false;  // a component was found in no case: copy the rest verbatim
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find(kSeparator, pos);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;

        std::string chosen = component;
        if (!missing && component != "." && component != "..") {
            if (!EntryExists(result + component)) {
                const std::string folded = FindFolded(result, component);
                if (folded.empty())
                    missing = true;
                else
                    chosen = folded;
            }
        }
        result += chosen;
        result += kSeparator;
    }

    // Drop the separator the loop appended after the last component, unless the caller wrote one.
    if (!trailing && result.size() > 1 && result.back() == kSeparator) result.pop_back();
    return result;
}

}  // namespace archive::fs
