// Reading and applying a form's placement on Qt, and the position texts.
#include "ui/window_placement.h"

#include "ui/form_store.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ui {

WindowPlacement GetWindowPlacement(const QWidget* form) {
    WindowPlacement p;
    const Qt::WindowStates state = form->windowState();
    if (state & Qt::WindowMinimized) {
        p.showCmd = kShowMinimized;
        if (state & Qt::WindowMaximized) p.flags = kRestoreToMaximized;
    } else if (state & Qt::WindowMaximized) {
        p.showCmd = kShowMaximized;
    }
    // Outside the normal state Qt keeps the rectangle to return to in normalGeometry().
    QRect normal = form->geometry();
    if ((state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) &&
        form->normalGeometry().isValid())
        normal = form->normalGeometry();
    p.left = normal.x();
    p.top = normal.y();
    p.right = normal.x() + normal.width();
    p.bottom = normal.y() + normal.height();
    return p;
}

void SetWindowPlacement(QWidget* form, const WindowPlacement& placement) {
    QRect rect(placement.left, placement.top, placement.right - placement.left,
               placement.bottom - placement.top);
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens())
        if (screen->geometry().intersects(rect)) onScreen = true;
    if (!onScreen) {
        if (const QScreen* primary = QGuiApplication::primaryScreen()) {
            const QRect area = primary->availableGeometry();
            rect.moveTo(qBound(area.left(), rect.left(), qMax(area.left(), area.right() + 1 - rect.width())),
                        qBound(area.top(), rect.top(), qMax(area.top(), area.bottom() + 1 - rect.height())));
        }
    }
    const Qt::WindowStates state = form->windowState();
    if (state & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)) {
        // The window comes back to this rectangle when it returns to the normal state.
        form->setWindowState(Qt::WindowNoState);
        form->setGeometry(rect);
        form->setWindowState(state);
    } else {
        form->setGeometry(rect);
    }
}

QString ScreenSizeSuffix() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize(0, 0);
    return QStringLiteral("(%1x%2)").arg(size.width()).arg(size.height());
}

int ScreenPixelsPerInch() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInch()) : 96;
}

QString FormatPosition(int a, int b, int c, int d) {
    return QStringLiteral("%1,%2,%3,%4").arg(a).arg(b).arg(c).arg(d);
}

std::array<int, 4> ParsePosition(const QString& text, const std::array<int, 4>& defaults) {
    QStringList words;
    QString word;
    for (QChar c : text) {
        if (c == QLatin1Char(' ') || c == QLatin1Char(',')) {
            if (!word.isEmpty()) words << word;
            word.clear();
        } else {
            word += c;
        }
    }
    if (!word.isEmpty()) words << word;
    std::array<int, 4> out = defaults;
    for (int i = 0; i < 4 && i < words.size(); ++i) out[i] = ParseInteger(words[i]).value_or(defaults[i]);
    return out;
}

}  // namespace ui
