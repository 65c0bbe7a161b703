// TfmMain: building the window, its start-up and closing, and the small handlers.
//
// Start-up order matters and follows the user's view of the program:
//  1. construction (FormCreate): the logger folder from the executable's folder, the INI file name under
//     its tmp folder, the caption extended with version and build time;
//  2. first showing: FormStorage1 restores position and stored values (its hook runs before ours), then,
//     once the window is on the screen (queued after the show),
//     FormShow refreshes the catalogue from the stored backup folder, consults the guard and checks that
//     ZORVEL_Log3.exe is in the logger folder. A failed check closes the window -- queued, not at once:
//     the show is still under way, and before the message loop runs a direct close could not end it;
//  3. closing: FormCloseQuery stores the backup folder, after which FormStorage1 saves.
// While a command works (Panel3 disabled) the menu and close box stay live because the engine pumps
// messages; closing is then refused, since the command is still using the window and its files.
#include "app/window/main_window.h"
#include "app/native_path.h"

#include "app/backup_layout.h"
#include "app/commands/command_steps.h"
#include "app/logger_folder.h"
#include "app/platform/message_box_dialogs.h"
#include "app/version_stamp.h"
#include "archive/fs/fs.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/writer/vcl_zip.h"
#include "ui/directory_edit.h"
#include "ui/file_list_box.h"
#include "ui/form_storage.h"
#include "ui/ui_errors.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QVBoxLayout>

#include <utility>

namespace app {

TfmMain* fmMain = nullptr;

namespace {

// Stands in for the design-time "c:\": the user's home folder.
QString HomeFolder() { return QString::fromStdString(archive::fs::HomeDirectory()); }

QLabel* MakeLabel(const char* name, const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QCheckBox* MakeCheckBox(const char* name, const char* text, QWidget* parent) {
    auto* box = new QCheckBox(QString::fromLatin1(text), parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setChecked(false);
    return box;
}

QProgressBar* MakeProgressBar(const char* name, QWidget* parent) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedHeight(8);
    return bar;
}

// The status bar's one simple panel. It never widens the window: a text longer than the panel loses
// its middle (a path keeps its start and its file name), and the tooltip holds the whole text.
class StatusPanel : public QLabel {
public:
    using QLabel::QLabel;
    QString FullText() const { return full_; }
    void SetFullText(const QString& text) {
        full_ = text;
        setToolTip(text);
        Elide();
    }
    QSize sizeHint() const override { return QSize(0, QLabel::sizeHint().height()); }
    QSize minimumSizeHint() const override { return QSize(0, QLabel::minimumSizeHint().height()); }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        Elide();
    }

private:
    void Elide() { setText(fontMetrics().elidedText(full_, Qt::ElideMiddle, qMax(0, contentsRect().width()))); }
    QString full_;
};

}  // namespace

TfmMain::TfmMain(MainWindowServices services, QWidget* parent)
    : QMainWindow(parent),
      services_(std::move(services)),
      guard_(*services_.platform.processes, *services_.platform.dialogs, *services_.platform.windowCloser,
             *services_.platform.sleeper) {
    setObjectName(QStringLiteral("fmMain"));
    setWindowTitle(QString::fromLatin1(kProgramTitle));
    // Only the close box: no minimise or maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    // The design place; FormStorage1 moves the window to where the user left it.
    move(518, 168);

    BuildControls();
    BuildMenus();

    FormStorage1 = new ui::TFormStorage(this);
    FormStorage1->setObjectName(QStringLiteral("FormStorage1"));
    FormStorage1->SetOptions(ui::fpPosition);
    if (services_.formStore) FormStorage1->SetStore(services_.formStore);
    FormStorage1->ErrorReporter = [this](const QString& message) { ShowError(message); };
    ui::TStoredValue& selectedPath = FormStorage1->StoredValues().Add();
    selectedPath.SetName(QString::fromLatin1(kSelectedPathName));
    selectedPath.SetValue(ui::Variant(HomeFolder()));

    Zip = std::make_unique<archive::TVCLZip>(services_.host);
    ConfigureBackupWriter(*Zip);
    UnZip1 = std::make_unique<archive::TVCLUnZip>(services_.host);
    ConfigureRestoreReader(*UnZip1);

    catalogue_ = std::make_unique<Catalogue>(*DirectoryEdit1, *FileListBox1, *RectoreBT, *Label1, *FormStorage1);
    WireEvents();
    fmMain = this;

    Guarded([this] { FormCreate(this); });
}

TfmMain::~TfmMain() {
    // The store's last save (when the window never got to close) while the whole window still exists.
    FormStorage1->FormDestroy();
    // The controls outlive this body (they go with the QWidget part): nothing they raise while they are
    // taken down may reach handlers whose state is already gone.
    DirectoryEdit1->OnChange = nullptr;
    DirectoryEdit2->OnChange = nullptr;
    FileListBox1->OnChange = nullptr;
    if (fmMain == this) fmMain = nullptr;
}

void TfmMain::BuildControls() {
    auto* central = new QWidget(this);
    auto* centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(2);

    Panel3 = new QWidget(central);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    Panel3->setMinimumWidth(426);
    auto* panel = new QVBoxLayout(Panel3);
    panel->setContentsMargins(8, 8, 8, 6);
    panel->setSpacing(4);

    Label4 = MakeLabel("Label4", QStringLiteral("Directory with the backup:"), Panel3);
    DirectoryEdit1 = new ui::TDirectoryEdit(Panel3);
    DirectoryEdit1->setObjectName(QStringLiteral("DirectoryEdit1"));
    DirectoryEdit1->SetText(HomeFolder());
    Label3 = MakeLabel("Label3", QStringLiteral("Directory with the log:"), Panel3);
    DirectoryEdit2 = new ui::TDirectoryEdit(Panel3);
    DirectoryEdit2->setObjectName(QStringLiteral("DirectoryEdit2"));
    DirectoryEdit2->SetText(HomeFolder());
    // Neither folder field is reached with Tab: a stray key must not replace a folder or open the picker.
    // A click still puts the caret in it.
    DirectoryEdit1->setFocusPolicy(Qt::ClickFocus);
    DirectoryEdit2->setFocusPolicy(Qt::ClickFocus);
    // A typed backup folder is taken when the typing is finished, not at every keystroke.
    DirectoryEdit1->SetChangeDelay(kTypingPauseMs);
    panel->addWidget(Label4);
    panel->addWidget(DirectoryEdit1);
    panel->addSpacing(4);
    panel->addWidget(Label3);
    panel->addWidget(DirectoryEdit2);
    panel->addSpacing(6);

    auto* created = new QHBoxLayout;
    Label2 = MakeLabel("Label2", QStringLiteral("Backup created:"), Panel3);
    Label1 = MakeLabel("Label1", QString(40, QLatin1Char('.')), Panel3);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    created->addWidget(Label2);
    created->addWidget(Label1, 1);
    panel->addLayout(created);

    FileListBox1 = new ui::TFileListBox(Panel3);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));
    FileListBox1->SetShowGlyphs(true);
    FileListBox1->SetMask(QString::fromLatin1(kBackupMask));
    FileListBox1->setFixedHeight(124);
    panel->addWidget(FileListBox1);

    GroupBox1 = new QGroupBox(QStringLiteral("Restore option"), Panel3);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    auto* options = new QVBoxLayout(GroupBox1);
    cbAwards = MakeCheckBox("cbAwards", kAwardsCaption, GroupBox1);
    cbDB = MakeCheckBox("cbDB", kDatabaseCaption, GroupBox1);
    cbLogs = MakeCheckBox("cbLogs", kLogsCaption, GroupBox1);
    cbConfiguration = MakeCheckBox("cbConfiguration", kConfigurationCaption, GroupBox1);
    options->addWidget(cbAwards);
    options->addWidget(cbDB);
    options->addWidget(cbLogs);
    options->addWidget(cbConfiguration);
    panel->addWidget(GroupBox1);

    auto* buttons = new QHBoxLayout;
    RectoreBT = new QPushButton(QStringLiteral("Restore ZORVEL_Log backup"), Panel3);
    RectoreBT->setObjectName(QStringLiteral("RectoreBT"));
    RectoreBT->setEnabled(false);
    CreateBT = new QPushButton(QStringLiteral("Create ZORVEL_Log backup"), Panel3);
    CreateBT->setObjectName(QStringLiteral("CreateBT"));
    buttons->addWidget(RectoreBT);
    buttons->addWidget(CreateBT);
    panel->addLayout(buttons);

    // Scratch list of the design: never shown. The commands empty tmp by the very rule it lists files with
    // (ui::ListFolder), which needs no window.
    FileListBox2 = new ui::TFileListBox(Panel3);
    FileListBox2->setObjectName(QStringLiteral("FileListBox2"));
    FileListBox2->SetMask(QStringLiteral("*.*"));
    FileListBox2->setVisible(false);

    ProgressBar2 = MakeProgressBar("ProgressBar2", central);
    ProgressBar1 = MakeProgressBar("ProgressBar1", central);
    centralLayout->addWidget(Panel3);
    centralLayout->addWidget(ProgressBar2);
    centralLayout->addWidget(ProgressBar1);
    setCentralWidget(central);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    auto* statusPanel = new StatusPanel(StatusBar1);
    statusPanel->setObjectName(QStringLiteral("SimplePanel"));
    statusPanel->SetFullText(QString::fromLatin1(kProgramTitle));
    statusPanel_ = statusPanel;
    StatusBar1->addWidget(statusPanel_, 1);
    setStatusBar(StatusBar1);

    // The window takes the size of its contents and keeps it.
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TfmMain::BuildMenus() {
    MainMenu1 = menuBar();
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    Files1 = MainMenu1->addMenu(QStringLiteral("Files"));
    Files1->setObjectName(QStringLiteral("Files1"));
    Exit1 = Files1->addAction(QStringLiteral("Exit"));
    Exit1->setObjectName(QStringLiteral("Exit1"));
    About1 = MainMenu1->addAction(QStringLiteral("About"));
    About1->setObjectName(QStringLiteral("About1"));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Deletefile1 = PopupMenu1->addAction(QStringLiteral("Delete file"));
    Deletefile1->setObjectName(QStringLiteral("Deletefile1"));
    FileListBox1->setContextMenuPolicy(Qt::CustomContextMenu);
}

void TfmMain::WireEvents() {
    DirectoryEdit1->OnChange = [this](QObject* sender) { Guarded([&] { DirectoryEdit1Change(sender); }); };
    DirectoryEdit2->OnChange = [this](QObject* sender) { Guarded([&] { DirectoryEdit2Change(sender); }); };
    FileListBox1->OnChange = [this](QObject* sender) { Guarded([&] { FileListBox1Change(sender); }); };
    // The archive components report synchronously from inside their calls, on this thread.
    Zip->OnFilePercentDone = [this](archive::TVCLUnZip* sender, int percent) { ZipFilePercentDone(sender, percent); };
    Zip->OnTotalPercentDone = [this](archive::TVCLUnZip* sender, int percent) { ZipTotalPercentDone(sender, percent); };
    Zip->OnEndZip = [this](archive::TVCLZip* sender, const std::string& name, int64_t size, int64_t packed,
                           int64_t archiveSize) { ZipEndZip(sender, name, size, packed, archiveSize); };
    Zip->OnZipComplete = [this](archive::TVCLZip* sender, int count) { ZipZipComplete(sender, count); };
    UnZip1->OnFilePercentDone = [this](archive::TVCLUnZip* sender, int percent) { ZipFilePercentDone(sender, percent); };
    UnZip1->OnTotalPercentDone = [this](archive::TVCLUnZip* sender, int percent) { ZipTotalPercentDone(sender, percent); };
    UnZip1->OnEndUnZip = [this](archive::TVCLUnZip* sender, int index, const std::string& name) {
        UnZip1EndUnZip(sender, index, name);
    };
    UnZip1->OnUnZipComplete = [this](archive::TVCLUnZip* sender, int count) { UnZip1UnZipComplete(sender, count); };
    connect(FileListBox1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { PopupMenu1->popup(FileListBox1->viewport()->mapToGlobal(at)); });
    connect(Deletefile1, &QAction::triggered, this, [this] { Guarded([this] { Deletefile1Click(Deletefile1); }); });
    connect(Exit1, &QAction::triggered, this, [this] { Guarded([this] { Exit1Click(Exit1); }); });
    connect(About1, &QAction::triggered, this, [this] { Guarded([this] { About1Click(About1); }); });
    connect(CreateBT, &QPushButton::clicked, this, [this] { Guarded([this] { CreateBTClick(); }); });
    connect(RectoreBT, &QPushButton::clicked, this, [this] { Guarded([this] { RectoreBTClick(); }); });
}

void TfmMain::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowError(ui::ExceptionText(e));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error"));
    }
}

void TfmMain::ShowError(const QString& message) {
    if (services_.errorBox) {
        services_.errorBox(message);
        return;
    }
    platform::ShowMessageBox(this, QMessageBox::Critical, QString::fromLatin1(kProgramTitle), message, QMessageBox::Ok);
}

QString TfmMain::StatusText() const { return static_cast<StatusPanel*>(statusPanel_)->FullText(); }
void TfmMain::SetStatusText(const QString& text) { static_cast<StatusPanel*>(statusPanel_)->SetFullText(text); }

// ---- start-up and closing ----------------------------------------------------------------------------

void TfmMain::FormCreate(QObject*) {
    DirectoryEdit2->SetText(ExecutableFolder(services_.executablePath));
    loggerFolder_ = LoggerFolderFromText(DirectoryEdit2->Text());  // also when the text did not change
    Ini1.FileName = loggerFolder_ + QString::fromLatin1(kSettingsScratchFile);
    setWindowTitle(ExtendedCaption(windowTitle(), *services_.platform.version, services_.executablePath));
}

void TfmMain::FormShow(QObject*) {
    const auto closeSoon = [this] { QMetaObject::invokeMethod(this, [this] { close(); }, Qt::QueuedConnection); };
    catalogue_->StartStep();
    RemoveStaleScratchFiles(loggerFolder_, DirectoryEdit1->Text());
    if (!LoggerMayBeTouched()) {
        closeSoon();  // the guard's question was the message
        return;
    }
    if (!archive::fs::FileExists(Native(loggerFolder_ + QString::fromLatin1(kLoggerExecutable)))) {
        services_.platform.dialogs->Inform(QString::fromLatin1(kNotInLoggerFolder));
        closeSoon();
        return;
    }
    FileListBox1->setFocus();
    SetStatusText(windowTitle());
}

void TfmMain::FormCloseQuery(QObject*, bool& CanClose) {
    // A create or restore is still working (it pumps messages, so the close box and Exit reach us):
    // the window and the files it writes stay until it has finished.
    if (!Panel3->isEnabled()) {
        CanClose = false;
        return;
    }
    catalogue_->ClosingStep();
}

void TfmMain::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // The start checks run once the window is on the screen, so that it is there (and repaints) behind
    // the guard's question and all through its wait.
    if (!event->spontaneous())
        QMetaObject::invokeMethod(this, [this] { Guarded([this] { FormShow(this); }); }, Qt::QueuedConnection);
}

void TfmMain::closeEvent(QCloseEvent* event) {
    bool canClose = true;
    Guarded([&] { FormCloseQuery(this, canClose); });
    event->setAccepted(canClose);
}

// ---- small handlers ----------------------------------------------------------------------------------

void TfmMain::DirectoryEdit1Change(QObject*) { catalogue_->Refresh(); }

void TfmMain::DirectoryEdit2Change(QObject*) { loggerFolder_ = LoggerFolderFromText(DirectoryEdit2->Text()); }

void TfmMain::FileListBox1Change(QObject*) { catalogue_->SelectionChanged(); }

void TfmMain::Deletefile1Click(QObject*) { catalogue_->DeleteSelected(); }

void TfmMain::Exit1Click(QObject*) { close(); }

void TfmMain::About1Click(QObject*) { OpenAuthorWebPage(*services_.platform.web); }

// ---- helpers of the create and restore commands -------------------------------------------------------

QDateTime TfmMain::Now() const {
    return services_.clock ? services_.clock() : QDateTime::currentDateTime();
}

bool TfmMain::CommandMayStart() { return CommandMayStart(DirectoryEdit1->Text()); }

bool TfmMain::CommandMayStart(const QString& backupFolder) {
    if (!LoggerMayBeTouched()) {
        close();
        return false;
    }
    if (!archive::fs::DirectoryExists(Native(backupFolder))) {
        DirectoryEdit1->PerformButtonClick();
        return false;
    }
    return true;
}

bool TfmMain::LoggerMayBeTouched() {
    // The wait shows in the status bar, counting down, and the status comes back afterwards.
    const QString status = StatusText();
    guard_.OnWaiting = [this](int secondsLeft) {
        SetStatusText(QStringLiteral("Waiting for \"ZORVEL_Log 3\" to close: %1 s").arg(secondsLeft));
    };
    const bool mayTouch = guard_.Guard();
    guard_.OnWaiting = nullptr;
    SetStatusText(status);
    return mayTouch;
}

bool TfmMain::TakeRunLock(RunLock& lock, const std::vector<LockedFolder>& folders) {
    const QString status = StatusText();
    lock.OnWaiting = [this](const QString& folder, int secondsLeft) {
        SetStatusText(QStringLiteral("Waiting for another ZORVEL_Backup run to finish with %1: %2 s")
                          .arg(QDir::cleanPath(folder))
                          .arg(secondsLeft));
    };
    const bool taken = lock.Acquire(folders, services_.runLockWaitSeconds);
    lock.OnWaiting = nullptr;
    SetStatusText(status);
    if (!taken) services_.platform.dialogs->Warn(BusyRunText(lock.BusyFolder()));
    return taken;
}

void TfmMain::LockPanel() {
    focusBeforeLock_ = focusWidget();
    Panel3->setEnabled(false);
}

void TfmMain::UnlockPanel() {
    Panel3->setEnabled(true);
    // The focus goes back where it was (the button pressed, as a rule), never into a folder field by
    // chance: a stray key there would replace the folder.
    QWidget* back = focusBeforeLock_.data();
    focusBeforeLock_.clear();
    if (!back || back == DirectoryEdit1 || back == DirectoryEdit2 || !back->isEnabled() || !back->isVisible())
        back = FileListBox1;
    back->setFocus(Qt::OtherFocusReason);
}

void TfmMain::ReReadCatalogue(bool selectLast) {
    FileListBox1->ReloadFiles();
    if (!selectLast) return;
    FileListBox1->SetItemIndex(FileListBox1->Count() - 1);
    FileListBox1Change(FileListBox1);
}

void TfmMain::ReReadCatalogueKeepingSelection() {
    const QString name = QFileInfo(FileListBox1->SelectedFileName()).fileName();
    FileListBox1->ReloadFiles();
    for (int i = 0; i < FileListBox1->Count(); ++i)
        if (FileListBox1->ItemText(i) == name) FileListBox1->SetItemIndex(i);
    FileListBox1Change(FileListBox1);
}

void TfmMain::Done(const QString& text) { services_.platform.dialogs->Inform(text); }

void TfmMain::Incomplete(const QString& text) { services_.platform.dialogs->Warn(text); }

void TfmMain::Status(const QString& text) { SetStatusText(text); }

void TfmMain::BackupFolderChanged() { ReReadCatalogue(false); }

// ---- progress of the archive components --------------------------------------------------------------

void TfmMain::ZipFilePercentDone(archive::TVCLUnZip*, int Percent) { ProgressBar1->setValue(Percent); }

void TfmMain::ZipTotalPercentDone(archive::TVCLUnZip*, int Percent) { ProgressBar2->setValue(Percent); }

void TfmMain::ZipEndZip(archive::TVCLZip*, const std::string& FName, int64_t, int64_t, int64_t) {
    SetStatusText(QString::fromStdString(FName));
}

void TfmMain::ZipZipComplete(archive::TVCLZip*, int) {
    ProgressBar1->setValue(0);
    ProgressBar2->setValue(0);
}

void TfmMain::UnZip1EndUnZip(archive::TVCLUnZip*, int, const std::string& FName) {
    // The path as it is on disk ("DB/Logs.mdb"), not as the restore table spells the folder ("db/").
    SetStatusText(QString::fromStdString(archive::fs::Resolve(FName)));
}

void TfmMain::UnZip1UnZipComplete(archive::TVCLUnZip*, int) {
    ProgressBar1->setValue(0);
    ProgressBar2->setValue(0);
}

}  // namespace app
