// The folder listing rule; see folder_listing.h.
#include "ui/folder_listing.h"

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "ui/file_mask.h"

#include <algorithm>
#include <cerrno>

namespace ui {

namespace fs = archive::fs;

std::vector<ListedItem> ListFolder(const QString& folder, const QString& mask, TFileType fileType) {
    const uint32_t filter = static_cast<uint32_t>(fileType.toInt()) & ~uint32_t{ftNormal};
    constexpr uint32_t kSearchedOnRequest = fs::faHidden | fs::faSysFile | fs::faVolumeID | fs::faDirectory;
    std::vector<fs::DirEntry> entries;
    if (!fs::ListDirectory(folder.toStdString(), entries))
        throw archive::EInOutError(archive::Format("The folder \"%s\" cannot be read", folder.toStdString().c_str()),
                                   fs::DirectoryExists(folder.toStdString()) ? EACCES : ENOENT);

    std::vector<ListedItem> items;
    for (const QString& oneMask : SplitMasks(mask)) {
        for (const fs::DirEntry& e : entries) {
            const QString name = QString::fromStdString(e.name);
            if ((e.attributes & kSearchedOnRequest) & ~filter) continue;
            if (!MatchesFileMask(oneMask, name)) continue;
            if (!fileType.testFlag(ftNormal) && !(e.attributes & filter)) continue;
            const bool isFolder = (e.attributes & fs::faDirectory) != 0;
            items.push_back({isFolder ? QLatin1Char('[') + name + QLatin1Char(']') : name, name, isFolder});
        }
    }
    std::stable_sort(items.begin(), items.end(), [](const ListedItem& a, const ListedItem& b) {
        return a.text.compare(b.text, Qt::CaseInsensitive) < 0;
    });
    return items;
}

}  // namespace ui
