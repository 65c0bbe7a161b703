// Where the logger's Wine lives, and how to run a Wine program in it.
//
// The logger is a Windows program; on Linux it runs under Wine, and its registry and its windows
// exist only inside the Wine prefix (the folder holding system.reg, user.reg and drive_c/) it was
// installed in. Its folder normally lies inside that prefix's drive_c, possibly reached through a
// symlink, so the prefix is found by walking up from the folder's real path.
//
// Wine creates a fresh prefix when pointed at a folder that is not one yet. We never want that: a
// prefix is only ever used when the walk found all three markers in it.
#pragma once

#include "app/platform/process_runner.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <optional>

namespace app::platform {

// The Wine prefix that holds `folder` (its real path, symlinks resolved), without a trailing '/';
// empty when the folder does not exist or lies in no prefix.
QString FindWinePrefix(const QString& folder);

// Whether `folder` itself carries the three markers of a Wine prefix.
bool IsWinePrefix(const QString& folder);

// The `wine` launcher on PATH; empty when there is none.
QString FindWineProgram();

// Environment changes for running a Wine program in `prefix`, given the caller's own environment.
// WINEPREFIX selects the prefix, WINEDEBUG=-all silences Wine's diagnostic chatter. Wine converts
// arguments (our file paths) from the locale's character set, so when the caller's locale is not
// UTF-8 (the C locale of a bare service, say) the character set is switched to UTF-8, the encoding
// Qt uses for file names, while the rest of the locale stays as it was.
struct WineEnvironment {
    QMap<QString, QString> set;
    QStringList unset;
};
WineEnvironment WineEnvironmentFor(const QString& prefix, const QMap<QString, QString>& callerEnv);

// The caller's environment as a map.
QMap<QString, QString> CurrentEnvironment();

// A run of `wine <arguments>` inside the prefix that holds `loggerFolder`, with the environment
// above; nullopt (and so nothing is run) when there is no such prefix or no `wine` (`wineProgram`
// empty). Every Wine run we make goes through here, which is what keeps Wine from ever being pointed
// at a folder that is not already a prefix.
std::optional<RunRequest> WineRunInLoggerPrefix(const QString& loggerFolder, const QString& wineProgram,
                                               const QStringList& arguments,
                                               const QMap<QString, QString>& callerEnv);

}  // namespace app::platform
