// Entry of ZORVEL_Backup: the application object, its title, the main window fmMain, the message loop --
// or, when the first argument names a command (backup, list, verify, restore, watch, status, schedule,
// --help, --version), the command line without a window (app/cli).
//
// Here the window gets the real services: the process list from /proc, the close request through the
// Win32 helper in the logger's Wine prefix, real sleeps, Qt message boxes, the form state in QSettings
// and the engine's host on Qt. Everything ends when the window closes (also when a start check fails).
#include "app/cli/command_line.h"
#include "app/window/desktop_look.h"
#include "app/window/main_window.h"
#include "app/window/qt_host.h"
#include "app/startup_facts.h"
#include "ui/settings_form_store.h"

#include <QApplication>
#include <QDir>

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));
    if (app::cli::WantsCommandLine(arguments)) {
        // A command: no window and no display.
        QCoreApplication application(argc, argv);
        QCoreApplication::setApplicationName(QString::fromLatin1(app::kProgramTitle));
        return app::cli::RunCommandLine(QCoreApplication::arguments());
    }

    QApplication application(argc, argv);
    // The name only: a display name would be appended to every window title.
    QApplication::setApplicationName(QString::fromLatin1(app::kProgramTitle));
    app::ApplyDesktopLook();

    // The services ask the window for the logger folder whenever they need the Wine prefix.
    app::platform::LinuxServices services([] { return app::fmMain ? app::fmMain->LoggerFolder() : QString(); });
    app::QtHost host;

    app::MainWindowServices windowServices;
    windowServices.platform = services.Get();
    windowServices.formStore = std::make_shared<ui::SettingsFormStore>();
    // The path it was started by: a link in the logger folder stands for the program there.
    windowServices.executablePath = app::WorkOutStartupFacts(arguments, QDir::currentPath(), qEnvironmentVariable("PATH"),
                                                             QCoreApplication::applicationFilePath())
                                        .executablePath;
    windowServices.host = &host;

    app::TfmMain window(std::move(windowServices));
    services.SetDialogParent(&window);
    window.show();
    return application.exec();
}
