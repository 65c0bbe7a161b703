// The text field with its embedded button.
#include "ui/combo_edit.h"

#include <QKeyEvent>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QToolButton>

namespace ui {

TCustomComboEdit::TCustomComboEdit(QWidget* parent) : QLineEdit(parent) {
    button_ = new QToolButton(this);
    button_->setObjectName(QStringLiteral("Button"));
    button_->setAutoRaise(true);
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setCursor(Qt::ArrowCursor);
    connect(button_, &QToolButton::clicked, this, [this] { PerformButtonClick(); });
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (OnChange) OnChange(this);
    });
    resize(121, 21);
    PlaceButton();
}

void TCustomComboEdit::SetReadOnly(bool readOnly) {
    readOnly_ = readOnly;
    setReadOnly(readOnly_ || !directInput_);
}

void TCustomComboEdit::SetDirectInput(bool directInput) {
    directInput_ = directInput;
    setReadOnly(readOnly_ || !directInput_);
}

void TCustomComboEdit::SetButtonWidth(int width) {
    buttonWidth_ = qMax(0, width);
    PlaceButton();
}

void TCustomComboEdit::SetGlyph(const QPixmap& glyph) {
    glyph_ = glyph;
    button_->setIcon(QIcon(glyph));
    button_->setIconSize(glyph.size());
}

QString TCustomComboEdit::ButtonHint() const { return button_->toolTip(); }
void TCustomComboEdit::SetButtonHint(const QString& hint) { button_->setToolTip(hint); }

void TCustomComboEdit::PerformButtonClick() {
    if (!readOnly_ || alwaysEnable_) ButtonClick();
}

void TCustomComboEdit::ButtonClick() {
    if (OnButtonClick) OnButtonClick(this);
}

void TCustomComboEdit::keyPressEvent(QKeyEvent* event) {
    if (buttonWidth_ > 0 && event->keyCombination() == clickKey_) {
        event->accept();
        PerformButtonClick();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TCustomComboEdit::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    PlaceButton();
}

void TCustomComboEdit::PlaceButton() {
    // Inside the frame: 2 pixels of border on each side, as the field's client area.
    constexpr int kBorder = 2;
    button_->setVisible(buttonWidth_ > 0);
    button_->setGeometry(width() - kBorder - buttonWidth_, kBorder, buttonWidth_, height() - 2 * kBorder);
    setTextMargins(0, 0, buttonWidth_, 0);
}

}  // namespace ui
