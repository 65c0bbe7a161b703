// Deriving the logger folder from the field's text; see logger_folder.h.
//
// A single left-to-right replacement of "//" by "/" would turn three separators into two, and "/x/Log//"
// into "/x/Log//": the replacement runs until no doubled separator is left, which is what "exactly one
// trailing separator" needs.
#include "app/logger_folder.h"

namespace app {

QString LoggerFolderFromText(const QString& fieldText) {
    QString folder = fieldText + QLatin1Char('/');
    while (folder.contains(QStringLiteral("//"))) folder.replace(QStringLiteral("//"), QStringLiteral("/"));
    return folder;
}

QString ExecutableFolder(const QString& executablePath) {
    const qsizetype cut = executablePath.lastIndexOf(QLatin1Char('/'));
    return cut < 0 ? QString() : executablePath.left(cut + 1);
}

}  // namespace app
