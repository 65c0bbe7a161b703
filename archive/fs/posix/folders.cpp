// The well-known folders and the root of a path, on POSIX.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace detail {

size_t RootLength(const std::string& path) { return !path.empty() && path.front() == kSeparator ? 1 : 0; }

}  // namespace detail

std::string CurrentDirectory() {
    std::vector<char> buf(4096);
    for (;;) {
        if (getcwd(buf.data(), buf.size())) return buf.data();
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
}

bool SetCurrentDirectory(const std::string& path) {
    if (path.empty()) return false;
    return chdir(Resolve(path).c_str()) == 0;
}

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return std::string(1, kSeparator);
}

std::string TempDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    return IncludeTrailingSeparator(tmp && *tmp ? tmp : "/tmp");
}

}  // namespace archive::fs
