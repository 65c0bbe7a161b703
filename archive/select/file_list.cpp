// Expansion of the writer's file list into the files to add.
//
// Two passes. The first keeps folder entries where they are, checks every single file in place (RootDir
// put before a bare name, exclusion, existence, archive bit, freshen) and moves the wildcard entries out.
// The second walks each wildcard entry in turn and appends what it finds. So the list ends up holding
// the folder entries and single files in their old order, then each wildcard entry's files in walk
// order. A file that two entries find is listed twice: the writer adds it once.
//
// Only a single file that is missing is reported (OnNoSuchFile); a wildcard entry whose folder is
// missing or which matches nothing adds nothing and says nothing. That is what lets the backup list its
// twelve "|" entries without caring which of them exist. The archive being written (ZipName) is never
// listed, however its path was written: an archive must not hold itself.
//
// Scratch files (".zbk-XXXXXX", fs/scratch.h) are never selected, neither named alone nor found by a
// wildcard: a live one belongs to an operation under way, a stale one is debris of one that died, and
// neither must ever become part of an archive.
//
// For zaFreshen the caller answers through ArchiveHasEntry whether the archive already holds a stored
// name (compared by the ByName rule); without that hook nothing passes the freshen filter.
#include <optional>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "archive/select/dir_search.h"
#include "archive/select/file_list.h"
#include "archive/ascii_fold.h"
#include "archive/select/wildcard.h"

namespace archive {

namespace {

struct WildcardEntry {
    std::string folder;
    std::string mask;
    bool recurse;
};

// Reads the recursion override and splits at the last '/': "|/log/DB/*.*" -> "/log/DB", "*.*", off.
WildcardEntry SplitWildcardEntry(std::string entry, const SelectionSettings& settings) {
    WildcardEntry w;
    w.recurse = settings.Recurse;
    if (!entry.empty() && (entry.front() == '|' || entry.front() == '>')) {
        w.recurse = entry.front() == '>';
        entry.erase(0, 1);
    }
    const size_t slash = entry.rfind(fs::kSeparator);
    if (slash == std::string::npos) {
        w.folder = settings.RootDir;
        w.mask = entry;
    } else {
        w.folder = slash == 0 ? std::string(1, fs::kSeparator) : entry.substr(0, slash);
        w.mask = entry.substr(slash + 1);
    }
    return w;
}

// Recognises the archive being written among the files found, whatever case the path was formed in.
class ArchiveItself {
public:
    explicit ArchiveItself(const std::string& zipName) {
        if (zipName.empty()) return;
        resolved_ = fs::Resolve(fs::ExpandFileName(zipName));
        name_ = fs::ExtractFileName(resolved_);
    }

    bool Is(const std::string& path) const {
        if (resolved_.empty()) return false;
        // Resolving costs folder listings where the case differs: only do it for a name that may match.
        if (!EqualIgnoringCase(fs::ExtractFileName(path), name_)) return false;
        return EqualIgnoringCase(fs::Resolve(fs::ExpandFileName(path)), resolved_);
    }

private:
    std::string resolved_;
    std::string name_;
};

bool ArchiveBitClear(uint32_t attributes) { return (attributes & fs::faArchive) == 0; }

bool FreshenRejects(const std::string& path, const SelectionSettings& settings, const ExpandHooks& hooks) {
    if (settings.ZipAction != zaFreshen) return false;
    if (!hooks.ArchiveHasEntry) return true;
    const StoredName stored = DeriveStoredName(path, settings);
    return !hooks.ArchiveHasEntry(stored.Directory + stored.FileName);
}

bool IsFolderEntry(const std::string& entry) { return !entry.empty() && entry.back() == fs::kSeparator; }

bool IsScratchFile(const std::string& path) { return fs::IsScratchName(fs::ExtractFileName(path)); }

}  // namespace

int64_t ExpandFilesList(std::vector<std::string>& filesList, const SelectionSettings& settings,
                        const ExpandHooks& hooks) {
    int64_t bytesToDo = 0;
    const std::string rootDir = fs::IncludeTrailingSeparator(settings.RootDir);
    std::vector<std::string> wildcardEntries;

    const ArchiveItself archiveItself(settings.ZipName);
    // The rewritten list; filesList takes it over at the end, so an exception from a hook leaves the
    // caller's list as it was.
    std::vector<std::string> kept;
    kept.reserve(filesList.size());

    // First pass: folder entries and single files, in place.
    for (std::string entry : filesList) {
        if (IsFolderEntry(entry)) {
            // A recursion override means nothing for a folder entry; left in, it would become part of
            // the folder's stored name.
            if (entry.front() == '|' || entry.front() == '>') entry.erase(0, 1);
            kept.push_back(std::move(entry));
            continue;
        }
        if (HasWildcards(entry)) {
            wildcardEntries.push_back(std::move(entry));
            continue;
        }
        if (entry.find(fs::kSeparator) == std::string::npos) entry = rootDir + entry;

        if (IsExcluded(entry, settings.ExcludeList) || IsScratchFile(entry)) continue;
        const std::optional<uint32_t> attributes = fs::GetAttributes(entry);
        if (!attributes) {
            if (hooks.OnNoSuchFile) hooks.OnNoSuchFile(entry);
            continue;
        }
        // The archive named as a single file is dropped like the one a wildcard finds: an archive never
        // holds itself.
        if (archiveItself.Is(entry)) continue;
        if (settings.SkipIfArchiveBitNotSet && ArchiveBitClear(*attributes)) continue;
        if (FreshenRejects(entry, settings, hooks)) continue;
        if ((*attributes & fs::faDirectory) == 0) bytesToDo += fs::GetFileSize(entry).value_or(0);
        kept.push_back(std::move(entry));
    }

    // Second pass: each wildcard entry's files, in the order of the entries.
    for (const std::string& raw : wildcardEntries) {
        const WildcardEntry w = SplitWildcardEntry(raw, settings);
        if (w.folder.empty()) continue;  // no folder and no RootDir: nothing to walk
        // A folder with wildcards of its own is left to the walker, which finds nothing under a prefix
        // that is not there.
        if (!HasWildcards(w.folder) && !fs::DirectoryExists(w.folder)) continue;

        TDirSearch search(w.folder, w.mask, w.recurse);
        TSearchData found;
        std::string path;
        while (search.NextFile(found, path)) {
            if (IsFolderEntry(path)) {
                if (w.recurse && settings.AddDirEntriesOnRecurse) kept.push_back(path);
                continue;
            }
            if (IsExcluded(path, settings.ExcludeList) || IsScratchFile(path)) continue;
            if (archiveItself.Is(path)) continue;
            if (settings.SkipIfArchiveBitNotSet && ArchiveBitClear(found.Attr)) continue;
            if (FreshenRejects(path, settings, hooks)) continue;
            kept.push_back(path);
            bytesToDo += found.Size;
        }
    }
    filesList = std::move(kept);
    return bytesToDo;
}

}  // namespace archive
