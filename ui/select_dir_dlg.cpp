// Building, scaling and answering the "Select Directory" dialog.
#include "ui/select_dir_dlg.h"

#include "archive/fs/fs.h"
#include "ui/directory_tree.h"
#include "ui/file_list_box.h"
#include "ui/mounts.h"
#include "ui/window_placement.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace ui {

namespace fs = archive::fs;

namespace {

std::string Std(const QString& s) { return s.toStdString(); }
QString Qs(const std::string& s) { return QString::fromStdString(s); }

// A full, resolved path without a trailing separator ("/" stays).
QString FullFolder(const QString& path) {
    return Qs(fs::ExcludeTrailingSeparator(fs::Resolve(fs::ExpandFileName(Std(path)))));
}

}  // namespace

TSelectDirDlg::TSelectDirDlg(TSelectDirOpts options, int helpContext, QWidget* parent, int pixelsPerInch)
    : QDialog(parent), options_(options) {
    const int ppi = pixelsPerInch > 0 ? pixelsPerInch : ScreenPixelsPerInch();
    scale_ = ppi / 96.0;
    setObjectName("SelectDirDlg");
    setWindowTitle(QStringLiteral("Select Directory"));
    setModal(true);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(Scaled(0, 0, 424, 255).size());

    auto place = [this](QWidget* w, const char* name, int l, int t, int wd, int h) {
        w->setObjectName(QString::fromLatin1(name));
        QRect r = Scaled(l, t, wd, h);
        // Captions size themselves to their text, so a larger font never cuts them off.
        if (auto* label = qobject_cast<QLabel*>(w); label && !label->text().isEmpty())
            r.setSize(r.size().expandedTo(label->sizeHint()));
        w->setGeometry(r);
    };

    auto* dirLabel = new QLabel(QStringLiteral("Directory &Name:"), this);
    place(dirLabel, "DirLabel", 8, 8, 92, 13);
    dirPath_ = new QLabel(this);
    place(dirPath_, "DirPath", 8, 24, 313, 20);
    dirEdit_ = new QLineEdit(this);
    place(dirEdit_, "DirEdit", 8, 24, 313, 20);
    const bool allowCreate = options_.testFlag(sdAllowCreate);
    dirPath_->setVisible(!allowCreate);
    dirEdit_->setVisible(allowCreate);
    dirLabel->setBuddy(dirEdit_);

    auto* directoryLabel = new QLabel(QStringLiteral("&Directories:"), this);
    place(directoryLabel, "DirectoryLabel", 8, 56, 66, 13);
    dirList_ = new TDirectoryTree(this);
    place(dirList_, "DirList", 8, 72, 213, 138);
    directoryLabel->setBuddy(dirList_);
    if (!allowCreate) dirLabel->setBuddy(dirList_);  // the path label takes no input

    auto* fileLabel = new QLabel(QStringLiteral("&Files: (*.*)"), this);
    place(fileLabel, "FileLabel", 232, 56, 57, 13);
    fileList_ = new TFileListBox(this);
    place(fileList_, "FileList", 232, 72, 185, 93);
    fileLabel->setBuddy(fileList_);
    QPalette grey = fileList_->palette();
    grey.setColor(QPalette::Text, grey.color(QPalette::Disabled, QPalette::Text));
    fileList_->setPalette(grey);

    auto* driveLabel = new QLabel(QStringLiteral("D&rives:"), this);
    place(driveLabel, "DriveLabel", 232, 176, 41, 13);
    driveList_ = new QComboBox(this);
    place(driveList_, "DriveList", 232, 192, 185, 19);
    driveLabel->setBuddy(driveList_);
    drives_ = MountedFolders();
    driveList_->addItems(drives_);

    auto* netButton = new QPushButton(QStringLiteral("Ne&twork..."), this);
    place(netButton, "NetButton", 8, 224, 77, 27);
    netButton->setVisible(false);  // no network-connection dialog on this platform

    const int shift = helpContext == 0 ? 84 : 0;
    auto* okButton = new QPushButton(QStringLiteral("OK"), this);
    place(okButton, "OKButton", 172 + shift, 224, 77, 27);
    okButton->setDefault(true);
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    place(cancelButton, "CancelButton", 256 + shift, 224, 77, 27);
    auto* helpButton = new QPushButton(QStringLiteral("&Help"), this);
    place(helpButton, "HelpButton", 340, 224, 77, 27);
    helpButton->setVisible(helpContext != 0);

    connect(okButton, &QPushButton::clicked, this, &TSelectDirDlg::accept);
    connect(cancelButton, &QPushButton::clicked, this, &TSelectDirDlg::reject);
    connect(dirList_, &TDirectoryTree::DirectoryChanged, this, &TSelectDirDlg::FolderChosen);
    connect(driveList_, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < drives_.size()) dirList_->SetDirectory(drives_[index]);
    });

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    dirList_->setFocus();
}

QRect TSelectDirDlg::Scaled(int left, int top, int width, int height) const {
    return QRect(qRound(left * scale_), qRound(top * scale_), qRound(width * scale_), qRound(height * scale_));
}

void TSelectDirDlg::SetDirectory(const QString& start) {
    QString folder = start.isEmpty() ? QString() : FullFolder(start);
    if (folder.isEmpty() || !fs::DirectoryExists(Std(folder))) folder = FullFolder(Qs(fs::CurrentDirectory()));
    dirList_->SetDirectory(folder);
    FolderChosen(folder);
}

void TSelectDirDlg::FolderChosen(const QString& folder) {
    directory_ = folder;
    dirPath_->setText(dirPath_->fontMetrics().elidedText(folder, Qt::ElideMiddle, dirPath_->width()));
    dirPath_->setToolTip(folder);
    dirEdit_->setText(folder);
    try {
        fileList_->SetFolder(folder);
    } catch (const std::exception&) {
        fileList_->clear();  // an unreadable folder shows no files; the tree still shows it
    }
    const int drive = drives_.indexOf(MountOf(drives_, folder));
    if (drive >= 0) driveList_->setCurrentIndex(drive);
}

QString TSelectDirDlg::Directory() const {
    if (!options_.testFlag(sdAllowCreate)) return directory_;
    const QString typed = dirEdit_->text().trimmed();
    if (typed.isEmpty()) return directory_;
    const QString full = typed.startsWith(QLatin1Char('/')) ? typed : directory_ + QLatin1Char('/') + typed;
    return FullFolder(full);
}

void TSelectDirDlg::accept() {
    if (options_.testFlag(sdAllowCreate)) {
        const QString folder = Directory();
        if (!fs::DirectoryExists(Std(folder))) {
            if (options_.testFlag(sdPrompt) &&
                QMessageBox::question(this, QStringLiteral("Confirm"),
                                      QStringLiteral("The specified directory does not exist. Create it?"),
                                      QMessageBox::Yes | QMessageBox::No) != QMessageBox::Yes)
                return;
            if (options_.testFlag(sdPerformCreate) && !fs::ForceDirectories(Std(folder))) {
                QMessageBox::critical(this, windowTitle(),
                                      QStringLiteral("Unable to create directory \"%1\"").arg(folder));
                return;
            }
        }
    }
    QDialog::accept();
}

bool RunSelectDirDialog(QString& directory, TSelectDirOpts options, int helpContext, QWidget* parent) {
    TSelectDirDlg dialog(options, helpContext, parent);
    dialog.SetDirectory(directory);
    if (dialog.exec() != QDialog::Accepted) return false;
    directory = dialog.Directory();
    return true;
}

}  // namespace ui
