// One whole backup through the real window, offscreen, timed: the driver of bench/backup_compare.sh.
//
//   backup_driver LOGGER_FOLDER BACKUP_FOLDER
//
// Builds the product's TfmMain over LOGGER_FOLDER (which must hold ZORVEL_Log3.exe), with the product's
// engine host (it pumps Qt's events after every write, as the program does), the product's registry
// snapshot (no Wine prefix around the folder: the exports fail and the backup is made without them),
// and fakes only where a person would answer: no logger is running and every question gets Yes.
// Clicks "Create ZORVEL_Log backup" and prints the time the click took and the archive it made:
//
//   seconds 4.123456
//   archive /path/zorvel3_20261206103800.zip
//
// Exit code 0 when the window reported the backup ("Created file: ...", also in the warning that the
// registry snapshots are missing), 1 on any error box. With NO_VERIFY=1 in the environment the writer
// does not read the archive back (the program always does): what the read-back costs is the difference.
#include "app/window/main_window.h"
#include "app/platform/qt_process_runner.h"
#include "app/platform/wine_prefix.h"
#include "app/platform/wine_registry_snapshot.h"
#include "app/window/qt_host.h"
#include "archive/writer/vcl_zip.h"
#include "tests/app/support/fakes.h"
#include "ui/form_placement.h"
#include "ui/memory_form_store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>

#include <cstdio>

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LOGGER_FOLDER BACKUP_FOLDER\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QString logger = QString::fromLocal8Bit(argv[1]);
    if (!logger.endsWith(QLatin1Char('/'))) logger += QLatin1Char('/');
    const QString backups = QString::fromLocal8Bit(argv[2]);

    app::fakes::FakeServices fakes;  // nobody runs the logger; every question is answered Yes
    app::platform::QtProcessRunner runner;
    app::platform::WineRegistrySnapshot registry([] { return app::fmMain ? app::fmMain->LoggerFolder() : QString(); },
                                                 runner, app::platform::FindWineProgram());
    app::QtHost host;
    auto store = std::make_shared<ui::MemoryFormStore>();
    store->Plant(ui::TFormPlacement::DefaultStorageKey(), QStringLiteral("TfmMain"), QStringLiteral("SelectedPathName"),
                 backups);

    app::MainWindowServices services;
    services.platform = fakes.Get();
    services.platform.registry = &registry;
    services.formStore = store;
    services.executablePath = logger + QStringLiteral("ZORVEL_Backup");
    services.host = &host;
    int errors = 0;
    services.errorBox = [&errors](const QString& message) {
        ++errors;
        std::fprintf(stderr, "error box: %s\n", qPrintable(message));
    };

    app::TfmMain window(std::move(services));
    if (qEnvironmentVariable("NO_VERIFY") == QLatin1String("1")) window.Zip->VerifyArchive = false;
    window.show();
    QCoreApplication::processEvents();
    if (!window.isVisible() || !fakes.dialogs.Informations().isEmpty()) {
        std::fprintf(stderr, "the window did not start in %s\n", qPrintable(logger));
        return 1;
    }

    QElapsedTimer timer;
    timer.start();
    window.CreateBT->click();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;

    const QStringList told = fakes.dialogs.Informations() + fakes.dialogs.Warnings();
    const QString created = QStringLiteral("Created file: ");
    if (errors != 0 || told.size() != 1 || !told[0].startsWith(created)) return 1;
    std::printf("seconds %.6f\narchive %s\n", seconds, qPrintable(told[0].section(QLatin1Char('\n'), 0, 0).mid(created.size())));
    return 0;
}
