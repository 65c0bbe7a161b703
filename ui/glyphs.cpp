// Drawing of the list and button glyphs in a 16-colour style.
#include "ui/glyphs.h"

#include <QPainter>

#include <map>

namespace ui {

namespace {

void DrawFolder(QPainter& p, int w, int h) {
    // A tab on the back, a yellow body in front.
    p.setPen(QColor(128, 128, 0));
    p.setBrush(QColor(255, 255, 0));
    p.drawRect(1, 1, 5, 2);
    p.drawRect(0, 3, w - 2, h - 5);
    p.setPen(QColor(255, 255, 255));
    p.drawLine(1, 4, w - 3, 4);
}

QPixmap Draw(Glyph glyph) {
    const QSize size = glyph == Glyph::FolderButton ? QSize(14, 12) : QSize(16, 15);
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    switch (glyph) {
        case Glyph::Executable:
            // A program window: a blue title bar over a white client area.
            p.setPen(Qt::black);
            p.setBrush(Qt::white);
            p.drawRect(0, 1, 15, 12);
            p.fillRect(1, 2, 14, 3, QColor(0, 0, 128));
            p.fillRect(12, 3, 2, 1, QColor(192, 192, 192));
            break;
        case Glyph::ClosedFolder:
            DrawFolder(p, 16, 15);
            break;
        case Glyph::UnknownFile: {
            // A sheet with its top right corner folded.
            const QPoint sheet[] = {{2, 0}, {10, 0}, {13, 3}, {13, 14}, {2, 14}};
            p.setPen(Qt::black);
            p.setBrush(Qt::white);
            p.drawPolygon(sheet, 5);
            p.drawLine(10, 0, 10, 3);
            p.drawLine(10, 3, 13, 3);
            p.setPen(QColor(128, 128, 128));
            for (int y = 6; y <= 12; y += 2) p.drawLine(4, y, 11, y);
            break;
        }
        case Glyph::FolderButton:
            DrawFolder(p, 14, 12);
            break;
        case Glyph::None:
            break;
    }
    return pixmap;
}

}  // namespace

QPixmap GlyphPixmap(Glyph glyph) {
    if (glyph == Glyph::None) return QPixmap();
    static std::map<Glyph, QPixmap> cache;
    auto it = cache.find(glyph);
    if (it == cache.end()) it = cache.emplace(glyph, Draw(glyph)).first;
    return it->second;
}

}  // namespace ui
