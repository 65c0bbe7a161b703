// Deriving the logger folder from the field's text; see logger_folder.h.
//
// A single left-to-right replacement of "//" by "/" would turn three separators into two, and "/x/Log//"
// into "/x/Log//": the replacement runs until no doubled separator is left, which is what "exactly one
// trailing separator" needs.
#include "app/logger_folder.h"

#include <QDir>
#include <QFileInfo>

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

QString StartedExecutablePath(const QString& argv0, const QString& currentDir, const QString& pathVariable,
                              const QString& resolvedPath) {
    if (argv0.isEmpty()) return resolvedPath;
    const auto file = [](const QString& path) {
        const QFileInfo info(path);
        return info.exists() && info.isFile() ? QDir::cleanPath(info.absoluteFilePath()) : QString();
    };
    if (argv0.contains(QLatin1Char('/'))) {
        const QString started = file(QDir(currentDir).absoluteFilePath(argv0));
        return started.isEmpty() ? resolvedPath : started;
    }
    for (const QString& folder : pathVariable.split(QLatin1Char(':'))) {
        const QString started = file(QDir(folder.isEmpty() ? currentDir : QDir(currentDir).absoluteFilePath(folder))
                                         .absoluteFilePath(argv0));
        if (!started.isEmpty()) return started;
    }
    return resolvedPath;
}

}  // namespace app
