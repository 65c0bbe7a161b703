// Pieces of the file services shared between their source files (and reachable from the tests).
// Not part of the engine's interface: callers use fs.h.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace archive::fs::detail {

// stat() of an already resolved path; a dangling symbolic link is reported by lstat() instead, so that
// it still counts as an item. False when nothing is there.
bool StatResolved(const std::string& resolved, struct stat& st);

// Attribute word of an item whose stat is at hand (the path is needed for the extended attribute and
// the name for the leading-dot rule).
uint32_t AttributesOf(const std::string& resolved, const struct stat& st);

// The attribute bits a user.DOSATTRIB value holds: the text "0x" followed by hex digits, ending at the
// value's end or at a NUL (Wine writes it without, older writers with a NUL; the binary records that
// follow a NUL are not read). nullopt for any other form.
std::optional<uint32_t> ParseDosAttrib(std::string_view value);

// The value written into user.DOSATTRIB for an attribute word ("0x22" style, no NUL).
std::string FormatDosAttrib(uint32_t bits);

// The entry of `folder` (empty, or ending with a separator, as Resolve() builds its prefixes) equal to
// `name` ignoring ASCII case; the smallest in byte order when several are. Empty when there is none or
// the folder cannot be listed. Answered from the active FolderListingCache when there is one.
std::string FindFolded(const std::string& folder, const std::string& name);

// The same for a folder held open on `folderFd` and reached as `folder`: listed through the descriptor.
std::string FindFoldedAt(int folderFd, const std::string& folder, const std::string& name);

// Tells the active folder listings (FolderListingCache) that `path` was created (added) or removed.
void NoteFolderChange(const std::string& path, bool added);

// The length of the root a path starts with: 1 for "/"; on Windows also 3 for "C:/" and the length of
// "//server/share/"; 0 for a relative path.
size_t RootLength(const std::string& path);

// Scratch file names (scratch_names.cpp, both systems): a new plain name (the prefix, three random
// letters or digits and their check); the plain form and the form of a run's file (an anchor's name,
// '-', a counter, a check); whether a plain name's check holds (where no mark can be set, the only sign
// of this program's own scratch files); a run's file name and whether its check holds.
std::string NewScratchName();
bool IsPlainScratchName(const std::string& fileName);
bool IsRunScratchName(const std::string& fileName);
bool HasOwnScratchCheck(const std::string& fileName);
std::string RunFileName(const std::string& anchor, uint64_t counter);
bool RunFileCheckHolds(const std::string& fileName);
// The anchor's name a run's file is named after.
std::string RunAnchorOf(const std::string& runFileName);

// ASCII-only case folding, the only folding the resolver does.
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);

}  // namespace archive::fs::detail
