// From a file's full path to the name it is stored under: folder part and file name part.
//
// The path first makes the round trip through the archive's name encoding, so the writer stores (and
// compares) the name a reader will give back. Without StorePaths only the file name is kept. With it the
// folder is kept, RootDir taken off its front when RelativePaths is on (a folder outside RootDir stays
// whole, leading '/' included, so nothing is silently re-rooted), and otherwise one leading '/' removed
// so the stored name is relative. The folder keeps the letter case of the path it came from: a file
// found through the list entry ".../DB/*.*" is stored under "DB/" even where the disk says "db".
#include <string>

#include "archive/codepage/codepage.h"
#include "archive/fs/fs.h"
#include "archive/select/file_list.h"
#include "archive/ascii_fold.h"

namespace archive {

StoredName DeriveStoredName(const std::string& path, const SelectionSettings& settings) {
    // Store83Names: no short names on this platform, so the option acts as off.
    const std::string name = codepage::RoundTrip(path);

    StoredName out;
    out.FileName = fs::ExtractFileName(name);  // empty for a folder entry
    if (!settings.StorePaths) return out;

    // The folder with exactly one trailing '/' (the root keeps its single one). A bare name has no
    // folder at all rather than "/": it must not turn into a name at the root.
    std::string folder = fs::ExtractFilePath(name);
    if (!folder.empty()) folder = fs::IncludeTrailingSeparator(fs::ExcludeTrailingSeparator(folder));

    if (!settings.RootDir.empty() && settings.RelativePaths) {
        // RootDir is compared with its trailing '/', so "/log" never takes "/logger/" apart.
        const std::string root = fs::IncludeTrailingSeparator(codepage::RoundTrip(settings.RootDir));
        if (StartsWithIgnoringCase(folder, root)) folder.erase(0, root.size());
    }
    if (!settings.RelativePaths && !settings.StoreVolumes && !folder.empty() && folder.front() == fs::kSeparator)
        folder.erase(0, 1);

    out.Directory = folder;
    return out;
}

}  // namespace archive
