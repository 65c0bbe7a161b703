// Where an entry goes on extraction: the destination folder from DestDir, RecreateDirs and RootDir, and
// the test that keeps every write inside DestDir.
//
// DestDir has no trailing '/' (its setter removes one); an empty DestDir is the current folder. With
// RecreateDirs the stored folder is kept below DestDir, less a leading RootDir (compared ignoring case);
// without it the stored folder is dropped. A stored folder that starts with '/' or a drive ("C:") is
// re-rooted below DestDir, never used as it stands. A stored name with a ".." component could still
// climb out: such names are refused by the caller (HasParentComponent).
#pragma once

#include <string>

namespace archive::reader {

// The folder an entry with stored folder part `storedFolder` is written to: "" (the current folder) or a
// path ending with '/'.
std::string DestinationFolder(const std::string& destDir, bool recreateDirs, const std::string& rootDir,
                              const std::string& storedFolder);

// Whether a stored name (folder part + file name part) has a ".." component.
bool HasParentComponent(const std::string& storedName);

}  // namespace archive::reader
