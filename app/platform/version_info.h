// The file version and the last-write time of an executable, the two facts the window title shows.
#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

namespace app::platform {

class VersionInfo {
public:
    virtual ~VersionInfo() = default;
    // The four-part file version ("3.0.0.1"); "0.0.0.0" when the executable carries none.
    virtual QString FileVersion(const QString& executablePath) = 0;
    // The file's last-write time in local time; nullopt when it cannot be read.
    virtual std::optional<QDateTime> LastWriteTime(const QString& executablePath) = 0;
};

// Linux executables carry no version resource: the build compiles the four-part version into the
// program instead (ZB_FILE_VERSION), so this reports that version for the running program's own
// executable, which is the only one ever asked about. The time is the file's modification time.
class BuildVersionInfo : public VersionInfo {
public:
    explicit BuildVersionInfo(QString embeddedVersion = QString::fromLatin1(EmbeddedFileVersion()));
    QString FileVersion(const QString& executablePath) override;
    std::optional<QDateTime> LastWriteTime(const QString& executablePath) override;

    // The version this build was made with; "" when the build passed none.
    static const char* EmbeddedFileVersion();

private:
    QString version_;
};

}  // namespace app::platform
