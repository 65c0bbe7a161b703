// Export goes through a scratch file; see the header for why. The scratch file is made with the
// usual permissions (0666 less the umask) before the rename, as the editor would have made the file.
#include "app/platform/wine_registry_snapshot.h"

#include "app/platform/wine_prefix.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cstdio>
#include <sys/stat.h>

namespace app::platform {

WineRegistrySnapshot::WineRegistrySnapshot(std::function<QString()> loggerFolder, ProcessRunner& runner,
                                           QString wineProgram)
    : loggerFolder_(std::move(loggerFolder)), runner_(runner), wineProgram_(std::move(wineProgram)) {}

bool WineRegistrySnapshot::ExportKey(const QString& key, const QString& file) {
    const QFileInfo target(file);
    const QString targetPath = target.absoluteFilePath();

    // Decide whether anything may run before touching the file system.
    auto probe = WineRunInLoggerPrefix(loggerFolder_(), wineProgram_, {}, CurrentEnvironment());
    if (!probe) return false;

    QTemporaryFile scratch(target.absolutePath() + QStringLiteral("/.") + target.fileName() +
                           QStringLiteral(".XXXXXX"));
    if (!scratch.open()) return false;  // the folder is missing or not writable: the editor could not write either
    const QString scratchPath = scratch.fileName();
    scratch.close();

    RunRequest request = *probe;
    request.arguments = {QStringLiteral("regedit"), QStringLiteral("/E"), scratchPath, key};
    const RunResult result = runner_.RunAndWait(request);
    if (!result.started || !result.exited) return false;  // scratch file goes with `scratch`

    if (result.exitCode == 0 && QFileInfo(scratchPath).size() > 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::chmod(QFile::encodeName(scratchPath).constData(), 0666 & ~mask);
        if (std::rename(QFile::encodeName(scratchPath).constData(), QFile::encodeName(targetPath).constData()) == 0) {
            scratch.setAutoRemove(false);
        }
    }
    return true;
}

void WineRegistrySnapshot::ImportFile(const QString& file) {
    const QFileInfo source(file);
    if (!source.isFile()) return;
    auto request = WineRunInLoggerPrefix(loggerFolder_(), wineProgram_,
                                         {QStringLiteral("regedit"), QStringLiteral("/S"), source.absoluteFilePath()},
                                         CurrentEnvironment());
    if (!request) return;
    runner_.RunAndWait(*request);
}

}  // namespace app::platform
