// TSelectDirDlg: the built-in "Select Directory" dialog, and RunSelectDirDialog which runs it.
//
// A fixed-size modal dialog (client 424 x 255 at 96 pixels per inch, scaled by the ratio on other
// screens, centred) with the folder tree, a grey list of the files of the folder chosen in it, a chooser
// of the mounted file systems (where the logger's platform has drives), and OK / Cancel. The "Ne&twork..."
// button stays hidden: there is no network-connection dialog here. With help context 0 the "&Help"
// button is hidden and OK and Cancel move 84 pixels right.
//
// Start folder: the named folder (relative names against the current folder, letters in any case) when
// it exists, else the process's current folder. Result: the chosen folder as a full path without a
// trailing separator, "/" for the root. With sdAllowCreate an edit replaces the path label and the user
// may type a folder that does not exist yet; sdPrompt asks before accepting it, sdPerformCreate creates
// it with all missing levels.
//
// Every control has an object name (see below), so tests can find the dialog with
// QApplication::activeModalWidget() and drive it.
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace ui {

class TDirectoryTree;
class TFileListBox;

enum TSelectDirOpt { sdAllowCreate = 0x1, sdPerformCreate = 0x2, sdPrompt = 0x4 };
Q_DECLARE_FLAGS(TSelectDirOpts, TSelectDirOpt)
Q_DECLARE_OPERATORS_FOR_FLAGS(TSelectDirOpts)

class TSelectDirDlg : public QDialog {
    Q_OBJECT
public:
    // pixelsPerInch 0: the primary screen's.
    explicit TSelectDirDlg(TSelectDirOpts options, int helpContext = 0, QWidget* parent = nullptr,
                           int pixelsPerInch = 0);

    // Opens the dialog at start by the start-folder rule.
    void SetDirectory(const QString& start);
    // The folder the dialog returns (the typed one with sdAllowCreate).
    QString Directory() const;

    // Object names: "DirLabel", "DirPath", "DirEdit", "DirectoryLabel", "DirList", "FileLabel", "FileList",
    // "DriveLabel", "DriveList", "NetButton", "OKButton", "CancelButton", "HelpButton".
    TDirectoryTree* DirList() const { return dirList_; }
    TFileListBox* FileList() const { return fileList_; }
    QComboBox* DriveList() const { return driveList_; }

public slots:
    void accept() override;

private:
    void FolderChosen(const QString& folder);
    QRect Scaled(int left, int top, int width, int height) const;

    TSelectDirOpts options_;
    double scale_;
    QString directory_;
    QStringList drives_;
    QLabel* dirPath_;
    QLineEdit* dirEdit_;
    TDirectoryTree* dirList_;
    TFileListBox* fileList_;
    QComboBox* driveList_;
};

// Runs the dialog at directory; on OK stores the chosen folder in it and returns true.
bool RunSelectDirDialog(QString& directory, TSelectDirOpts options, int helpContext, QWidget* parent = nullptr);

}  // namespace ui
