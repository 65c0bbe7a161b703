// `setup [--remove] LOGGER_FOLDER` on the command line (app/commands/setup_command.h). It runs before
// the logger-folder check the other commands make: it is how an installed program, which stands in no
// logger folder, gets into one.
#pragma once

#include "app/cli/terminal_reporter.h"

#include <QCommandLineParser>
#include <QString>

namespace app::cli {

void AddSetupOptions(QCommandLineParser& parser, const QString& command);

// Links the running program into the folder named and adds its menu entry (or, with --remove, takes
// them away); the exit code.
int Setup(const QCommandLineParser& parser, TerminalReporter& term);

}  // namespace app::cli
