// The setup command on the command line; see setup.h.
#include "app/cli/setup.h"

#include "app/commands/exit_codes.h"
#include "app/commands/setup_command.h"

#include <QCoreApplication>

namespace app::cli {

void AddSetupOptions(QCommandLineParser& parser, const QString& command) {
    if (command == QLatin1String("setup")) parser.addOption(QCommandLineOption(QStringLiteral("remove")));
}

int Setup(const QCommandLineParser& parser, TerminalReporter& term) {
    const QStringList folders = parser.positionalArguments().mid(1);
    if (folders.size() != 1) {
        term.Err(QStringLiteral("setup: name one ZORVEL_Log 3 folder: ZORVEL_Backup setup [--remove] LOGGER_FOLDER"));
        return kExitUsage;
    }
    // The links lead to the program's own file, wherever it was started from.
    SetupCommand command(QCoreApplication::applicationFilePath(), UserApplicationsFolder(),
                         [&](const QString& line) { term.Out(line); }, [&](const QString& line) { term.Err(line); });
    return parser.isSet(QStringLiteral("remove")) ? command.Remove(folders[0]) : command.Setup(folders[0]);
}

}  // namespace app::cli
