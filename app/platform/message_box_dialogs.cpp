// The boxes carry the application's name as their caption, the way the original program's boxes
// carried its title; Yes and No without a default of our own beyond Qt's.
#include "app/platform/message_box_dialogs.h"

#include <QApplication>
#include <QMessageBox>

namespace app::platform {

namespace {
QString Caption() {
    const QString name = QApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("ZORVEL_Backup") : name;
}
}  // namespace

bool MessageBoxDialogs::Confirm(const QString& text) {
    const auto answer = QMessageBox::question(parent_.data(), Caption(), text,
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
    return answer == QMessageBox::Yes;
}

void MessageBoxDialogs::Inform(const QString& text) {
    QMessageBox::information(parent_.data(), Caption(), text, QMessageBox::Ok);
}

void MessageBoxDialogs::Warn(const QString& text) {
    QMessageBox::warning(parent_.data(), Caption(), text, QMessageBox::Ok);
}

}  // namespace app::platform
