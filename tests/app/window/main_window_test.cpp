// The real main window, offscreen: its controls and menus, what it derives at creation, its start checks
// (outside a logger folder, with the logger running as a real process), closing while a command works,
// the error wrapper, the progress handlers, and what comes back after a restart.
#include "app/backup_layout.h"
#include "app/window/main_window.h"
#include "app/native_path.h"
#include "app/version_stamp.h"
#include "archive/errors.h"
#include "archive/fs/scratch.h"
#include "archive/reader/vcl_unzip.h"
#include "tests/app/support/own_processes.h"
#include "tests/app/support/window_rig.h"
#include "tests/ui/modal_driver.h"
#include "ui/settings_form_store.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSet>
#include <QStatusBar>
#include <QTimer>
#include <QtTest>

using namespace app;
using namespace app::testing;

namespace {

const QString kCaption = QStringLiteral("ZORVEL_Backup 3.1 -  ( 06.12.2026 10:38)");

int TopOf(QWidget* window, QWidget* widget) { return widget->mapTo(window, QPoint(0, 0)).y(); }
int LeftOf(QWidget* window, QWidget* widget) { return widget->mapTo(window, QPoint(0, 0)).x(); }

QStringList ActionTexts(const QWidget* widget) {
    QStringList texts;
    for (const QAction* action : widget->actions()) texts.append(action->text());
    return texts;
}

class ThrowingWebOpener : public platform::WebOpener {
public:
    void OpenWebPage(const QString&) override { throw archive::Exception("No browser could be started"); }
};

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void controlsCarryTheirTextsAndStartValues() {
        WindowRig rig;
        TfmMain& w = rig.Make();
        QCOMPARE(w.objectName(), QStringLiteral("fmMain"));
        QCOMPARE(fmMain, &w);
        QCOMPARE(w.Label4->text(), QStringLiteral("Directory with the backup:"));
        QCOMPARE(w.Label3->text(), QStringLiteral("Directory with the log:"));
        QCOMPARE(w.Label2->text(), QStringLiteral("Backup created:"));
        QVERIFY(w.Label1->font().bold());
        QVERIFY(!w.Label1->text().isEmpty());
        QVERIFY(w.Label1->text().count(QLatin1Char('.')) == w.Label1->text().size());
        QCOMPARE(w.DirectoryEdit1->Text(), rig.Home());  // stands in for "c:\"
        QCOMPARE(w.FileListBox1->Mask(), QStringLiteral("zorvel3*.zip"));
        QVERIFY(w.FileListBox1->ShowGlyphs());
        QCOMPARE(w.GroupBox1->title(), QStringLiteral("Restore option"));
        QCOMPARE(w.cbAwards->text(), QStringLiteral("Awards.mdb  (Statistic files)"));
        QCOMPARE(w.cbDB->text(), QStringLiteral("DB.mdb (Callbook, ... files)"));
        QCOMPARE(w.cbLogs->text(), QStringLiteral("Logs.mdb (Logs files)"));
        QCOMPARE(w.cbConfiguration->text(), QStringLiteral("Configuration files (*.ini, *.dat.*, *.qsl...)"));
        for (QCheckBox* box : {w.cbAwards, w.cbDB, w.cbLogs, w.cbConfiguration}) QVERIFY(!box->isChecked());
        QCOMPARE(w.RectoreBT->text(), QStringLiteral("Restore ZORVEL_Log backup"));
        QVERIFY(!w.RectoreBT->isEnabled());
        QCOMPARE(w.CreateBT->text(), QStringLiteral("Create ZORVEL_Log backup"));
        QVERIFY(w.CreateBT->isEnabled());
        QCOMPARE(w.FileListBox2->Mask(), QStringLiteral("*.*"));
        for (QProgressBar* bar : {w.ProgressBar1, w.ProgressBar2}) {
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), 100);
            QCOMPARE(bar->value(), 0);
        }
        QCOMPARE(w.StatusText(), QStringLiteral("ZORVEL_Backup"));
        QCOMPARE(w.FormStorage1->Options(), ui::TPlacementOptions(ui::fpPosition));
        QCOMPARE(w.FormStorage1->ReadStoredValue(QStringLiteral("SelectedPathName")).ToString(), rig.Home());

        // Menus: "Files" -> "Exit", the command "About" on the bar, "Delete file" on the catalogue.
        QCOMPARE(ActionTexts(w.MainMenu1), QStringList({QStringLiteral("Files"), QStringLiteral("About")}));
        QCOMPARE(w.MainMenu1->actions().at(1), w.About1);
        QVERIFY(!w.About1->menu());
        QCOMPARE(ActionTexts(w.Files1), QStringList({QStringLiteral("Exit")}));
        QCOMPARE(ActionTexts(w.PopupMenu1), QStringList({QStringLiteral("Delete file")}));
        QCOMPARE(w.FileListBox1->contextMenuPolicy(), Qt::CustomContextMenu);

        // Only a close box, and a window that takes the size of its contents.
        const Qt::WindowFlags flags = w.windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    }

    void controlsStandInTheOrderOfTheDesign() {
        WindowRig rig;
        TfmMain& w = rig.Start();
        QVERIFY(w.isVisible());
        QCOMPARE(w.minimumSize(), w.maximumSize());
        const QList<QWidget*> column = {w.Label4,    w.DirectoryEdit1, w.Label3, w.DirectoryEdit2,
                                        w.Label2,    w.FileListBox1,   w.GroupBox1, w.RectoreBT,
                                        w.ProgressBar2, w.ProgressBar1, w.StatusBar1};
        for (int i = 1; i < column.size(); ++i) {
            QVERIFY2(TopOf(&w, column[i - 1]) + column[i - 1]->height() <= TopOf(&w, column[i]) + 1,
                     qPrintable(column[i]->objectName()));
        }
        QCOMPARE(TopOf(&w, w.Label1), TopOf(&w, w.Label2));  // the time stands after its caption
        QVERIFY(LeftOf(&w, w.Label1) > LeftOf(&w, w.Label2));
        QCOMPARE(TopOf(&w, w.CreateBT), TopOf(&w, w.RectoreBT));
        QVERIFY(LeftOf(&w, w.CreateBT) > LeftOf(&w, w.RectoreBT));
        const QList<QWidget*> checks = {w.cbAwards, w.cbDB, w.cbLogs, w.cbConfiguration};
        for (int i = 1; i < checks.size(); ++i) QVERIFY(TopOf(&w, checks[i - 1]) < TopOf(&w, checks[i]));
        // Everything but the progress bars and the status bar is on Panel3.
        for (QWidget* widget : column) {
            const bool onPanel = w.Panel3->isAncestorOf(widget);
            QCOMPARE(onPanel, widget != w.ProgressBar1 && widget != w.ProgressBar2 && widget != w.StatusBar1);
        }
        QVERIFY(w.Panel3->isAncestorOf(w.FileListBox2));
        QVERIFY(!w.FileListBox2->isVisible());
        // Every text fits its control.
        for (QLabel* label : {w.Label4, w.Label3, w.Label2})
            QVERIFY(label->width() >= label->sizeHint().width());
        for (QWidget* button : {static_cast<QWidget*>(w.RectoreBT), static_cast<QWidget*>(w.CreateBT),
                                static_cast<QWidget*>(w.cbConfiguration)})
            QVERIFY(button->width() >= button->sizeHint().width());
    }

    void creationDerivesLoggerFolderIniFileAndCaption() {
        WindowRig rig;
        TfmMain& w = rig.Make();
        QCOMPARE(w.DirectoryEdit2->Text(), rig.LoggerFolder());
        QCOMPARE(w.LoggerFolder(), rig.LoggerFolder());
        QVERIFY(w.LoggerFolder().endsWith(QStringLiteral("/Log/")));
        QCOMPARE(w.Ini1.FileName, rig.LoggerFolder() + QStringLiteral("tmp/Backup.ini"));
        QCOMPARE(w.windowTitle(), kCaption);
        QCOMPARE(rig.fakes.version.paths.value(0), rig.Executable());
    }

    void loggerFolderFollowsTheField_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("folder");
        QTest::newRow("plain") << "/x/Log" << "/x/Log/";
        QTest::newRow("trailing") << "/x/Log/" << "/x/Log/";
        QTest::newRow("doubled") << "/x/Log//" << "/x/Log/";
    }
    void loggerFolderFollowsTheField() {
        QFETCH(QString, text);
        QFETCH(QString, folder);
        WindowRig rig;
        TfmMain& w = rig.Make();
        w.DirectoryEdit2->SetText(text);
        QCOMPARE(w.LoggerFolder(), folder);
    }

    // Also: debris of a run that died (stale scratch files) goes from the backup folder, the logger
    // folder, its DB and its tmp; a scratch file still held by a running instance stays, and so does a
    // user's own file that merely has a scratch file's name.
    void startInTheLoggerFolderFocusesTheCatalogueAndSweepsDebris() {
        WindowRig rig;
        QStringList stale;
        for (const QString& folder : {rig.Home() + "/", rig.LoggerFolder(), rig.LoggerFolder() + "DB/",
                                      rig.LoggerFolder() + "tmp/"}) {
            QDir().mkpath(folder);
            const std::string name = testing_support::DebrisOfAKilledMaker(folder.toStdString());
            QVERIFY2(!name.empty(), qPrintable(folder));
            stale.append(folder + QString::fromStdString(name));
        }
        const QStringList users = {rig.Home() + "/.zbk-a1B2c3", rig.LoggerFolder() + ".zbk-d4E5f6"};
        for (const QString& file : users) testing_support::WriteFile(file.toStdString(), "the user's own");
        const archive::fs::ScratchFile live = archive::fs::ScratchFile::Create((rig.LoggerFolder() + "DB").toStdString());
        TfmMain& w = rig.Start();
        for (const QString& file : stale) QVERIFY2(!QFileInfo::exists(file), qPrintable(file));
        for (const QString& file : users) QVERIFY2(QFileInfo::exists(file), qPrintable(file));
        QVERIFY(QFileInfo::exists(QString::fromStdString(live.Path())));
        QVERIFY(w.isVisible());
        QVERIFY(rig.fakes.dialogs.boxes.empty());
        QCOMPARE(w.StatusText(), kCaption);
        QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.FileListBox1));
        QVERIFY(rig.errors.isEmpty());
    }

    void executableFoundIgnoringCase() {
        WindowRig rig(false);
        rig.Touch(QStringLiteral("Log/zorvel_log3.EXE"));
        TfmMain& w = rig.Start();
        QVERIFY(rig.fakes.dialogs.boxes.empty());
        QVERIFY(w.isVisible());
    }

    // Outside a logger folder: the message, then the window closes; the closing step still stores the
    // backup folder the field shows at that moment.
    void startOutsideALoggerFolderTellsAndCloses() {
        WindowRig rig(false);
        TfmMain& w = rig.Make();
        w.show();  // FormShow follows from the event loop once the window is up, and the close after it
        QCoreApplication::processEvents();
        QCOMPARE(rig.fakes.dialogs.Informations(), QStringList({QString::fromLatin1(kNotInLoggerFolder)}));
        QVERIFY(rig.fakes.dialogs.Questions().isEmpty());
        w.DirectoryEdit1->SetText(rig.Backups());
        QTRY_VERIFY(!w.isVisible());
        QCOMPARE(rig.StoredText(QStringLiteral("SelectedPathName")), rig.Backups());
        QVERIFY(rig.errors.isEmpty());
    }

    // The logger runs as a real process whose argv[0] is a Windows path; No ends the program at once,
    // before the folder is even looked at (this one has no ZORVEL_Log3.exe, and nothing is said of it).
    void loggerRunningAndAnswerNoCloses() {
        QProcess logger;
        QVERIFY(StartNamedProcess(logger, QStringLiteral("C:\\Program Files\\ZORVEL Log 3\\ZORVEL_Log3.exe"), 30));
        WindowRig rig(false);
        fakes::OwnProcessList processes;
        rig.fakes.dialogs.answers = {false};
        MainWindowServices services = rig.Services();
        services.platform.processes = &processes;
        TfmMain& w = rig.Start(std::move(services));
        QCOMPARE(rig.fakes.dialogs.Questions(), QStringList({QString::fromLatin1(kCloseLoggerQuestion)}));
        QVERIFY(rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(rig.fakes.windowCloser.requests.isEmpty());
        QCOMPARE(rig.fakes.sleeper.Count(), 0);
        QTRY_VERIFY(!w.isVisible());
        logger.kill();
        logger.waitForFinished(5000);
    }

    // Yes: the entry window is asked to close and the guard waits; the logger ends after about a second
    // and the program goes on with its start.
    void loggerRunningAnswerYesAndItEndsProceeds() {
        QProcess logger;
        QVERIFY(StartNamedProcess(logger, QStringLiteral("Z:\\opt\\ZORVEL_Log3.exe"), 1));
        WindowRig rig;
        fakes::OwnProcessList processes;
        ShortRealSleeper sleeper(100);
        MainWindowServices services = rig.Services();
        services.platform.processes = &processes;
        services.platform.sleeper = &sleeper;
        QElapsedTimer timer;
        timer.start();
        TfmMain& w = rig.Start(std::move(services));
        QVERIFY(timer.elapsed() >= 700);
        QCOMPARE(rig.fakes.dialogs.Questions().size(), 1);
        QCOMPARE(rig.fakes.windowCloser.requests, QStringList({QStringLiteral("TfmEditNewQso")}));
        QVERIFY(sleeper.count >= 1 && sleeper.count < 29);
        QVERIFY(rig.fakes.dialogs.Informations().isEmpty());
        QVERIFY(w.isVisible());
        QCOMPARE(w.StatusText(), kCaption);
        logger.waitForFinished(5000);
    }

    // Yes, but the logger never ends: 29 sleeps, then the program closes without a message of its own.
    void loggerThatNeverEndsClosesAfterTheWait() {
        QProcess logger;
        QVERIFY(StartNamedProcess(logger, QStringLiteral("C:\\ZORVEL_Log3.exe"), 60));
        WindowRig rig;
        fakes::OwnProcessList processes;
        MainWindowServices services = rig.Services();
        services.platform.processes = &processes;
        QStringList shown;  // the status bar counts the wait down
        rig.fakes.sleeper.onSleep = [&](int) { shown.append(fmMain->StatusText()); };
        TfmMain& w = rig.Start(std::move(services));
        QCOMPARE(rig.fakes.sleeper.Count(), 29);
        QCOMPARE(shown.size(), 29);
        QCOMPARE(shown.first(), QStringLiteral("Waiting for \"ZORVEL_Log 3\" to close: 29 s"));
        QCOMPARE(shown.last(), QStringLiteral("Waiting for \"ZORVEL_Log 3\" to close: 1 s"));
        QVERIFY(rig.fakes.dialogs.Informations().isEmpty());
        QTRY_VERIFY(!w.isVisible());
        logger.kill();
        logger.waitForFinished(5000);
    }

    void closingIsRefusedWhileACommandWorks() {
        WindowRig rig;
        TfmMain& w = rig.Start();
        w.Panel3->setEnabled(false);
        QVERIFY(!w.close());
        w.Exit1->trigger();
        QVERIFY(w.isVisible());
        w.Panel3->setEnabled(true);
        w.Exit1->trigger();
        QVERIFY(!w.isVisible());
    }

    void aFailingHandlerShowsTheErrorAndTheWindowStaysUsable() {
        WindowRig rig;
        ThrowingWebOpener web;
        MainWindowServices services = rig.Services();
        services.platform.web = &web;
        TfmMain& w = rig.Start(std::move(services));
        w.About1->trigger();
        QCOMPARE(rig.errors, QStringList({QStringLiteral("No browser could be started")}));
        QVERIFY(w.isVisible());
        w.About1->trigger();
        QCOMPARE(rig.errors.size(), 2);
        w.Exit1->trigger();
        QVERIFY(!w.isVisible());
    }

    void theErrorBoxIsTheToolkitsCriticalBox() {
        WindowRig rig;
        ThrowingWebOpener web;
        MainWindowServices services = rig.Services();
        services.platform.web = &web;
        services.errorBox = nullptr;
        TfmMain& w = rig.Start(std::move(services));
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        WhenModal<QMessageBox>([&](QMessageBox* box) {
            text = box->text();
            icon = box->icon();
            box->accept();
        });
        w.About1->trigger();
        QCOMPARE(text, QStringLiteral("No browser could be started"));
        QCOMPARE(icon, QMessageBox::Critical);
        QVERIFY(w.isVisible());
    }

    // The window as a keyboard user meets it: Tab never lands in a folder field (before and after a
    // backup), a backup folder typed key by key opens no picker half-way and is taken at Enter, and
    // neither a long status text nor a long folder changes the window's size.
    void keyboardTypingAndLongTextsKeepTheWindowSteady() {
        WindowRig rig;
        testing_support::MakeDirs((rig.Root() + "/typed here").toStdString());
        rig.Touch("typed here/zorvel3_20250101120000.zip");
        TfmMain& w = rig.Start();
        const QSize size = w.size();
        int pickers = 0;  // any modal box that comes up is counted and closed
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                ++pickers;
                modal->close();
            }
        });
        closer.start(20);
        const auto tabRound = [&] {
            QSet<QWidget*> reached;
            for (int i = 0; i < 16; ++i) {
                QTest::keyClick(w.focusWidget(), Qt::Key_Tab);
                reached.insert(w.focusWidget());
            }
            return reached;
        };
        QSet<QWidget*> reached = tabRound();
        QVERIFY(reached.contains(w.CreateBT) && reached.contains(w.cbLogs) && reached.contains(w.FileListBox1));
        QVERIFY(!reached.contains(w.DirectoryEdit1) && !reached.contains(w.DirectoryEdit2));

        w.DirectoryEdit1->setFocus();
        w.DirectoryEdit1->selectAll();
        QTest::keyClicks(w.DirectoryEdit1, rig.Root() + "/typed here");  // "/t", "/tm", ... name no folder
        QCOMPARE(pickers, 0);
        QVERIFY(rig.Items().isEmpty());
        QTest::keyClick(w.DirectoryEdit1, Qt::Key_Return);
        QCOMPARE(rig.Items(), QStringList({"zorvel3_20250101120000.zip"}));
        // A pause ends the typing too.
        QTest::keyClicks(w.DirectoryEdit1, "/nowhere");
        QCOMPARE(pickers, 0);
        QTRY_COMPARE_WITH_TIMEOUT(pickers, 1, kTypingPauseMs + 3000);

        const QString longText = rig.Root() + "/" + QString(400, QLatin1Char('x')) + "/DB/Logs.mdb";
        w.SetStatusText(longText);
        QCoreApplication::processEvents();
        auto* panel = w.StatusBar1->findChild<QLabel*>(QStringLiteral("SimplePanel"));
        QCOMPARE(w.StatusText(), longText);
        QCOMPARE(panel->toolTip(), longText);
        QVERIFY(panel->text().contains(QChar(0x2026)) && panel->text().endsWith("/DB/Logs.mdb"));
        QCOMPARE(w.size(), size);

        w.DirectoryEdit1->SetText(rig.Root() + "/typed here");
        w.CreateBT->setFocus();
        w.CreateBT->click();  // the fake boxes answer Yes
        QCOMPARE(rig.Items().size(), 2);
        QVERIFY(w.StatusText().startsWith("Created file: "));
        QCoreApplication::processEvents();
        QCOMPARE(w.size(), size);
        QCOMPARE(w.focusWidget(), static_cast<QWidget*>(w.CreateBT));
        reached = tabRound();
        QVERIFY(!reached.contains(w.DirectoryEdit1) && !reached.contains(w.DirectoryEdit2));
        QCOMPARE(pickers, 1);
    }

    // A folder typed without Enter is taken when the mouse moves the focus to the list; the click then
    // lands below the new list's one row. Nothing is highlighted, so nothing is offered: no date, no
    // restore, and a press on the button asks nothing. A row clicked afterwards is the one the label
    // dates and the one the restore reads.
    void typedFolderThenAClickBelowTheRowsOffersNothing() {
        WindowRig rig;
        rig.Touch(QStringLiteral("backups/zorvel3_20250101000000.zip"));
        rig.Touch(QStringLiteral("backups/zorvel3_20261206103800.zip"));
        const QString other = rig.Root() + QStringLiteral("/other");
        const QString archive = other + QStringLiteral("/zorvel3_20240303101000.zip");
        testing_support::WriteFile(archive.toStdString(), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
        rig.PlantStored(QString::fromLatin1(kSelectedPathName), rig.Backups());
        TfmMain& w = rig.Start();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.cbLogs->setChecked(true);
        QCOMPARE(w.Label1->text(), QStringLiteral("06.12.2026 at 10:38"));

        w.DirectoryEdit1->setFocus();
        w.DirectoryEdit1->selectAll();
        QTest::keyClicks(w.DirectoryEdit1, other);
        QTest::mouseClick(w.FileListBox1->viewport(), Qt::LeftButton, {},
                          QPoint(10, w.FileListBox1->viewport()->height() - 5));
        QCOMPARE(w.FileListBox1->Folder(), other);
        QCOMPARE(rig.Items(), QStringList({QStringLiteral("zorvel3_20240303101000.zip")}));
        QVERIFY(w.FileListBox1->selectedItems().isEmpty());
        QCOMPARE(w.Label1->text(), QString());
        QVERIFY(!w.RectoreBT->isEnabled());
        QTest::mouseClick(w.RectoreBT, Qt::LeftButton);
        QVERIFY(rig.fakes.dialogs.boxes.empty());

        QTest::mouseClick(w.FileListBox1->viewport(), Qt::LeftButton, {},
                          w.FileListBox1->visualItemRect(w.FileListBox1->item(0)).center());
        QCOMPARE(w.Label1->text(), QStringLiteral("03.03.2024 at 10:10"));
        QVERIFY(w.RectoreBT->isEnabled());
        QTest::mouseClick(w.RectoreBT, Qt::LeftButton);
        QCOMPARE(rig.fakes.dialogs.Questions(), QStringList({QString::fromLatin1(kRestoreQuestion)}));
        QCOMPARE(w.UnZip1->ZipName(), Native(archive));
        QVERIFY2(rig.errors.isEmpty(), qPrintable(rig.errors.join('\n')));
    }

    void aboutOpensTheAuthorsPage() {
        WindowRig rig;
        TfmMain& w = rig.Start();
        w.About1->trigger();
        QCOMPARE(rig.fakes.web.addresses, QStringList({QString::fromLatin1(kAuthorWebPage)}));
    }

    void progressHandlersMoveBarsAndStatus() {
        WindowRig rig;
        TfmMain& w = rig.Start();
        w.ZipFilePercentDone(nullptr, 40);
        w.ZipTotalPercentDone(nullptr, 7);
        QCOMPARE(w.ProgressBar1->value(), 40);
        QCOMPARE(w.ProgressBar2->value(), 7);
        w.ZipEndZip(nullptr, "/x/Log/DB/Logs.mdb", 100, 40, 140);
        QCOMPARE(w.StatusText(), QStringLiteral("/x/Log/DB/Logs.mdb"));
        w.ZipZipComplete(nullptr, 12);
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.ProgressBar2->value(), 0);
        w.ZipFilePercentDone(nullptr, 100);
        w.ZipTotalPercentDone(nullptr, 55);
        w.UnZip1EndUnZip(nullptr, 3, "/x/Log/Config.ini");
        QCOMPARE(w.StatusText(), QStringLiteral("/x/Log/Config.ini"));
        // The restore writes into "db/"; the status names the folder as the disk spells it.
        w.UnZip1EndUnZip(nullptr, 4, (rig.LoggerFolder() + "db/Logs.mdb").toStdString());
        QCOMPARE(w.StatusText(), rig.LoggerFolder() + "DB/Logs.mdb");
        w.UnZip1UnZipComplete(nullptr, 4);
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.ProgressBar2->value(), 0);
    }

    // The restore command's reader is wired to the same handlers: a real extraction moves the bars,
    // names each written file in the status bar and leaves both bars at 0.
    void unZip1ReportsIntoTheBarsAndTheStatusBar() {
        WindowRig rig;
        testing_support::WriteFile(rig.Root().toStdString() + "/src/Config.ini", testing_support::TextBytes(200000, 1));
        testing_support::WriteFile(rig.Root().toStdString() + "/src/Bands.dat", testing_support::TextBytes(3000, 2));
        const auto zipped = testing_support::Run("cd " + testing_support::ShellQuote(rig.Root().toStdString() + "/src") +
                                                 " && zip -q ../b.zip Config.ini Bands.dat");
        QCOMPARE(zipped.exitCode, 0);
        TfmMain& w = rig.Start();
        QCOMPARE(w.UnZip1->OverwriteMode, archive::Always);
        QVERIFY(w.UnZip1->FlushFilesOnClose);
        int fileMax = 0, totalMax = 0;
        connect(w.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { fileMax = qMax(fileMax, v); });
        connect(w.ProgressBar2, &QProgressBar::valueChanged, [&](int v) { totalMax = qMax(totalMax, v); });
        w.UnZip1->SetZipName((rig.Root() + QStringLiteral("/b.zip")).toStdString());
        w.UnZip1->SetDestDir((rig.Root() + QStringLiteral("/out")).toStdString());
        w.UnZip1->DoAll = true;
        QCOMPARE(w.UnZip1->UnZip(), 2);
        QCOMPARE(fileMax, 100);
        QCOMPARE(totalMax, 100);
        QCOMPARE(w.ProgressBar1->value(), 0);
        QCOMPARE(w.ProgressBar2->value(), 0);
        QVERIFY2(w.StatusText().startsWith(rig.Root() + QStringLiteral("/out/")), qPrintable(w.StatusText()));
    }

    void backupFolderAndPositionComeBackAfterARestart() {
        WindowRig rig;
        rig.Touch(QStringLiteral("backups/zorvel3_20261206103800.zip"));
        TfmMain& first = rig.Start();
        first.move(300, 200);
        first.DirectoryEdit1->SetText(rig.Backups());
        TfmMain& second = rig.Restart();
        QCOMPARE(second.pos(), QPoint(300, 200));
        QCOMPARE(second.DirectoryEdit1->Text(), rig.Backups());
        QCOMPARE(second.Label1->text(), QStringLiteral("06.12.2026 at 10:38"));
    }

    // The same with the product's store: an INI file under the user's configuration folder.
    void restartWithTheSettingsStore() {
        WindowRig rig;
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, rig.Root() + QStringLiteral("/config"));
        const auto start = [&] {
            MainWindowServices services = rig.Services();
            services.formStore = std::make_shared<ui::SettingsFormStore>();
            return &rig.Start(std::move(services));
        };
        TfmMain* w = start();
        w->move(240, 130);
        w->DirectoryEdit1->SetText(rig.Backups());
        w->close();
        rig.window.reset();
        QSettings ini(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Software"),
                      QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName());
        QCOMPARE(ini.value(QStringLiteral("TfmMain/SelectedPathName")).toString(), rig.Backups());
        w = start();
        QCOMPARE(w->pos(), QPoint(240, 130));
        QCOMPARE(w->DirectoryEdit1->Text(), rig.Backups());
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
