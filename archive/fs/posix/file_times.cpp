// Last-write times of files, on POSIX (the MS-DOS conversion is dos_time.cpp's).
#include <fcntl.h>
#include <sys/stat.h>

#include <ctime>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

std::optional<std::time_t> GetFileTime(const std::string& path) {
    if (path.empty()) return std::nullopt;
    struct stat st {};
    if (!detail::StatResolved(Resolve(path), st)) return std::nullopt;
    return st.st_mtime;
}

namespace {

// The times utimensat takes for an MS-DOS date-time: the access time stays. False for a date mktime
// cannot place.
bool TimesOf(uint32_t dosDateTime, timespec (&times)[2]) {
    const std::time_t t = TimeFromDos(dosDateTime);
    if (t == static_cast<std::time_t>(-1)) return false;
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1].tv_sec = t;
    times[1].tv_nsec = 0;
    return true;
}

}  // namespace

bool SetFileDosTime(const std::string& path, uint32_t dosDateTime) {
    timespec times[2]{};
    if (path.empty() || !TimesOf(dosDateTime, times)) return false;
    return utimensat(AT_FDCWD, Resolve(path).c_str(), times, 0) == 0;
}

bool SetFileDosTimeOf(int fd, uint32_t dosDateTime) {
    timespec times[2]{};
    return TimesOf(dosDateTime, times) && futimens(fd, times) == 0;
}

bool SetFileTimeOf(int fd, std::time_t time) {
    if (time == static_cast<std::time_t>(-1)) return false;
    const timespec times[2]{{0, UTIME_OMIT}, {time, 0}};
    return futimens(fd, times) == 0;
}

}  // namespace archive::fs
