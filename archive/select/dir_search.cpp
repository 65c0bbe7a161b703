// The folder walker, level by level.
//
// A level is a folder's listing taken whole when the level opens, plus the index of the item at hand
// (the find handle of the platform this engine first ran on, minus its lifetime worries). A level that
// cannot be listed opens as an empty one, so a folder without access simply contributes nothing.
//
// Each call of NextFile moves forward until it has something to deliver:
//   - an exhausted level is closed and its parent advanced past the folder just finished; closing
//     level 0 ends the walk;
//   - on a level of the wildcard folder part a matching subfolder opens the next level, everything else
//     is passed over;
//   - below that, a subfolder is opened and delivered when recursion is on (the parent advances only once
//     the subfolder is exhausted), and a file is delivered when the mask admits it.
// At kMaxLevels open levels no further subfolder is entered or delivered.
#include "archive/select/dir_search.h"

#include <utility>

#include "archive/fs/fs.h"
#include "archive/select/wildcard.h"

namespace archive {

struct TDirSearch::Level {
    TSearchData data;
    std::vector<fs::DirEntry> items;
    size_t next = 0;

    bool Exhausted() const { return next >= items.size(); }
    const fs::DirEntry& Item() const { return items[next]; }
};

namespace {

bool IsFolder(const fs::DirEntry& e) { return (e.attributes & fs::faDirectory) != 0; }
bool IsDotName(const std::string& name) { return !name.empty() && name.front() == '.'; }

}  // namespace

TDirSearch::TDirSearch(const std::string& folder, const std::string& mask, bool recurse)
    : mask_(mask), recurse_(recurse) {
    stack_.reserve(kMaxLevels);
    const std::string start = fs::IncludeTrailingSeparator(folder);
    if (start.empty()) {
        finished_ = true;
        return;
    }
    // Split off the components from the first one holding a wildcard; the text before it is the fixed
    // prefix the walk starts from.
    size_t pos = start.front() == fs::kSeparator ? 1 : 0;
    size_t firstWild = std::string::npos;
    while (pos < start.size()) {
        const size_t end = start.find(fs::kSeparator, pos);
        const std::string component = start.substr(pos, end - pos);
        if (firstWild == std::string::npos && HasWildcards(component)) firstWild = pos;
        if (firstWild != std::string::npos && !component.empty()) wildcardDirs_.push_back(component);
        pos = end + 1;
    }
    // For a relative folder whose first component holds a wildcard the prefix is "", the current folder.
    fixedPrefix_ = firstWild == std::string::npos ? start : start.substr(0, firstWild);
}

TDirSearch::~TDirSearch() {
    while (!stack_.empty()) CloseLevel();
}

bool TDirSearch::InWildcardPart() const { return stack_.size() - 1 < wildcardDirs_.size(); }

void TDirSearch::LoadItem(Level& level) {
    TSearchData& d = level.data;
    if (level.Exhausted()) {
        d.FindResult = -1;
        return;
    }
    const fs::DirEntry& e = level.Item();
    d.FindResult = 0;
    d.Time = e.dosTime;
    d.Size = e.size;
    d.Attr = e.attributes;
    d.Name = e.name;
}

void TDirSearch::OpenLevel(const std::string& folder) {
    Level level;
    level.data.Folder = folder;
    const size_t index = stack_.size();
    level.data.Mask = index < wildcardDirs_.size() ? wildcardDirs_[index] : mask_;
    // Every kind of item, in the file system's own order; a folder that cannot be listed is empty.
    if (!fs::ListDirectory(folder, level.items)) level.items.clear();
    level.data.HandleOpen = true;
    LoadItem(level);
    stack_.push_back(std::move(level));
}

void TDirSearch::CloseLevel() {
    stack_.back().data.HandleOpen = false;
    stack_.pop_back();
}

bool TDirSearch::NextFile(TSearchData& found, std::string& name) {
    name.clear();
    if (finished_) return false;
    if (!started_) {
        started_ = true;
        OpenLevel(fixedPrefix_);
    }

    for (;;) {
        Level& level = stack_.back();
        if (level.Exhausted()) {
            CloseLevel();
            if (stack_.empty()) {
                finished_ = true;
                return false;
            }
            Level& parent = stack_.back();
            ++parent.next;
            LoadItem(parent);
            continue;
        }

        const fs::DirEntry& item = level.Item();
        const bool roomBelow = stack_.size() < kMaxLevels;

        if (InWildcardPart()) {
            if (IsFolder(item) && !IsDotName(item.name) && roomBelow &&
                WildcardMatch(level.data.Mask, item.name)) {
                OpenLevel(level.data.Folder + item.name + fs::kSeparator);  // `level` is stale from here
                continue;
            }
            ++level.next;
            LoadItem(level);
            continue;
        }

        if (IsFolder(item)) {
            if (recurse_ && !IsDotName(item.name) && roomBelow) {
                found = level.data;
                name = level.data.Folder + item.name + fs::kSeparator;
                OpenLevel(name);  // the parent advances once this level is exhausted
                return true;
            }
            ++level.next;
            LoadItem(level);
            continue;
        }

        // A name without a dot is compared with one appended, so "*.*" admits it.
        const bool hasDot = item.name.find('.') != std::string::npos;
        const bool admitted = WildcardMatch(level.data.Mask, hasDot ? item.name : item.name + '.');
        if (admitted) {
            found = level.data;
            name = level.data.Folder + item.name;
        }
        ++level.next;
        LoadItem(level);
        if (admitted) return true;
    }
}

}  // namespace archive
