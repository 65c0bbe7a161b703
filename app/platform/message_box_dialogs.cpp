// The boxes carry the application's name as their caption, the way the original program's boxes
// carried its title; Yes and No without a default of our own beyond Qt's.
#include "app/platform/message_box_dialogs.h"

#include "ui/glyphs.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QSpacerItem>
#include <QStyle>

namespace app::platform {

namespace {

QString Caption() {
    const QString name = QApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("ZORVEL_Backup") : name;
}

// Room the window manager takes from the title bar: its window icon, three buttons and the margins
// (generous: title fonts are often bold and larger than the text's).
constexpr int kTitleBarChrome = 150;

}  // namespace

int MessageBoxWidthForTitle(const QString& title) {
    QFont font = QApplication::font();
    font.setBold(true);
    return QFontMetrics(font).horizontalAdvance(title) * 5 / 4 + kTitleBarChrome;
}

void PrepareMessageBox(QMessageBox& box) {
    struct Look {
        QMessageBox::Icon icon;
        const char* theme;
        QStyle::StandardPixmap standard;
    };
    static const Look looks[] = {
        {QMessageBox::Question, "dialog-question", QStyle::SP_MessageBoxQuestion},
        {QMessageBox::Information, "dialog-information", QStyle::SP_MessageBoxInformation},
        {QMessageBox::Warning, "dialog-warning", QStyle::SP_MessageBoxWarning},
        {QMessageBox::Critical, "dialog-error", QStyle::SP_MessageBoxCritical},
    };
    for (const Look& look : looks) {
        // Without a theme picture the box keeps the style's own (it draws it itself).
        if (box.icon() != look.icon || !QIcon::hasThemeIcon(QLatin1String(look.theme))) continue;
        const int size = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
        box.setIconPixmap(QIcon::fromTheme(QLatin1String(look.theme)).pixmap(size, size));
        break;
    }
    // Buttons: the theme's pictures, or plain text (never the toolkit's built-in bitmaps).
    for (QAbstractButton* button : box.buttons()) {
        const QMessageBox::ButtonRole role = box.buttonRole(button);
        const QString name = role == QMessageBox::YesRole || role == QMessageBox::AcceptRole
                                 ? QStringLiteral("dialog-ok")
                                 : QStringLiteral("dialog-cancel");
        button->setIcon(QIcon::hasThemeIcon(name) ? QIcon::fromTheme(name) : QIcon());
    }
    // A box is as wide as its title needs: a spacer across the whole bottom row holds it open.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(MessageBoxWidthForTitle(box.windowTitle()), 0, QSizePolicy::Minimum,
                                      QSizePolicy::Fixed),
                      grid->rowCount(), 0, 1, grid->columnCount());
    }
}

QMessageBox::StandardButton ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& title,
                                           const QString& text, QMessageBox::StandardButtons buttons,
                                           QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, title, text, buttons, parent);
    if (defaultButton != QMessageBox::NoButton) box.setDefaultButton(defaultButton);
    PrepareMessageBox(box);
    box.exec();
    return box.standardButton(box.clickedButton());
}

bool MessageBoxDialogs::Confirm(const QString& text) {
    return ShowMessageBox(parent_.data(), QMessageBox::Question, Caption(), text, QMessageBox::Yes | QMessageBox::No,
                          QMessageBox::Yes) == QMessageBox::Yes;
}

void MessageBoxDialogs::Inform(const QString& text) {
    ShowMessageBox(parent_.data(), QMessageBox::Information, Caption(), text, QMessageBox::Ok);
}

void MessageBoxDialogs::Warn(const QString& text) {
    ShowMessageBox(parent_.data(), QMessageBox::Warning, Caption(), text, QMessageBox::Ok);
}

}  // namespace app::platform
