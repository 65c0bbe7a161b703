// The logger folder: where ZORVEL_Log3.exe, its DB folder, its settings and our tmp folder live.
//
// It is held as a path with exactly one trailing '/', so that every file of the logger is the folder
// followed by a relative part ("tmp/Backup.ini", "DB/*.*", "ZORVEL_Log3.exe") and no caller has to think
// about separators. It is always derived from the text of the logger-folder field: the text with a '/'
// appended, then every run of separators collapsed to one. "/x/Log", "/x/Log/" and "/x/Log//" all give
// "/x/Log/"; the root gives "/".
#pragma once

#include <QString>

namespace app {

// The logger folder for a field text.
QString LoggerFolderFromText(const QString& fieldText);

// The folder of an executable, up to and including the last separator ("/x/Log/ZORVEL_Backup" gives
// "/x/Log/"); empty when the path has no folder part.
QString ExecutableFolder(const QString& executablePath);

// The path the program was started by, symbolic links left as they are: a program reached through a
// link in the logger folder belongs to that folder. `argv0` with a '/' is taken against `currentDir`;
// a bare name is looked up in `pathVariable` (':'-separated, as the shell did). `resolvedPath` (the
// executable's real path) is the answer when neither finds a file.
QString StartedExecutablePath(const QString& argv0, const QString& currentDir, const QString& pathVariable,
                              const QString& resolvedPath);

}  // namespace app
