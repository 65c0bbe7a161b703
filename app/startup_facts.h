// What both faces work out once at start: where the program was started from, the logger folder that
// follows from it, and the backup folder the window last used.
//
// The program may stand in the logger folder as a link (to a build, or to an installed copy): the path
// it was started by is then the link's, and the logger folder is the link's folder, for the window and
// the command line alike. The remembered backup folder is read from the window's stored form state
// (under the program's own settings key), the user's home folder when none is stored.
#pragma once

#include <QString>
#include <QStringList>

namespace app {

struct StartupFacts {
    QString executablePath;          // as started; a link in the logger folder stands for the program there
    QString loggerFolder;            // its folder, ending with exactly one '/'
    QString rememberedBackupFolder;  // the backup folder the window last used
};

// The facts for a process started with `arguments` (argv[0] first) in `currentDir` with this PATH;
// `resolvedPath` is the program's own file with every link resolved (the last resort).
StartupFacts WorkOutStartupFacts(const QStringList& arguments, const QString& currentDir, const QString& pathVariable,
                                 const QString& resolvedPath);

// The backup folder the window last stored; the home folder when none is stored or the store cannot be read.
QString RememberedBackupFolder();

}  // namespace app
