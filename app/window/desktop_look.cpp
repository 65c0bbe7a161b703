// The icon is drawn in a 64-unit square, the same shapes as dist/zorvel-backup.svg: a blue tile, a white
// archive sheet with a zip fastener down its middle and the fastener's yellow pull.
#include "app/window/desktop_look.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>

namespace app {

namespace {

QPixmap DrawIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x5f, 0xa8));
    p.drawRoundedRect(QRectF(4, 4, 56, 56), 10, 10);
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(16, 10, 32, 44), 3, 3);
    p.setBrush(QColor(0x33, 0x33, 0x33));
    for (int i = 0; i < 8; ++i) p.drawRect(QRectF(i % 2 ? 32 : 28, 12 + 4 * i, 4, 3));
    p.setBrush(QColor(0xf2, 0xb0, 0x1e));
    p.drawRoundedRect(QRectF(27, 44, 10, 8), 2, 2);
    return pixmap;
}

bool ThemeInstalled(const QString& name) {
    for (const QString& path : QIcon::themeSearchPaths())
        if (QFileInfo(path + QLatin1Char('/') + name + QStringLiteral("/index.theme")).isFile()) return true;
    return false;
}

}  // namespace

QIcon ProgramIcon() {
    if (QIcon::hasThemeIcon(QLatin1String(kDesktopFileName))) return QIcon::fromTheme(QLatin1String(kDesktopFileName));
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128}) icon.addPixmap(DrawIcon(size));
    return icon;
}

void ApplyDesktopLook() {
    QGuiApplication::setDesktopFileName(QLatin1String(kDesktopFileName));
    const QString theme = QIcon::themeName();
    if (theme.isEmpty() || theme == QLatin1String("hicolor")) {
        for (const char* candidate : {"breeze", "Adwaita", "oxygen", "gnome", "Tango"}) {
            if (ThemeInstalled(QLatin1String(candidate))) {
                QIcon::setThemeName(QLatin1String(candidate));
                break;
            }
        }
    }
    QGuiApplication::setWindowIcon(ProgramIcon());
}

}  // namespace app
