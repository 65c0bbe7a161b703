// Parsing of /proc text; see proc_parse.h for why the name comes from argv[0] and not from the
// executable link (a Wine program's /proc/<pid>/exe points at the Wine loader, not at the .exe).
#include "app/platform/proc_parse.h"

#include <algorithm>

namespace app::platform {

QString FileNamePart(const QString& path) {
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
    return path.mid(cut + 1);
}

QString ProcessNameFrom(const QByteArray& cmdline, const QByteArray& comm) {
    // argv[0] runs up to the first NUL; Wine pads the argument area with NULs, which this ignores.
    const qsizetype end = cmdline.indexOf('\0');
    const QByteArray argv0 = end < 0 ? cmdline : cmdline.left(end);
    if (!argv0.isEmpty()) {
        const QString name = FileNamePart(QString::fromUtf8(argv0));
        if (!name.isEmpty()) return name;
    }
    QByteArray shortName = comm;
    while (shortName.endsWith('\n') || shortName.endsWith('\0')) shortName.chop(1);
    return QString::fromUtf8(shortName);
}

std::optional<char> ProcessStateFromStat(const QByteArray& stat) {
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0 || stat.indexOf('(') < 0 || stat.indexOf('(') > close) return std::nullopt;
    // ") S 1 ..." : one blank, then the state letter.
    if (close + 2 >= stat.size() || stat[close + 1] != ' ') return std::nullopt;
    const char state = stat[close + 2];
    if (state < 'A' || state > 'z') return std::nullopt;
    return state;
}

std::optional<qint64> PidFromDirName(const QString& name) {
    if (name.isEmpty() || name.size() > 18) return std::nullopt;
    for (const QChar c : name) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
    }
    return name.toLongLong();
}

}  // namespace app::platform
