// Destination folders of extracted entries (see destination.h).
#include "archive/reader/destination.h"

#include "archive/records/sorted_zip.h"

namespace archive::reader {

namespace {

bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix) {
    return text.size() >= prefix.size() && CompareText(text.substr(0, prefix.size()), prefix) == 0;
}

}  // namespace

std::string DestinationFolder(const std::string& destDir, bool recreateDirs, const std::string& rootDir,
                              const std::string& storedFolder) {
    const std::string base = destDir.empty() ? std::string() : (destDir == "/" ? destDir : destDir + "/");
    if (!recreateDirs || storedFolder.empty()) return base;

    std::string folder = storedFolder;
    if (!rootDir.empty() && StartsWithIgnoreCase(folder, rootDir)) folder.erase(0, rootDir.size());
    // A drive or a leading separator would name a place outside DestDir: the rest of the path is put
    // below DestDir instead (with an empty DestDir, below the current folder).
    if (folder.size() >= 2 && folder[1] == ':') folder.erase(0, 2);
    const size_t first = folder.find_first_not_of('/');
    folder.erase(0, first == std::string::npos ? folder.size() : first);
    return base + folder;
}

bool HasParentComponent(const std::string& storedName) {
    size_t start = 0;
    while (start <= storedName.size()) {
        size_t end = storedName.find('/', start);
        if (end == std::string::npos) end = storedName.size();
        if (storedName.compare(start, end - start, "..") == 0) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace archive::reader
