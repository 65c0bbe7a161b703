// From the writer's file list to the files to add, and from a file's path to its stored name.
//
// The file list holds, in order: folder entries (ending with '/'), single files (by full path or relative
// to RootDir) and wildcard entries. A leading "|" switches recursion off for its entry, a leading ">"
// switches it on; otherwise Recurse decides. Expansion rewrites the list into folder entries and single
// files first, then every wildcard entry's matches in walk order, and sums the bytes to do.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace archive {

enum TZipAction { zaUpdate = 0, zaReplace = 1, zaFreshen = 2 };

// The writer's settings that take part in selection and naming.
struct SelectionSettings {
    bool Recurse = false;
    bool StorePaths = false;
    bool RelativePaths = false;
    bool StoreVolumes = false;
    bool Store83Names = false;  // no short names here: acts as off
    bool SkipIfArchiveBitNotSet = false;
    bool AddDirEntriesOnRecurse = false;
    TZipAction ZipAction = zaUpdate;
    std::string RootDir;  // empty, or a folder ending with '/'
    std::string ZipName;  // the archive being written: never added to itself
    std::vector<std::string> ExcludeList;
    std::vector<std::string> NoCompressList;
};

struct StoredName {
    std::string Directory;  // folder part, empty or ending with '/'
    std::string FileName;   // empty for a folder entry
};

// The stored name of a file or folder entry (a folder entry's path ends with '/').
StoredName DeriveStoredName(const std::string& path, const SelectionSettings& settings);

// Exclusion test over ExcludeList: patterns holding a '/' meet the whole path, others the file name.
bool IsExcluded(const std::string& path, const std::vector<std::string>& excludeList);
// No-compression test: given the entry's file name part only.
bool IsNoCompress(const std::string& fileNamePart, const std::vector<std::string>& noCompressList);

struct ExpandHooks {
    // Raised for a single file that does not exist (with RootDir put in front of a bare name).
    std::function<void(const std::string& fileName)> OnNoSuchFile;
    // For zaFreshen: whether the existing archive holds an entry of this stored name (ByName rule).
    std::function<bool(const std::string& storedName)> ArchiveHasEntry;
};

// Rewrites filesList into the items to add; returns the bytes to do (sum of the files' sizes).
int64_t ExpandFilesList(std::vector<std::string>& filesList, const SelectionSettings& settings,
                        const ExpandHooks& hooks);

}  // namespace archive
