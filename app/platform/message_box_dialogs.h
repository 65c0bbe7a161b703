// Dialogs as Qt message boxes, titled with the application's name and centred on a parent window.
//
// Every box of the program (these, the engine's and the error box) is made by ShowMessageBox, which gives
// it the desktop's look: the icon theme's question, information, warning and error pictures (the style's
// own where the theme has none), buttons with the theme's pictures or none at all, and a width that
// leaves room for the whole title next to the window manager's title-bar buttons.
#pragma once

#include "app/platform/dialogs.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace app::platform {

class MessageBoxDialogs : public Dialogs {
public:
    // `parent` may be null (then the boxes are centred on the screen) and may be set later.
    explicit MessageBoxDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    bool Confirm(const QString& text) override;
    void Inform(const QString& text) override;
    void Warn(const QString& text) override;

private:
    QPointer<QWidget> parent_;
};

// Gives a box made elsewhere the look described above (called by ShowMessageBox before it shows).
void PrepareMessageBox(QMessageBox& box);

// The least width of a box titled `title`: the title's text plus the window manager's icon and buttons.
int MessageBoxWidthForTitle(const QString& title);

// A modal box; the button pressed (Escape or the close box give the escape button, or NoButton).
QMessageBox::StandardButton ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                           const QString& text, QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);

}  // namespace app::platform
