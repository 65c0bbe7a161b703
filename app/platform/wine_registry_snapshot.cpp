// Export goes through a scratch file; see the header for why.
#include "app/platform/wine_registry_snapshot.h"

#include "app/platform/wine_prefix.h"
#include "archive/fs/scratch.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace app::platform {

WineRegistrySnapshot::WineRegistrySnapshot(std::function<QString()> loggerFolder, ProcessRunner& runner,
                                           QString wineProgram)
    : loggerFolder_(std::move(loggerFolder)), runner_(runner), wineProgram_(std::move(wineProgram)) {}

std::optional<RunRequest> WineRegistrySnapshot::WineRun(const QStringList& arguments) {
    const QString logger = loggerFolder_();
    auto request = WineRunInLoggerPrefix(logger, wineProgram_, arguments, CurrentEnvironment());
    if (!request) {
        problem_ = wineProgram_.isEmpty() ? QStringLiteral("the program wine was not found")
                                          : QStringLiteral("the logger folder %1 lies in no Wine prefix").arg(logger);
    }
    return request;
}

bool WineRegistrySnapshot::EndedWell(const RunResult& result) {
    if (!result.started) problem_ = QStringLiteral("regedit could not be started");
    else if (!result.exited) problem_ = QStringLiteral("regedit did not end normally");
    else if (result.exitCode != 0) problem_ = QStringLiteral("regedit failed with exit code %1").arg(result.exitCode);
    else return true;
    return false;
}

bool WineRegistrySnapshot::ExportKey(const QString& key, const QString& file) {
    problem_.clear();
    const QFileInfo target(file);
    const QString targetPath = target.absoluteFilePath();

    // Decide whether anything may run before touching the file system.
    auto request = WineRun({});
    if (!request) return false;

    archive::fs::ScratchFile scratch = archive::fs::ScratchFile::Create(QFile::encodeName(target.absolutePath()).toStdString());
    if (!scratch.Valid()) {
        // The folder is missing or not writable: the editor could not write either.
        problem_ = QStringLiteral("no file can be made in %1 (%2)").arg(target.absolutePath(), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const QString scratchPath = QFile::decodeName(scratch.Path().c_str());

    request->arguments = {QStringLiteral("regedit"), QStringLiteral("/E"), scratchPath, key};
    const RunResult result = runner_.RunAndWait(*request);
    if (!result.started || !result.exited) {
        EndedWell(result);
        return false;  // the scratch file goes with `scratch`
    }
    if (!EndedWell(result)) return true;

    if (QFileInfo(scratchPath).size() == 0) {
        // Nothing written: no such key (nothing to save), or an editor that failed quietly.
        request->arguments = {QStringLiteral("reg"), QStringLiteral("query"), key};
        const RunResult query = runner_.RunAndWait(*request);
        const bool keyMissing = query.started && query.exited && query.exitCode == 1;
        if (!keyMissing) problem_ = QStringLiteral("regedit wrote nothing");
        return true;
    }
    if (std::rename(scratch.Path().c_str(), QFile::encodeName(targetPath).constData()) != 0) {
        problem_ = QStringLiteral("the snapshot could not be put in place as %1 (%2)")
                       .arg(targetPath, QString::fromLocal8Bit(std::strerror(errno)));
        return true;
    }
    scratch.Release();
    return true;
}

void WineRegistrySnapshot::ImportFile(const QString& file) {
    problem_.clear();
    const QFileInfo source(file);
    if (!source.isFile()) return;
    auto request = WineRun({QStringLiteral("regedit"), QStringLiteral("/S"), source.absoluteFilePath()});
    if (!request) return;
    EndedWell(runner_.RunAndWait(*request));
}

}  // namespace app::platform
