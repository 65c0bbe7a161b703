// TCustomComboEdit: a one-line text field with a small button at its right edge.
//
// The button sits inside the field's frame (ButtonWidth wide, the field's height less the frame), and the
// text area is narrowed so that text never runs under it. Pressing the button, or ClickKey (Alt+Down) in
// the field while the button is wider than zero, runs ButtonClick, which derived fields extend; both are
// ignored while the field is ReadOnly unless AlwaysEnable is set. DirectInput False keeps the user from
// typing while the button still works. Every change of the text raises OnChange.
#pragma once

#include <QKeyCombination>
#include <QLineEdit>
#include <QPixmap>

#include <functional>

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

protected:
    // Raises OnButtonClick; derived fields add their action after it.
    virtual void ButtonClick();
    void keyPressEvent(QKeyEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void PlaceButton();

    QToolButton* button_;
    QPixmap glyph_;
    int buttonWidth_ = 21;
    bool readOnly_ = false;
    bool directInput_ = true;
    bool alwaysEnable_ = false;
    QKeyCombination clickKey_{Qt::AltModifier, Qt::Key_Down};
};

}  // namespace ui
