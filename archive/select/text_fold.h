// ASCII case folding for the path comparisons of file selection.
//
// Names compare as the logger's platform compares them for the files this engine meets: A-Z equal a-z,
// every other byte only itself. Shared by the stored-name derivation (RootDir prefix) and the expansion
// (never adding the archive to itself).
#pragma once

#include <string_view>

namespace archive::select_detail {

inline char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

inline bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

inline bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace archive::select_detail
