// Pure parsing of the per-process files under /proc, kept apart from the file reading so that it can
// be tested on recorded text.
//
// A process's name is the file-name part of its argv[0]: Wine starts a Windows program with argv[0]
// set to the program's Windows path ("C:\Program Files\ZORVEL\ZORVEL_Log3.exe"), so both '/' and '\'
// count as folder separators. When the command line is empty (kernel threads, or a process whose
// memory is already gone) the kernel's short name from `comm` stands in; it is cut to 15 bytes, which
// is the best there is.
#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace app::platform {

// The part of a path after its last '/' or '\' (the whole text when there is neither).
QString FileNamePart(const QString& path);

// The process name from the raw contents of /proc/<pid>/cmdline (NUL-separated arguments, possibly
// padded with NULs) and /proc/<pid>/comm (one line). Empty when both are empty.
QString ProcessNameFrom(const QByteArray& cmdline, const QByteArray& comm);

// The one-letter state from /proc/<pid>/stat ("R", "S", "Z", ...). The command name in the second
// field is in parentheses and may itself hold blanks and parentheses, so the state is found after the
// LAST ')'. nullopt when the text has no such shape.
std::optional<char> ProcessStateFromStat(const QByteArray& stat);

// Whether a directory name under /proc is a process identifier (all decimal digits); its value then.
std::optional<qint64> PidFromDirName(const QString& name);

}  // namespace app::platform
