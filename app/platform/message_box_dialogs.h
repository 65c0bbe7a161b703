// Dialogs as Qt message boxes, titled with the application's name and centred on a parent window.
#pragma once

#include "app/platform/dialogs.h"

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

}  // namespace app::platform
