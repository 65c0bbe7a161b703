// TCustomComboEdit: a one-line text field with a small button at its right edge.
//
// The button sits inside the field's frame (ButtonWidth wide, the field's height less the frame), and the
// text area is narrowed so that text never runs under it. Pressing the button, or ClickKey (Alt+Down) in
// the field while the button is wider than zero, runs ButtonClick, which derived fields extend; both are
// ignored while the field is ReadOnly unless AlwaysEnable is set. DirectInput False keeps the user from
// typing while the button still works. Every change of the text raises OnChange -- at once, unless a
// change delay is set: then a change the user types raises it only once the typing is finished (Enter,
// the focus leaving the field, or the delay passing without a further keystroke), so a half-typed path
// is never acted on. Changes made from code, and by the button, always raise it at once.
#pragma once

#include <QKeyCombination>
#include <QLineEdit>
#include <QPixmap>

#include <functional>

class QTimer;
class QToolButton;

namespace ui {

class TCustomComboEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TCustomComboEdit(QWidget* parent = nullptr);

    QString Text() const { return text(); }
    void SetText(const QString& text) { setText(text); }

    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool readOnly);
    bool DirectInput() const { return directInput_; }
    void SetDirectInput(bool directInput);
    bool AlwaysEnable() const { return alwaysEnable_; }
    void SetAlwaysEnable(bool alwaysEnable) { alwaysEnable_ = alwaysEnable; }
    QKeyCombination ClickKey() const { return clickKey_; }
    void SetClickKey(QKeyCombination key) { clickKey_ = key; }
    int ButtonWidth() const { return buttonWidth_; }
    void SetButtonWidth(int width);
    QPixmap Glyph() const { return glyph_; }
    void SetGlyph(const QPixmap& glyph);
    QString ButtonHint() const;
    void SetButtonHint(const QString& hint);
    QToolButton* Button() const { return button_; }

    std::function<void(QObject* sender)> OnChange;
    std::function<void(QObject* sender)> OnButtonClick;

    // Acts exactly as a press of the button.
    void PerformButtonClick();

    // Milliseconds of quiet after which typed text counts as finished; 0 (the default): every keystroke.
    int ChangeDelay() const { return changeDelay_; }
    void SetChangeDelay(int milliseconds) { changeDelay_ = qMax(0, milliseconds); }
    // Whether typed text waits for its OnChange.
    bool TypingPending() const { return typedPending_; }
    // Raises the OnChange that typed text still waits for, if any.
    void FinishTyping();

protected:
    // Raises OnButtonClick; derived fields add their action after it.
    virtual void ButtonClick();
    // Inside ButtonClick: whether typed text was still waiting for its OnChange when the button acted.
    bool TypedBeforeButton() const { return typedBeforeButton_; }
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceButton();
    void TextChanged();

    QToolButton* button_;
    QPixmap glyph_;
    int buttonWidth_ = 21;
    bool readOnly_ = false;
    bool directInput_ = true;
    bool alwaysEnable_ = false;
    QKeyCombination clickKey_{Qt::AltModifier, Qt::Key_Down};
    int changeDelay_ = 0;
    bool userInput_ = false;     // a user's input event is being handled
    bool typedPending_ = false;  // typed text waits for its OnChange
    bool typedBeforeButton_ = false;
    QTimer* typingTimer_;
};

}  // namespace ui
