// Destination folders of extracted entries and the judgement of stored names (see destination.h).
#include "archive/reader/destination.h"

#include "archive/fs/fs.h"
#include "archive/records/printable_name.h"
#include "archive/records/sorted_zip.h"

namespace archive::reader {

namespace {

bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && CompareText(text.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace

std::optional<std::string> UsableFolder(const std::string& rootDir, const std::string& storedFolder,
                                        const std::string& fileName) {
    if (fileName == "." || fileName == ".." || HoldsControlBytes(fileName) || HoldsControlBytes(storedFolder))
        return std::nullopt;
    std::string folder = storedFolder;
    if (!rootDir.empty() && StartsWithIgnoreCase(folder, rootDir)) folder.erase(0, rootDir.size());
    // A drive or a leading separator would name a place outside DestDir: the rest of the path is put
    // below DestDir instead (with an empty DestDir, below the current folder).
    if (folder.size() >= 2 && folder[1] == ':') folder.erase(0, 2);

    std::string usable;
    for (const std::string& component : fs::PathComponents(folder)) {
        if (component == "..") return std::nullopt;
        usable += component;
        usable += '/';
    }
    return usable;
}

std::string NameRefusal(const std::string& rootDir, const std::string& storedFolder, const std::string& fileName) {
    if (HoldsControlBytes(storedFolder) || HoldsControlBytes(fileName)) return kNameHoldsControls;
    return UsableFolder(rootDir, storedFolder, fileName) ? std::string() : kNameLeadsOutside;
}

std::string DestinationFolder(const std::string& destDir, bool recreateDirs, const std::string& usableFolder) {
    const std::string base = destDir.empty() ? std::string() : (destDir == "/" ? destDir : destDir + "/");
    return recreateDirs ? base + usableFolder : base;
}

bool IsRefusedName(const std::string& storedName) {
    const size_t slash = storedName.rfind('/');
    const size_t split = slash == std::string::npos ? 0 : slash + 1;
    return !UsableFolder("", storedName.substr(0, split), storedName.substr(split));
}

}  // namespace archive::reader
