// The zero date 30.12.1899 is the day the original platform counts its date-time values from; a time
// that cannot be read is shown as that value, which tells the user plainly that it is not a real date.
#include "app/version_stamp.h"

namespace app {

QString ShortVersion(const QString& fileVersion) {
    QString version = fileVersion;
    // QString::replace scans left to right and continues after each replacement, never re-reading
    // the joined text: "00.." becomes "0.", not "".
    version.replace(QStringLiteral("0."), QString(), Qt::CaseInsensitive);
    return version.trimmed();
}

QString BuildTimeText(const std::optional<QDateTime>& buildTime) {
    const QDateTime zero(QDate(1899, 12, 30), QTime(0, 0));
    const QDateTime time = buildTime && buildTime->isValid() ? *buildTime : zero;
    return QStringLiteral(" ( ") + time.toString(QStringLiteral("dd.MM.yyyy hh:mm")) + QStringLiteral(")");
}

QString ExtendedCaption(const QString& caption, const QString& fileVersion,
                        const std::optional<QDateTime>& buildTime) {
    return caption + QStringLiteral(" ") + ShortVersion(fileVersion) + QStringLiteral(" - ") +
           BuildTimeText(buildTime);
}

QString ExtendedCaption(const QString& caption, platform::VersionInfo& version, const QString& executablePath) {
    return ExtendedCaption(caption, version.FileVersion(executablePath), version.LastWriteTime(executablePath));
}

void OpenAuthorWebPage(platform::WebOpener& web) { web.OpenWebPage(QString::fromLatin1(kAuthorWebPage)); }

}  // namespace app
