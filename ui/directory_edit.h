// TDirectoryEdit: a folder field whose button picks a folder in a modal dialog.
//
// The button shows the small folder glyph. ChooseFolder (the button's action): OnButtonClick; then
// OnBeforeDialog may change the start folder or cancel; the start is the field's text, or InitialDir when
// the text is empty, and the process's current folder when it names no existing folder (names are looked
// up ignoring case); the dialog runs (dkVCL: the built-in "Select Directory" dialog with DialogOptions;
// dkWin32: the toolkit's folder chooser with DialogText as its caption); the field takes the focus;
// OnAfterDialog sees the result; on OK the selected text is deleted and the chosen folder replaces the
// text, or with MultipleDirs is appended after ";" to a non-empty text. Each change of the text raises
// OnChange. InitialDir follows every successful choice of an existing folder. Cancel changes nothing.
#pragma once

#include "ui/combo_edit.h"
#include "ui/select_dir_dlg.h"

namespace ui {

enum TDirDialogKind { dkVCL, dkWin32 };

class TDirectoryEdit : public TCustomComboEdit {
    Q_OBJECT
public:
    using TExecOpenDialogEvent = std::function<void(QObject* sender, QString& name, bool& action)>;

    explicit TDirectoryEdit(QWidget* parent = nullptr);

    TDirDialogKind DialogKind() const { return dialogKind_; }
    void SetDialogKind(TDirDialogKind kind) { dialogKind_ = kind; }
    QString DialogText() const { return dialogText_; }
    void SetDialogText(const QString& text) { dialogText_ = text; }
    TSelectDirOpts DialogOptions() const { return dialogOptions_; }
    void SetDialogOptions(TSelectDirOpts options) { dialogOptions_ = options; }
    QString InitialDir() const { return initialDir_; }
    void SetInitialDir(const QString& folder) { initialDir_ = folder; }
    bool MultipleDirs() const { return multipleDirs_; }
    void SetMultipleDirs(bool multiple) { multipleDirs_ = multiple; }
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int context) { helpContext_ = context; }

    TExecOpenDialogEvent OnBeforeDialog;
    TExecOpenDialogEvent OnAfterDialog;

protected:
    void ButtonClick() override;

private:
    void ChooseFolder();

    TDirDialogKind dialogKind_ = dkVCL;
    QString dialogText_;
    TSelectDirOpts dialogOptions_;
    QString initialDir_;
    bool multipleDirs_ = false;
    int helpContext_ = 0;
};

}  // namespace ui
