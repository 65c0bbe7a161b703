// Glyphs from the icon theme, with the style's standard pictures where the theme has none.
#include "ui/glyphs.h"

#include <QApplication>
#include <QHash>
#include <QMimeDatabase>
#include <QPainter>

#include <map>

namespace ui {

QIcon ThemedIcon(const QString& name, QStyle::StandardPixmap fallback) {
    if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
    return QApplication::style()->standardIcon(fallback);
}

QPixmap CanvasPixmap(const QIcon& icon, QSize size) {
    QPixmap canvas(size);
    canvas.fill(Qt::transparent);
    if (icon.isNull()) return canvas;
    const int side = qMin(size.width(), size.height());
    const QPixmap picture = icon.pixmap(QSize(side, side));
    QPainter painter(&canvas);
    const QSize drawn = picture.deviceIndependentSize().toSize().boundedTo(QSize(side, side));
    painter.drawPixmap(QRect(QPoint((size.width() - drawn.width()) / 2, (size.height() - drawn.height()) / 2), drawn),
                       picture);
    return canvas;
}

QPixmap GlyphPixmap(Glyph glyph) {
    if (glyph == Glyph::None) return QPixmap();
    static std::map<Glyph, QPixmap> cache;
    auto it = cache.find(glyph);
    if (it != cache.end()) return it->second;
    QPixmap pixmap;
    switch (glyph) {
        case Glyph::Executable:
            pixmap = CanvasPixmap(ThemedIcon(QStringLiteral("application-x-executable"), QStyle::SP_ComputerIcon),
                                  QSize(16, 15));
            break;
        case Glyph::ClosedFolder:
            pixmap = CanvasPixmap(ThemedIcon(QStringLiteral("folder"), QStyle::SP_DirClosedIcon), QSize(16, 15));
            break;
        case Glyph::UnknownFile:
            pixmap = CanvasPixmap(ThemedIcon(QStringLiteral("text-x-generic"), QStyle::SP_FileIcon), QSize(16, 15));
            break;
        case Glyph::FolderButton:
            pixmap = CanvasPixmap(ThemedIcon(QStringLiteral("folder-open"), QStyle::SP_DirOpenIcon), QSize(14, 12));
            break;
        case Glyph::None:
            break;
    }
    return cache.emplace(glyph, pixmap).first->second;
}

QPixmap FileTypePixmap(const QString& fileName) {
    static QHash<QString, QPixmap> cache;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(fileName, QMimeDatabase::MatchExtension);
    auto it = cache.find(type.name());
    if (it != cache.end()) return *it;
    QPixmap pixmap;
    for (const QString& name : {type.iconName(), type.genericIconName()}) {
        if (!name.isEmpty() && QIcon::hasThemeIcon(name)) {
            pixmap = CanvasPixmap(QIcon::fromTheme(name), QSize(16, 15));
            break;
        }
    }
    if (pixmap.isNull()) pixmap = GlyphPixmap(Glyph::UnknownFile);
    return *cache.insert(type.name(), pixmap);
}

}  // namespace ui
