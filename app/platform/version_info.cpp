// ZB_FILE_VERSION comes from the build (the project's four-part version).
#include "app/platform/version_info.h"

#include <QFileInfo>

#ifndef ZB_FILE_VERSION
#define ZB_FILE_VERSION ""
#endif

namespace app::platform {

const char* BuildVersionInfo::EmbeddedFileVersion() { return ZB_FILE_VERSION; }

BuildVersionInfo::BuildVersionInfo(QString embeddedVersion) : version_(std::move(embeddedVersion)) {}

QString BuildVersionInfo::FileVersion(const QString&) {
    return version_.trimmed().isEmpty() ? QStringLiteral("0.0.0.0") : version_;
}

std::optional<QDateTime> BuildVersionInfo::LastWriteTime(const QString& executablePath) {
    const QFileInfo info(executablePath);
    if (executablePath.isEmpty() || !info.exists()) return std::nullopt;
    const QDateTime time = info.lastModified();
    if (!time.isValid()) return std::nullopt;
    return time.toLocalTime();
}

}  // namespace app::platform
