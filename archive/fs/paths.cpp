// Path strings: splitting, extensions, trailing separators, absolute paths and the few well-known folders.
//
// These work on the text alone and never touch the disk (the folder queries are the system's: posix/, win32/).
// Conventions shared by all of them: the separator is '/', a folder path may or may not end with it,
// "" is a valid relative path meaning "here" and is never turned into the root.
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace {

size_t NameStart(const std::string& path) {
    const size_t slash = path.rfind(kSeparator);
    return slash == std::string::npos ? 0 : slash + 1;
}

// Position of the extension's dot inside the file name part, or npos.
size_t ExtensionDot(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < NameStart(path)) return std::string::npos;
    return dot;
}

}  // namespace

std::string ExtractFilePath(const std::string& path) { return path.substr(0, NameStart(path)); }

std::string ExtractFileName(const std::string& path) { return path.substr(NameStart(path)); }

std::string ExtractFileExt(const std::string& path) {
    const size_t dot = ExtensionDot(path);
    return dot == std::string::npos ? std::string() : path.substr(dot);
}

std::string ChangeFileExt(const std::string& path, const std::string& ext) {
    const size_t dot = ExtensionDot(path);
    return (dot == std::string::npos ? path : path.substr(0, dot)) + ext;
}

std::string IncludeTrailingSeparator(const std::string& path) {
    // "" stays "": a folder part that is empty means the current folder, and turning it into "/" would
    // silently re-root whatever is appended to it.
    if (path.empty() || path.back() == kSeparator) return path;
    return path + kSeparator;
}

std::string ExcludeTrailingSeparator(const std::string& path) {
    if (path.size() > 1 && path.back() == kSeparator) return path.substr(0, path.size() - 1);
    return path;
}

std::vector<std::string> PathComponents(const std::string& path) {
    std::vector<std::string> components;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t end = path.find(kSeparator, pos);
        if (end == std::string::npos) end = path.size();
        std::string component = path.substr(pos, end - pos);
        pos = end + 1;
        if (!component.empty() && component != ".") components.push_back(std::move(component));
    }
    return components;
}

std::string ExpandFileName(const std::string& path) {
    if (path.empty()) return path;
    const std::string full =
        detail::RootLength(path) > 0 ? path : IncludeTrailingSeparator(CurrentDirectory()) + path;
    // "/" (on Windows "C:/" or "//server/share/"): never folded away.
    const size_t rootLength = detail::RootLength(full);
    std::string root = full.substr(0, rootLength);
    if (root.empty() || root.back() != kSeparator) root += kSeparator;

    // Fold "." and ".." on the text: ".." above the root stays at the root, as the kernel does.
    std::vector<std::string> parts;
    for (std::string& component : PathComponents(full.substr(rootLength))) {
        if (component == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(std::move(component));
    }

    std::string out = root;
    for (const std::string& p : parts) out += p + kSeparator;
    if (parts.empty()) return out;
    // A folder written with its trailing separator keeps it ("/a/b/.." gives "/a", "/a/b/" gives "/a/b/").
    if (path.back() != kSeparator) out.pop_back();
    return out;
}

}  // namespace archive::fs
