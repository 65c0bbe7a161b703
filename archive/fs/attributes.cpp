// Existence, sizes and MS-DOS attribute words of files and folders.
//
// Where the attributes live. Wine, under which Windows programs run here, keeps the hidden and system bits of a
// file in the extended attribute user.DOSATTRIB as text ("0x2", "0x6": "0x" and lower-case hex, no
// NUL), removes it when neither bit is left, takes read-only from the owner's write bit and shows
// every file with the archive bit and every name starting with "." as hidden. Other writers of that
// attribute put the same text first and may follow it with a NUL and binary records; only the text is
// read here, and a value without it counts as absent.
//
// Reading (GetAttributes): the folder bit comes from the item's type and read-only from the mode, both
// always; hidden is added for dot names. With a readable user.DOSATTRIB, every other bit it holds is
// taken as it stands (so a cleared archive bit stays cleared); without one, files get the archive bit.
// A word left empty reads as 0x80 (normal), as Windows reports it.
//
// Writing (SetAttributes): read-only sets or clears the write bits of the mode; hidden, system,
// archive and the few other bits that platform lets a program set go to user.DOSATTRIB. When they equal
// what reading would derive anyway, the extended attribute is removed instead of written, so ordinary
// files stay free of it. A file system that refuses user extended attributes (ENOTSUP) leaves just the
// mode changed, silently.
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "archive/fs/fs.h"
#include "archive/fs/fs_detail.h"

namespace archive::fs {

namespace {

constexpr const char* kXattrName = "user.DOSATTRIB";

// Bits that belong in user.DOSATTRIB: hidden, system, archive, temporary (0x100), offline (0x1000) and
// not-content-indexed (0x2000). Read-only and folder live in the mode and type; 0x80 means "none of
// these"; anything above (archives made on Unix put the mode in the high half) is not an attribute.
constexpr uint32_t kXattrBits = faHidden | faSysFile | faArchive | 0x100 | 0x1000 | 0x2000;

constexpr mode_t kAllWrite = S_IWUSR | S_IWGRP | S_IWOTH;

bool IsDotName(const std::string& path) {
    const std::string name = ExtractFileName(ExcludeTrailingSeparator(path));
    return !name.empty() && name.front() == '.' && name != "." && name != "..";
}

std::optional<uint32_t> ReadXattr(const std::string& resolved) {
    char buf[256];
    const ssize_t n = getxattr(resolved.c_str(), kXattrName, buf, sizeof buf);
    if (n <= 0) return std::nullopt;  // absent, unsupported or too long for the text form
    return detail::ParseDosAttrib(std::string_view(buf, static_cast<size_t>(n)));
}

// What the xattr bits would be with no user.DOSATTRIB at all.
uint32_t DerivedXattrBits(const struct stat& st) { return S_ISDIR(st.st_mode) ? 0 : faArchive; }

}  // namespace

namespace detail {

bool StatResolved(const std::string& resolved, struct stat& st) {
    if (stat(resolved.c_str(), &st) == 0) return true;
    return lstat(resolved.c_str(), &st) == 0;
}

std::optional<uint32_t> ParseDosAttrib(std::string_view value) {
    if (const size_t nul = value.find('\0'); nul != std::string_view::npos) value = value.substr(0, nul);
    if (value.size() < 3 || value.size() > 10 || value.substr(0, 2) != "0x") return std::nullopt;
    uint32_t bits = 0;
    for (char c : value.substr(2)) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return std::nullopt;
        bits = bits << 4 | digit;
    }
    return bits;
}

std::string FormatDosAttrib(uint32_t bits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", bits);
    return buf;
}

uint32_t AttributesOf(const std::string& resolved, const struct stat& st) {
    uint32_t word = 0;
    if (S_ISDIR(st.st_mode)) word |= faDirectory;
    if (!(st.st_mode & S_IWUSR)) word |= faReadOnly;
    if (IsDotName(resolved)) word |= faHidden;
    if (const auto stored = ReadXattr(resolved))
        word |= *stored & ~(faDirectory | faReadOnly | faNormal | faVolumeID);
    else
        word |= DerivedXattrBits(st);
    return word == 0 ? faNormal : word;
}

}  // namespace detail

bool Exists(const std::string& path) {
    struct stat st {};
    return !path.empty() && lstat(Resolve(path).c_str(), &st) == 0;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(Resolve(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && stat(Resolve(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<uint32_t> GetAttributes(const std::string& path) {
    if (path.empty()) return std::nullopt;
    const std::string resolved = Resolve(path);
    struct stat st {};
    if (!detail::StatResolved(resolved, st)) return std::nullopt;
    return detail::AttributesOf(resolved, st);
}

bool SetAttributes(const std::string& path, uint32_t attributes) {
    if (path.empty()) return false;
    const std::string resolved = Resolve(path);
    struct stat st {};
    if (stat(resolved.c_str(), &st) != 0) return false;

    const bool readOnly = attributes & faReadOnly;
    const mode_t mode = st.st_mode & 07777;
    const mode_t newMode = readOnly ? (mode & ~kAllWrite) : (mode | S_IWUSR);

    // Writing a user extended attribute needs write permission on the file for anyone but its owner
    // with privileges: change it while the file is still (or already) writable.
    auto writeXattr = [&]() -> bool {
        const uint32_t bits = attributes & kXattrBits;
        const uint32_t dotHidden = IsDotName(resolved) ? faHidden : 0;
        int rc;
        if ((bits | dotHidden) == (DerivedXattrBits(st) | dotHidden)) {
            rc = removexattr(resolved.c_str(), kXattrName);
            if (rc != 0 && errno == ENODATA) rc = 0;
        } else {
            const std::string text = detail::FormatDosAttrib(bits);
            rc = setxattr(resolved.c_str(), kXattrName, text.data(), text.size(), 0);
        }
        return rc == 0 || errno == ENOTSUP;
    };
    auto writeMode = [&]() -> bool { return newMode == mode || chmod(resolved.c_str(), newMode) == 0; };

    if (readOnly) {
        const bool xattrOk = writeXattr();
        return writeMode() && xattrOk;
    }
    const bool modeOk = writeMode();
    return writeXattr() && modeOk;
}

bool SetAttributesOf(int fd, const std::string& name, uint32_t attributes, int knownMode) {
    struct stat st {};
    if (knownMode >= 0) {
        st.st_mode = S_IFREG | static_cast<mode_t>(knownMode);
    } else if (fstat(fd, &st) != 0) {
        return false;
    }
    const bool readOnly = attributes & faReadOnly;
    const mode_t mode = st.st_mode & 07777;
    const mode_t newMode = readOnly ? (mode & ~kAllWrite) : (mode | S_IWUSR);
    // Only this function writes the file's user.DOSATTRIB: when the bits are the derived ones there is
    // none to remove.
    auto writeXattr = [&]() -> bool {
        const uint32_t bits = attributes & kXattrBits;
        const uint32_t dotHidden = IsDotName(name) ? faHidden : 0;
        if ((bits | dotHidden) == (DerivedXattrBits(st) | dotHidden)) return true;
        const std::string text = detail::FormatDosAttrib(bits);
        return fsetxattr(fd, kXattrName, text.data(), text.size(), 0) == 0 || errno == ENOTSUP;
    };
    auto writeMode = [&]() -> bool { return newMode == mode || fchmod(fd, newMode) == 0; };
    if (readOnly) {
        const bool xattrOk = writeXattr();
        return writeMode() && xattrOk;
    }
    const bool modeOk = writeMode();
    return writeXattr() && modeOk;
}

std::optional<int64_t> GetFileSize(const std::string& path) {
    if (path.empty()) return std::nullopt;
    struct stat st {};
    if (!detail::StatResolved(Resolve(path), st)) return std::nullopt;
    return S_ISDIR(st.st_mode) ? 0 : static_cast<int64_t>(st.st_size);
}

}  // namespace archive::fs
