// TfmMain: the program's one window, and fmMain, its one instance.
//
// Top to bottom: the backup folder (Label4, DirectoryEdit1), the logger folder (Label3, DirectoryEdit2),
// the selected backup's creation time (Label2, Label1), the backup catalogue (FileListBox1, with the
// popup menu "Delete file"), the restore options (GroupBox1 with four check boxes), the restore and
// create buttons and the invisible scratch list FileListBox2 -- all on Panel3, which the create and
// restore commands disable while they work -- then the overall and per-file progress bars and the
// status bar. The menu bar has "Files" -> "Exit" and the command "About".
//
// The window derives the logger folder (always with exactly one trailing '/') from DirectoryEdit2, which
// starts as the executable's own folder. At first showing it refreshes the catalogue, consults the logger
// guard and refuses to run outside a logger folder; closing stores the backup folder, and FormStorage1
// keeps the window position and that folder between runs.
//
// Everything the window needs from outside comes through its constructor, so tests run it with fakes
// and a temporary "executable". Every handler that an event starts runs inside one wrapper (Guarded):
// an exception that escapes it is shown in the toolkit's error box and the handler ends there, while the
// window stays usable.
#pragma once

#include "app/backup_layout.h"
#include "app/window/catalogue.h"
#include "app/commands/reporter.h"
#include "app/commands/run_lock.h"
#include "app/logger_guard.h"
#include "app/platform/services.h"

#include <QDateTime>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAction;
class QCheckBox;
class QGroupBox;
class QLabel;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QStatusBar;

namespace archive {
class Host;
class TVCLUnZip;
class TVCLZip;
}  // namespace archive

namespace ui {
class FormStore;
class TDirectoryEdit;
class TFileListBox;
class TFormStorage;
}  // namespace ui

namespace app {

// A backup folder being typed is taken after this long without a keystroke (or at Enter, or when the
// focus leaves the field).
inline constexpr int kTypingPauseMs = 1500;

// What the window gets from outside.
struct MainWindowServices {
    // The guard's processes, close request, sleep and boxes; the registry snapshot; the web page; the
    // version stamp. All must be set.
    platform::Services platform;
    // Where FormStorage1 keeps its values; null means the product's QSettings store.
    std::shared_ptr<ui::FormStore> formStore;
    // The running program's full path: its folder starts as the logger folder, its version and time
    // extend the caption.
    QString executablePath;
    // The archive engine's boxes, dialogs, message pump and cursor.
    archive::Host* host = nullptr;
    // Shows the message of an exception that escaped a handler; empty means QMessageBox::critical.
    std::function<void(const QString& message)> errorBox;
    // The local time a backup is named after; empty means the system clock.
    std::function<QDateTime()> clock;
    // How long a create or restore waits for another run of the program on the same folders.
    int runLockWaitSeconds = kRunLockWaitSeconds;
};

// The INI-file component of the window: it only holds the file name the commands use (the logger's
// tmp/Backup.ini) and never opens, reads or writes a file itself.
struct TIniFile {
    QString FileName;
};

// The window is also the face the create and restore commands report into: their outcome in a box,
// their status in the status bar, a changed backup folder in the catalogue.
class TfmMain : public QMainWindow, public Reporter {
    Q_OBJECT
public:
    explicit TfmMain(MainWindowServices services, QWidget* parent = nullptr);
    ~TfmMain() override;

    // The logger folder, ending in exactly one '/'.
    QString LoggerFolder() const { return loggerFolder_; }
    // The status bar's one simple panel.
    QString StatusText() const;
    void SetStatusText(const QString& text);

    const MainWindowServices& Services() const { return services_; }
    LoggerGuard& Guard() { return guard_; }
    Catalogue& BackupCatalogue() { return *catalogue_; }

    // Runs a handler: an exception escaping it goes to the error box, and the handler ends there.
    void Guarded(const std::function<void()>& handler);

    // ---- controls, top to bottom ----
    QWidget* Panel3;
    QLabel* Label4;
    ui::TDirectoryEdit* DirectoryEdit1;
    QLabel* Label3;
    ui::TDirectoryEdit* DirectoryEdit2;
    QLabel* Label2;
    QLabel* Label1;
    ui::TFileListBox* FileListBox1;
    QGroupBox* GroupBox1;
    QCheckBox* cbAwards;
    QCheckBox* cbDB;
    QCheckBox* cbLogs;
    QCheckBox* cbConfiguration;
    QPushButton* RectoreBT;
    QPushButton* CreateBT;
    ui::TFileListBox* FileListBox2;
    QProgressBar* ProgressBar2;
    QProgressBar* ProgressBar1;
    QStatusBar* StatusBar1;
    // ---- menus ----
    QMenuBar* MainMenu1;
    QMenu* Files1;
    QAction* Exit1;
    QAction* About1;
    QMenu* PopupMenu1;
    QAction* Deletefile1;
    // ---- non-visual parts ----
    // The archive writer of the create command: recreates folders, replaces existing files, stores
    // paths and rebuilds an archive of the same name in place (zaReplace).
    std::unique_ptr<archive::TVCLZip> Zip;
    // The archive reader of the restore command: replaces existing files, flushes what it wrote.
    std::unique_ptr<archive::TVCLUnZip> UnZip1;
    ui::TFormStorage* FormStorage1;
    TIniFile Ini1;

    // ---- handlers ----
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormCloseQuery(QObject* Sender, bool& CanClose);
    void DirectoryEdit1Change(QObject* Sender);
    void DirectoryEdit2Change(QObject* Sender);
    void FileListBox1Change(QObject* Sender);
    void Deletefile1Click(QObject* Sender);
    void Exit1Click(QObject* Sender);
    void About1Click(QObject* Sender);
    // The archive components' progress, routed here from both of them.
    void ZipFilePercentDone(archive::TVCLUnZip* Sender, int Percent);
    void ZipTotalPercentDone(archive::TVCLUnZip* Sender, int Percent);
    void ZipEndZip(archive::TVCLZip* Sender, const std::string& FName, int64_t UncompressedSize,
                   int64_t CompressedSize, int64_t CurrentZipSize);
    void ZipZipComplete(archive::TVCLZip* Sender, int FileCount);
    void UnZip1EndUnZip(archive::TVCLUnZip* Sender, int FileIndex, const std::string& FName);
    void UnZip1UnZipComplete(archive::TVCLUnZip* Sender, int FileCount);

public slots:
    // The Create and Restore handlers (create_handler.cpp, restore_handler.cpp): the window's part of the
    // create and restore commands.
    void CreateBTClick();
    void RectoreBTClick();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void WireEvents();
    void ShowError(const QString& message);

    // Helpers of the two commands.
    QDateTime Now() const;
    // The first two steps of both commands: the guard (a logger that stays running ends the program) and
    // the backup folder (a missing one opens the folder picker). False when the command must stop. A
    // backup goes into the field's folder; a restore reads from the folder the catalogue lists, which
    // after a cancelled picker is not the one typed into the field.
    bool CommandMayStart();
    bool CommandMayStart(const QString& backupFolder);
    // The guard, with its wait counted down in the status bar.
    bool LoggerMayBeTouched();
    // The folders' run locks, a wait for another run counted down in the status bar; false (and the
    // user told) when another run kept one.
    bool TakeRunLock(RunLock& lock, const std::vector<LockedFolder>& folders);
    // Panel3 locked while a command works, and unlocked with the focus back where it was.
    void LockPanel();
    void UnlockPanel();
    // The catalogue re-read; with `selectLast` the newest backup is selected and shown.
    void ReReadCatalogue(bool selectLast);
    // Re-reads the list (a restore may have added its safety backup to it), keeping the row the user
    // has selected now (it may be another than the restored archive: the list stays live during the
    // question).
    void ReReadCatalogueKeepingSelection();

    // Reporter.
    void Done(const QString& text) override;
    void Incomplete(const QString& text) override;
    void Status(const QString& text) override;
    void BackupFolderChanged() override;

    MainWindowServices services_;
    LoggerGuard guard_;
    QString loggerFolder_;
    QLabel* statusPanel_ = nullptr;
    QPointer<QWidget> focusBeforeLock_;
    std::unique_ptr<Catalogue> catalogue_;  // made once the controls it works on exist
};

// The main window of the running program (set while it exists).
extern TfmMain* fmMain;

}  // namespace app
