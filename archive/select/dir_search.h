// The folder walker: a folder's files that match a mask, optionally with every subfolder below it.
//
// The walk keeps one open level per folder on a stack of at most 21 (the start folder and 20 levels of
// subfolders); deeper folders are not entered. Each level lists its folder once, in the order the file
// system delivers (nothing is sorted), every kind of item admitted: hidden and system files are found
// like any other. Folders whose names begin with "." are never entered or delivered.
//
// The folder may hold wildcards in its components ("/log/d*/old"): the walk then starts at the fixed
// prefix before the first such component ("/log/") and enters, level by level, only the subfolders that
// match the component of that level; files on those levels are passed over. The mask and the recursion
// flag apply from the folder the last component matched.
//
// A file whose name holds no "." is compared as if it ended with one, so "*.*" finds README and the mask
// "README." names it, while the mask "README" does not. Delivered paths are the folder as the caller
// wrote it plus the names found on disk: a request for ".../DB/" delivers ".../DB/Awards.mdb" even where
// the disk says "db", since the file services resolve such paths again whenever they are used.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace archive {

// The state of one level, and the record NextFile fills for the item it delivers.
struct TSearchData {
    std::string Folder;   // the folder being listed, ending with '/'
    std::string Mask;     // the mask that applies on this level
    int FindResult = -1;  // 0 while an item is at hand
    // The current item.
    uint32_t Time = 0;  // last write, MS-DOS form
    int64_t Size = 0;   // full size: a size past 2 GiB is reported as it is, so the writer can refuse it
    uint32_t Attr = 0;  // attribute word
    std::string Name;
    bool HandleOpen = false;
};

class TDirSearch {
public:
    static constexpr size_t kMaxLevels = 21;

    // Prepares the walk; the folder gets a trailing '/' when it lacks one. An empty folder walks nothing.
    TDirSearch(const std::string& folder, const std::string& mask, bool recurse);
    ~TDirSearch();  // closes every open level
    TDirSearch(const TDirSearch&) = delete;
    TDirSearch& operator=(const TDirSearch&) = delete;

    // The next item as a full path in `name`, or "" when the walk is over (the result says which).
    // A file comes as folder + name, a subfolder (only when recursion is on) as its path with a trailing
    // '/', just before its contents. `found` gets the item's record.
    bool NextFile(TSearchData& found, std::string& name);

private:
    struct Level;

    void OpenLevel(const std::string& folder);
    void CloseLevel();
    void LoadItem(Level& level);
    bool InWildcardPart() const;

    std::string mask_;
    bool recurse_;
    std::string fixedPrefix_;                // where the walk starts
    std::vector<std::string> wildcardDirs_;  // folder components below the prefix, matched one per level
    std::vector<Level> stack_;               // index of the current level = size() - 1
    bool started_ = false;
    bool finished_ = false;
};

}  // namespace archive
