// The exclusion and no-compression tests.
//
// A pattern holding a '/' is meant for the whole path ("*/tmp/*"), any other for the file name alone
// ("*.ldb"); the first pattern that matches decides and an empty list matches nothing. The
// no-compression test is handed only the entry's file name part, so its folder patterns find nothing
// to match.
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/select/file_list.h"
#include "archive/select/wildcard.h"

namespace archive {

namespace {

bool AnyMatches(const std::vector<std::string>& patterns, const std::string& path) {
    const std::string name = fs::ExtractFileName(path);
    for (const std::string& pattern : patterns) {
        const bool wholePath = pattern.find(fs::kSeparator) != std::string::npos;
        if (WildcardMatch(pattern, wholePath ? path : name)) return true;
    }
    return false;
}

}  // namespace

bool IsExcluded(const std::string& path, const std::vector<std::string>& excludeList) {
    return AnyMatches(excludeList, path);
}

bool IsNoCompress(const std::string& fileNamePart, const std::vector<std::string>& noCompressList) {
    return AnyMatches(noCompressList, fileNamePart);
}

}  // namespace archive
