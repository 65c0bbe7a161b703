// The window title's version stamp and the About command.
//
// The title becomes  caption + " " + version + " - " + " ( dd.mm.yyyy hh:nn)", for example
// "ZORVEL_Backup 3.1 -  ( 06.12.2026 10:38)" (the time pattern's own leading blank makes two blanks
// after the dash). The version is the executable's four-part file version with every "0." taken out,
// left to right and without looking again at what the removal joins together: 3.0.0.1 shows as 3.1,
// 0.0.0.0 as 0, 2.10.0.5 as 2.15. The time is the executable's last-write time, i.e. when it was
// built; an unreadable time shows as the zero date, 30.12.1899 00:00.
//
// About opens the logger suite author's web page in the user's browser.
#pragma once

#include "app/platform/version_info.h"
#include "app/platform/web_opener.h"

#include <QDateTime>
#include <QString>
#include <optional>

namespace app {

// The author's web page that About opens. Configuration: this is its one place.
inline constexpr char kAuthorWebPage[] = "https://zorvel-log.example.org/";

// Every "0." removed, left to right without re-scanning, then surrounding blanks trimmed.
QString ShortVersion(const QString& fileVersion);

// " ( dd.mm.yyyy hh:nn)" for the time, or for 30.12.1899 00:00 when there is none.
QString BuildTimeText(const std::optional<QDateTime>& buildTime);

// caption + " " + ShortVersion(fileVersion) + " - " + BuildTimeText(buildTime).
QString ExtendedCaption(const QString& caption, const QString& fileVersion,
                        const std::optional<QDateTime>& buildTime);

// The caption extended with the version and time of the executable at `executablePath`.
QString ExtendedCaption(const QString& caption, platform::VersionInfo& version, const QString& executablePath);

// The About command: the author's web page in the browser.
void OpenAuthorWebPage(platform::WebOpener& web);

}  // namespace app
