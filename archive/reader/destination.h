// Where an entry goes on extraction: the destination folder from DestDir, RecreateDirs and RootDir, and
// the judgement that keeps every write inside DestDir.
//
// DestDir has no trailing '/' (its setter removes one); an empty DestDir is the current folder. With
// RecreateDirs the stored folder is kept below DestDir, less a leading RootDir (compared ignoring case);
// without it the stored folder is dropped. A stored folder that starts with '/' or a drive ("C:") is
// re-rooted below DestDir, never used as it stands.
//
// A name is judged after all of these transformations, never before: "C:../x" is "../x" once its drive
// is cut, and "DB../x" is "../x" once RootDir "DB" is cut. A name with a ".." component left, or a file
// name "." is refused, whether or not its folder is kept; so is a name holding a control byte (0x00-0x1F,
// 0x7F: the file system would cut the name at a NUL, and the others only serve to disguise a name when it
// is shown). Test and extraction refuse the same names.
#pragma once

#include <optional>
#include <string>

namespace archive::reader {

// The stored folder as it is used below DestDir with RecreateDirs: RootDir, a drive and leading
// separators taken off, empty and "." components dropped; "" or ending with '/'. nullopt when the
// name is refused.
std::optional<std::string> UsableFolder(const std::string& rootDir, const std::string& storedFolder,
                                        const std::string& fileName);

// Why an entry with this name is refused, in words (one of the two below); "" when UsableFolder takes it.
std::string NameRefusal(const std::string& rootDir, const std::string& storedFolder, const std::string& fileName);
inline constexpr const char* kNameHoldsControls = "its name holds control characters";
inline constexpr const char* kNameLeadsOutside = "its name leads outside the destination folder";

// The folder an entry is written to: "" (the current folder) or a path ending with '/'.
std::string DestinationFolder(const std::string& destDir, bool recreateDirs, const std::string& usableFolder);

// Whether a stored name (folder part + file name part, '/'-separated) is refused (no RootDir).
bool IsRefusedName(const std::string& storedName);

}  // namespace archive::reader
