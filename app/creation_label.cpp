// Cutting the creation time out of a backup's name; see creation_label.h for the layout.
#include "app/creation_label.h"

namespace app {

namespace {

// The `count` characters from 1-based `position`, cut short at the end of s (empty past it).
QString Piece(const QString& s, qsizetype position, qsizetype count) {
    if (position > s.size()) return QString();
    return s.mid(position - 1, count);
}

QString WithoutFirst(QString s, const QString& part) {
    const qsizetype at = s.indexOf(part, 0, Qt::CaseSensitive);
    if (at >= 0) s.remove(at, part.size());
    return s;
}

}  // namespace

QString CreationLabel(const QString& fileName) {
    const QString s = WithoutFirst(WithoutFirst(fileName, QStringLiteral("zorvel3_")), QStringLiteral(".zip"));
    return Piece(s, 7, 2) + QLatin1Char('.') + Piece(s, 5, 2) + QLatin1Char('.') + Piece(s, 1, 4) +
           QStringLiteral(" at ") + Piece(s, 9, 2) + QLatin1Char(':') + Piece(s, 11, 2);
}

}  // namespace app
