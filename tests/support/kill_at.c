/* Kills the process it is loaded into (LD_PRELOAD) with SIGKILL at an exact moment of its work on a
 * scratch file (".zbk-XXXXXX"): what a crash or a power cut does, but at a moment a test can name.
 *
 *   ZB_KILL_AT=write:N    at the Nth write() to a scratch file open for writing (an archive or a
 *                         restored file being written)
 *   ZB_KILL_AT=read:N     at the Nth read() of a scratch file open read-only (an archive being read back)
 *   ZB_KILL_AT=rename:N   at the Nth rename() or renameat() of a scratch file over its target
 *
 * The kill comes before the call does anything. Nothing else of the program changes.
 *
 *   ZB_KILL_AT=misname:N  kills nothing: the Nth write() to a scratch file that holds a central directory
 *                         record changes the first letter of that record's name to another letter of the
 *                         same case, so the archive reads back whole but names another file than the
 *                         writer wrote (what a fault in the writer's directory would look like). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

enum { kNone = 0, kWritten = 1, kRead = 2, kMaxFd = 65536 };

static unsigned char tracked[kMaxFd];
static char kind[16];
static long limit;
static long count;

__attribute__((constructor)) static void Init(void) {
    const char* setting = getenv("ZB_KILL_AT");
    const char* colon = setting ? strchr(setting, ':') : NULL;
    if (!colon || (size_t)(colon - setting) >= sizeof kind) return;
    memcpy(kind, setting, (size_t)(colon - setting));
    limit = strtol(colon + 1, NULL, 10);
}

static int IsScratch(const char* path) {
    const char* slash = path ? strrchr(path, '/') : NULL;
    const char* base = slash ? slash + 1 : path;
    return base && strncmp(base, ".zbk-", 5) == 0;
}

static void Count(const char* what) {
    if (limit > 0 && strcmp(kind, what) == 0 && ++count == limit) raise(SIGKILL);
}

static int Track(int fd, const char* path, int flags) {
    if (fd >= 0 && fd < kMaxFd) tracked[fd] = !IsScratch(path) ? kNone : (flags & O_ACCMODE) == O_RDONLY ? kRead : kWritten;
    return fd;
}

/* The libc function this one stands in front of. */
#define REAL(name, ret, ...)                  \
    static ret (*real_##name)(__VA_ARGS__);   \
    if (!real_##name) real_##name = (ret (*)(__VA_ARGS__))dlsym(RTLD_NEXT, #name)

static mode_t ModeArgument(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(args, int) : 0;
}

int open(const char* path, int flags, ...) {
    REAL(open, int, const char*, int, ...);
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Track(real_open(path, flags, mode), path, flags);
}

int open64(const char* path, int flags, ...) {
    REAL(open64, int, const char*, int, ...);
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Track(real_open64(path, flags, mode), path, flags);
}

int openat(int dir, const char* path, int flags, ...) {
    REAL(openat, int, int, const char*, int, ...);
    va_list args;
    va_start(args, flags);
    const mode_t mode = ModeArgument(flags, args);
    va_end(args);
    return Track(real_openat(dir, path, flags, mode), path, flags);
}

// A scratch file is also written through a duplicate of its descriptor.
int fcntl(int fd, int command, ...) {
    REAL(fcntl, int, int, int, ...);
    va_list args;
    va_start(args, command);
    void* argument = va_arg(args, void*);
    va_end(args);
    const int result = real_fcntl(fd, command, argument);
    if ((command == F_DUPFD || command == F_DUPFD_CLOEXEC) && result >= 0 && result < kMaxFd && fd >= 0 &&
        fd < kMaxFd)
        tracked[result] = tracked[fd];
    return result;
}

int close(int fd) {
    REAL(close, int, int);
    if (fd >= 0 && fd < kMaxFd) tracked[fd] = kNone;
    return real_close(fd);
}

/* The first central directory record in a buffer, or NULL. */
static const unsigned char* CentralRecord(const unsigned char* bytes, size_t n) {
    for (size_t i = 0; i + 47 <= n; ++i)
        if (bytes[i] == 'P' && bytes[i + 1] == 'K' && bytes[i + 2] == 1 && bytes[i + 3] == 2) return bytes + i;
    return NULL;
}

ssize_t write(int fd, const void* data, size_t n) {
    REAL(write, ssize_t, int, const void*, size_t);
    if (fd >= 0 && fd < kMaxFd && tracked[fd] == kWritten) {
        Count("write");
        const unsigned char* record = limit > 0 && strcmp(kind, "misname") == 0 ? CentralRecord(data, n) : NULL;
        if (record && ++count == limit) {
            unsigned char* copy = malloc(n);
            if (!copy) return real_write(fd, data, n);
            memcpy(copy, data, n);
            unsigned char* first = copy + (record - (const unsigned char*)data) + 46;
            if (*first >= 'a' && *first <= 'z') *first = *first == 'z' ? 'a' : *first + 1;
            else if (*first >= 'A' && *first <= 'Z') *first = *first == 'Z' ? 'A' : *first + 1;
            const ssize_t written = real_write(fd, copy, n);
            free(copy);
            return written;
        }
    }
    return real_write(fd, data, n);
}

ssize_t read(int fd, void* data, size_t n) {
    REAL(read, ssize_t, int, void*, size_t);
    if (fd >= 0 && fd < kMaxFd && tracked[fd] == kRead) Count("read");
    return real_read(fd, data, n);
}

int rename(const char* from, const char* to) {
    REAL(rename, int, const char*, const char*);
    if (IsScratch(from)) Count("rename");
    return real_rename(from, to);
}

/* Restored files are renamed relative to their folder's descriptor. */
int renameat(int fromDir, const char* from, int toDir, const char* to) {
    REAL(renameat, int, int, const char*, int, const char*);
    if (IsScratch(from)) Count("rename");
    return real_renameat(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    REAL(renameat2, int, int, const char*, int, const char*, unsigned);
    if (IsScratch(from)) Count("rename");
    return real_renameat2(fromDir, from, toDir, to, flags);
}
