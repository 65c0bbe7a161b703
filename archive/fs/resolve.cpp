// Case-insensitive path resolution.
//
// Windows programs and their files come from a file system where DB, db and Db are one folder; on Linux they are
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
//
// Listing a folder for every name that is not there yet makes extracting N new files into one folder
// cost N listings of a growing folder. While a FolderListingCache lives on a thread, each folder is
// listed once and later lookups in it are answered from memory; the creations, renames and removals
// made through these file services on that thread keep the remembered listings true. Changes made by
// other programs meanwhile are not seen: one extraction is the lifetime of a cache.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "archive/ascii_fold.h"
#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace detail {

bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b) { return EqualIgnoringCase(a, b); }

}  // namespace detail

namespace {

bool EntryExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}


// A folder's entries by folded name; each folded name keeps every spelling present (the smallest in
// byte order answers, so the answer does not depend on listing order).
using Listing = std::unordered_map<std::string, std::set<std::string>>;

// The folder key of a path: its components without empty ones, "/"-led when absolute, ending with "/"
// (empty for the current folder) — the form Resolve() builds its prefixes in.
std::string FolderKey(std::string_view folder) {
    std::string key = !folder.empty() && folder.front() == kSeparator ? std::string(1, kSeparator) : std::string();
    size_t pos = 0;
    while (pos < folder.size()) {
        size_t end = folder.find(kSeparator, pos);
        if (end == std::string_view::npos) end = folder.size();
        if (end > pos) {
            key.append(folder.substr(pos, end - pos));
            key += kSeparator;
        }
        pos = end + 1;
    }
    return key;
}

}  // namespace

struct FolderListingCache::Listings {
    std::unordered_map<std::string, Listing> folders;
    Listings* outer = nullptr;
};

namespace {

thread_local FolderListingCache::Listings* activeListings = nullptr;

// Opens a folder for listing: through the held descriptor `at` when there is one (the folder itself,
// wherever its path leads by now), else by its path.
DIR* OpenListing(int at, const std::string& folder) {
    if (at < 0) return opendir(folder.empty() ? "." : folder.c_str());
    const int fd = openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (!dir) close(fd);
    return dir;
}

bool ListFolder(int at, const std::string& folder, Listing& listing) {
    DIR* dir = OpenListing(at, folder);
    if (!dir) return false;
    while (const dirent* e = readdir(dir)) {
        const std::string_view candidate(e->d_name);
        if (candidate == "." || candidate == "..") continue;
        listing[FoldedAscii(candidate)].emplace(candidate);
    }
    closedir(dir);
    return true;
}

std::string Folded(int at, const std::string& folder, const std::string& name) {
    if (!activeListings) {
        DIR* dir = OpenListing(at, folder);
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
    const std::string key = FolderKey(folder);
    auto it = activeListings->folders.find(key);
    if (it == activeListings->folders.end()) {
        Listing read;
        if (!ListFolder(at, folder, read)) return {};
        it = activeListings->folders.emplace(key, std::move(read)).first;
    }
    const auto found = it->second.find(FoldedAscii(name));
    return found == it->second.end() || found->second.empty() ? std::string() : *found->second.begin();
}

}  // namespace

namespace detail {

std::string FindFolded(const std::string& folder, const std::string& name) { return Folded(-1, folder, name); }

std::string FindFoldedAt(int folderFd, const std::string& folder, const std::string& name) {
    return Folded(folderFd, folder, name);
}

}  // namespace detail

FolderListingCache::FolderListingCache() : listings_(std::make_unique<Listings>()) {
    listings_->outer = activeListings;
    activeListings = listings_.get();
}

FolderListingCache::~FolderListingCache() { activeListings = listings_->outer; }

namespace detail {

void NoteFolderChange(const std::string& path, bool added) {
    for (FolderListingCache::Listings* l = activeListings; l; l = l->outer) {
        const std::string trimmed = ExcludeTrailingSeparator(path);
        const size_t slash = trimmed.rfind(kSeparator);
        const std::string folder = FolderKey(slash == std::string::npos ? std::string_view() :
                                             std::string_view(trimmed).substr(0, slash + 1));
        const std::string name = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
        auto it = l->folders.find(folder);
        if (it == l->folders.end() || name.empty()) continue;
        if (added) {
            it->second[FoldedAscii(name)].insert(name);
        } else if (auto spellings = it->second.find(FoldedAscii(name)); spellings != it->second.end()) {
            spellings->second.erase(name);
        }
    }
}

}  // namespace detail

std::string Resolve(const std::string& path) {
    if (path.empty() || EntryExists(path)) return path;

    const bool absolute = path.front() == kSeparator;
    const bool trailing = path.size() > 1 && path.back() == kSeparator;

    // `result` is the path resolved so far; it always ends with a separator or is empty (relative start).
    std::string result = absolute ? std::string(1, kSeparator) : std::string();
    bool missing = false;  // a component was found in no case: copy the rest verbatim
    bool asWritten = true;  // every component so far was taken as written
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find(kSeparator, pos);
        if (end == std::string::npos) end = path.size();
        const std::string component = path.substr(pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;

        std::string chosen = component;
        if (!missing && component != "." && component != "..") {
            // The whole path, as written, was not there: its last component need not be asked again.
            const bool knownMissing = asWritten && !trailing && path.find_first_not_of(kSeparator, pos) == std::string::npos;
            if (knownMissing || !EntryExists(result + component)) {
                const std::string folded = detail::FindFolded(result, component);
                if (folded.empty())
                    missing = true;
                else
                    chosen = folded;
            }
        }
        asWritten = asWritten && chosen == component;
        result += chosen;
        result += kSeparator;
    }

    // Drop the separator the loop appended after the last component, unless the caller wrote one.
    if (!trailing && result.size() > 1 && result.back() == kSeparator) result.pop_back();
    return result;
}

}  // namespace archive::fs
