// The prefix walk and the child environment of every Wine run we make.
#include "app/platform/wine_prefix.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>

namespace app::platform {

bool IsWinePrefix(const QString& folder) {
    const QDir dir(folder);
    return QFileInfo(dir.filePath(QStringLiteral("system.reg"))).isFile() &&
           QFileInfo(dir.filePath(QStringLiteral("user.reg"))).isFile() &&
           QFileInfo(dir.filePath(QStringLiteral("drive_c"))).isDir();
}

QString FindWinePrefix(const QString& folder) {
    if (folder.isEmpty()) return {};
    // canonicalFilePath resolves every symlink and is empty for a path that does not exist.
    QString current = QFileInfo(folder).canonicalFilePath();
    while (!current.isEmpty()) {
        if (IsWinePrefix(current)) return current;
        if (current == QLatin1String("/")) break;
        const qsizetype cut = current.lastIndexOf(QLatin1Char('/'));
        current = cut <= 0 ? QStringLiteral("/") : current.left(cut);
    }
    return {};
}

QString FindWineProgram() { return QStandardPaths::findExecutable(QStringLiteral("wine")); }

namespace {

bool NamesUtf8(const QString& localeValue) {
    const QString v = localeValue.toLower();
    return v.contains(QLatin1String("utf-8")) || v.contains(QLatin1String("utf8"));
}

}  // namespace

WineEnvironment WineEnvironmentFor(const QString& prefix, const QMap<QString, QString>& callerEnv) {
    WineEnvironment env;
    env.set.insert(QStringLiteral("WINEPREFIX"), prefix);
    env.set.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));

    // The character set in force is the first non-empty of LC_ALL, LC_CTYPE, LANG.
    const QString lcAll = callerEnv.value(QStringLiteral("LC_ALL"));
    const QString lcCtype = callerEnv.value(QStringLiteral("LC_CTYPE"));
    const QString lang = callerEnv.value(QStringLiteral("LANG"));
    const QString inForce = !lcAll.isEmpty() ? lcAll : !lcCtype.isEmpty() ? lcCtype : lang;
    if (!NamesUtf8(inForce)) {
        if (!lcAll.isEmpty()) {
            // LC_ALL would override LC_CTYPE; hand its value on as LANG so only the character set moves.
            env.unset.append(QStringLiteral("LC_ALL"));
            env.set.insert(QStringLiteral("LANG"), lcAll);
        }
        env.set.insert(QStringLiteral("LC_CTYPE"), QStringLiteral("C.UTF-8"));
    }
    return env;
}

QMap<QString, QString> CurrentEnvironment() {
    QMap<QString, QString> map;
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& key : env.keys()) map.insert(key, env.value(key));
    return map;
}

std::optional<RunRequest> WineRunInLoggerPrefix(const QString& loggerFolder, const QString& wineProgram,
                                               const QStringList& arguments,
                                               const QMap<QString, QString>& callerEnv) {
    if (wineProgram.isEmpty()) return std::nullopt;
    const QString prefix = FindWinePrefix(loggerFolder);
    if (prefix.isEmpty()) return std::nullopt;
    const WineEnvironment env = WineEnvironmentFor(prefix, callerEnv);
    RunRequest request;
    request.program = wineProgram;
    request.arguments = arguments;
    request.setEnv = env.set;
    request.unsetEnv = env.unset;
    return request;
}

}  // namespace app::platform
