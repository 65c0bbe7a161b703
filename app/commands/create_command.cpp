// The create command's steps; see create_command.h. In order: stale scratch files swept; a tmp that is a
// link leading out of the logger folder refused; tmp made (when it cannot be, nothing happens); our own
// files in tmp deleted (the snapshots and Backup.ini: nothing else there is ours); the archive path
// formed; both registry keys exported into tmp; the writer given the twelve "|" patterns under the logger folder with
// names relative to it; the scratch files deleted; the outcome told.
#include "app/commands/create_command.h"

#include "app/backup_layout.h"
#include "app/commands/command_steps.h"
#include "app/commands/reporter.h"
#include "app/commands/retention.h"
#include "app/native_path.h"
#include "app/platform/registry_snapshot.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/reader/archive_check.h"
#include "archive/writer/vcl_zip.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <functional>

namespace app {

namespace {

// The program's backups in `folder`, newest first (by the time in their names).
QStringList BackupsNewestFirst(const QString& folder) {
    QStringList names;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden))
        if (IsBackupName(name)) names.append(name);
    std::sort(names.begin(), names.end(), std::greater<>());
    QStringList paths;
    for (const QString& name : names) paths.append(QDir(folder).filePath(name));
    return paths;
}

}  // namespace

QString NewestOpeningBackup(const QString& folder) {
    for (const QString& path : BackupsNewestFirst(folder))
        if (archive::OpenArchive(Native(path)).opened) return path;
    return {};
}

QString UnchangedText(const QString& archivePath) {
    return QStringLiteral("Nothing has changed since %1: it still holds the logger's current state; no new backup "
                          "was made.")
        .arg(archivePath);
}

QString IncompleteBackupText(const QString& archivePath, const QStringList& lacking) {
    return QString::fromLatin1(kCreatedFile) + archivePath + QStringLiteral("\n\nThis backup is incomplete:\n") +
           lacking.join(QLatin1Char('\n'));
}

CreateCommand::CreateCommand(archive::TVCLZip& zip, platform::RegistrySnapshot& registry, Reporter& reporter)
    : zip_(zip), registry_(registry), reporter_(reporter) {}

CreateOutcome CreateCommand::Run(const CreateRequest& request) {
    const QString& logger = request.loggerFolder;
    CreateOutcome outcome;
    RemoveStaleScratchFiles(logger, request.backupFolderText);
    if (const QString problem = TmpFolderProblem(logger); !problem.isEmpty())
        throw std::runtime_error((problem + QStringLiteral(" No backup was made.")).toStdString());

    const QString tmpFolder = logger + QString::fromLatin1(kTmpFolder);
    if (!archive::fs::DirectoryExists(Native(tmpFolder))) archive::fs::ForceDirectories(Native(tmpFolder));
    if (!archive::fs::DirectoryExists(Native(tmpFolder))) return outcome;

    // Files the writer passes over (a file matched by two patterns is no loss).
    QStringList unreadable;
    ScopedHandler skipped(zip_.OnSkippingFile, [&](archive::TVCLUnZip*, archive::TSkipReason reason,
                                                   const std::string& name, int, bool&) {
        if (reason != archive::skNotOverwritten)
            unreadable.append(QString::fromStdString(name) + QStringLiteral(": it could not be read"));
    });
    try {
        // Snapshots left by a run that died must not stand in for the ones exported now.
        DeleteOwnTmpFiles(logger);
        outcome.archivePath = BackupArchivePath(request.backupFolderText, request.localTime);

        zip_.SetZipName(Native(outcome.archivePath));
        zip_.FilesList.clear();
        for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots) {
            const QString key = QString::fromLatin1(snapshot.key);
            const QString file = logger + QString::fromLatin1(snapshot.file);
            const bool ran = registry_.ExportKey(key, file);
            const QString problem = registry_.LastProblem();
            if (!QFileInfo::exists(file) && (!ran || !problem.isEmpty())) {
                outcome.lacking.append(QStringLiteral("Registry key %1 could not be saved: %2")
                                           .arg(key, problem.isEmpty() ? QStringLiteral("the registry editor could not run")
                                                                       : problem));
            }
        }

        for (const QString& entry : BackupFileList(logger)) zip_.FilesList.push_back(Native(entry));
        zip_.Recurse = true;
        zip_.SetRootDir(Native(logger));
        zip_.SetRelativePaths(true);

        // The newest backup whose directory reads: the one that may still be current, and the source of
        // the entries that did not change.
        const QString newest = NewestOpeningBackup(QFileInfo(outcome.archivePath).absolutePath());
        if (request.ifChanged && !newest.isEmpty() && zip_.ArchiveHoldsFiles(Native(newest))) {
            zip_.FilesList.clear();
            DeleteOwnTmpFiles(logger);
            outcome.created = true;
            outcome.unchanged = true;
            outcome.archivePath = newest;
            outcome.lacking += unreadable;
            reporter_.Status(UnchangedText(newest));
            if (outcome.lacking.isEmpty())
                reporter_.Done(UnchangedText(newest));
            else
                reporter_.Incomplete(UnchangedText(newest) + QLatin1Char('\n') + outcome.lacking.join(QLatin1Char('\n')));
            return outcome;
        }
        // Every backup says how it was compressed, so that the next one may carry its entries over.
        zip_.NoteMaking = true;
        zip_.CompressEveryFile = request.full;
        zip_.CarryOverFrom = request.full ? std::string() : Native(newest);
        zip_.Zip();

        reporter_.BackupFolderChanged();
        DeleteOwnTmpFiles(logger);
        reporter_.BackupFolderChanged();
    } catch (const archive::ENotEnoughRoom& e) {
        DeleteOwnTmpFiles(logger);
        throw std::runtime_error(QStringLiteral("%1\n\n%2 is full: %3 could not be written. The existing backups "
                                                "were left unchanged.")
                                     .arg(QString::fromUtf8(e.what()), DiskOf(outcome.archivePath),
                                          outcome.archivePath)
                                     .toStdString());
    } catch (const archive::EArchiveCheckFailed& e) {
        DeleteOwnTmpFiles(logger);
        throw std::runtime_error(QStringLiteral("%1\n\n%2 was not created. The existing backups were left unchanged.")
                                     .arg(QString::fromUtf8(e.what()), outcome.archivePath)
                                     .toStdString());
    } catch (...) {
        DeleteOwnTmpFiles(logger);
        throw;
    }

    outcome.created = true;
    outcome.lacking += unreadable;
    const QString created = QString::fromLatin1(kCreatedFile) + outcome.archivePath;
    reporter_.Status(created);
    if (outcome.lacking.isEmpty())
        reporter_.Done(created);
    else
        reporter_.Incomplete(IncompleteBackupText(outcome.archivePath, outcome.lacking));
    return outcome;
}

}  // namespace app
