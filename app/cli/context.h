// What every command of the command line works from: the facts worked out at start, and the terminal.
#pragma once

#include "app/cli/terminal_reporter.h"

#include <QFileInfo>
#include <QString>

namespace app::cli {

struct Context {
    QString executablePath;
    QString loggerFolder;
    QString storedBackupFolder;  // the folder the window last used, read once
    TerminalReporter& term;
};

// A folder named on the command line, made absolute: the paths printed stay usable wherever a script
// goes next.
inline QString Absolute(const QString& folder) { return QFileInfo(folder).absoluteFilePath(); }

}  // namespace app::cli
