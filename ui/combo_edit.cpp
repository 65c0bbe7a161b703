// The text field with its embedded button.
#include "ui/combo_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTimer>
#include <QToolButton>

namespace ui {

TCustomComboEdit::TCustomComboEdit(QWidget* parent) : QLineEdit(parent) {
    button_ = new QToolButton(this);
    button_->setObjectName(QStringLiteral("Button"));
    button_->setAutoRaise(true);
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setCursor(Qt::ArrowCursor);
    connect(button_, &QToolButton::clicked, this, [this] { PerformButtonClick(); });
    typingTimer_ = new QTimer(this);
    typingTimer_->setSingleShot(true);
    connect(typingTimer_, &QTimer::timeout, this, [this] { FinishTyping(); });
    connect(this, &QLineEdit::textChanged, this, [this] { TextChanged(); });
    connect(this, &QLineEdit::returnPressed, this, [this] { FinishTyping(); });
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
    // The button's action is no typing, even when a key started it; typed text it replaces or starts
    // the picker at needs no OnChange of its own.
    QScopedValueRollback notTyped(userInput_, false);
    QScopedValueRollback typedBefore(typedBeforeButton_, typedPending_);
    typedPending_ = false;
    typingTimer_->stop();
    if (!readOnly_ || alwaysEnable_) ButtonClick();
}

void TCustomComboEdit::TextChanged() {
    if (changeDelay_ > 0 && userInput_) {
        typedPending_ = true;
        typingTimer_->start(changeDelay_);
        return;
    }
    typedPending_ = false;
    typingTimer_->stop();
    if (OnChange) OnChange(this);
}

void TCustomComboEdit::FinishTyping() {
    if (!typedPending_) return;
    typedPending_ = false;
    typingTimer_->stop();
    QScopedValueRollback notTyped(userInput_, false);
    if (OnChange) OnChange(this);
}

bool TCustomComboEdit::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::InputMethod:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::Drop:
        case QEvent::ContextMenu: {
            // Whatever changes the text while the user's input is handled is typing (keys, pasting,
            // dropping, the edit menu).
            QScopedValueRollback typing(userInput_, true);
            return QLineEdit::event(event);
        }
        default:
            return QLineEdit::event(event);
    }
}

void TCustomComboEdit::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // The field's own edit menu takes the focus for a moment; anything else ends the typing.
    if (event->reason() != Qt::PopupFocusReason) FinishTyping();
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
