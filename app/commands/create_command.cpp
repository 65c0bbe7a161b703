// The create command's steps; see create_command.h. In order: stale scratch files swept; a tmp that is a
// link leading out of the logger folder refused; tmp made (when it cannot be, nothing happens); our own
// files in tmp deleted (the snapshots and Backup.ini: nothing else there is ours); both registry keys
// exported into tmp; the archive's name chosen, free in the folder; the writer given the twelve "|"
// patterns under the logger folder with names relative to it (and the files asked for besides), less
// the files whose names no reader gives back; the scratch files deleted; the outcome told.
#include "app/commands/create_command.h"

#include "app/backup_layout.h"
#include "app/commands/backup_names.h"
#include "app/commands/command_steps.h"
#include "app/commands/reporter.h"
#include "app/commands/retention.h"
#include "app/native_path.h"
#include "app/platform/registry_snapshot.h"
#include "archive/ascii_fold.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/reader/archive_check.h"
#include "archive/reader/destination.h"
#include "archive/records/printable_name.h"
#include "archive/select/file_list.h"
#include "archive/writer/vcl_zip.h"

#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <algorithm>
#include <functional>
#include <string_view>

namespace app {

namespace {

// The program's backups in `folder`, newest first (by the time in their names), none from the far future.
QStringList BackupsNewestFirst(const QString& folder, const QDateTime& now) {
    const NameTime current = NameTimeOf(now);
    QStringList names;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        const auto parsed = ParseArchiveName(name.toStdString());
        if (parsed && parsed->kind == ArchiveKind::Backup && !IsFarFuture(parsed->time, current)) names.append(name);
    }
    std::sort(names.begin(), names.end(), std::greater<>());
    QStringList paths;
    for (const QString& name : names) paths.append(QDir(folder).filePath(name));
    return paths;
}

// Seconds a backup waits at most for a free name.
constexpr int kNameTries = 10;

// The archive's path: the name of `from`, or of the first second after it whose name is free in the
// folder; the wait for that second is real, so that no name runs ahead of the clock.
QString FreeArchivePath(const QString& folderText, const QDateTime& from, bool beforeRestore) {
    QDateTime time = from;
    for (int tries = 0; tries < kNameTries; ++tries) {
        const QString path = BackupArchivePath(folderText, time, beforeRestore);
        const QFileInfo info(path);
        const QStringList entries =
            QDir(info.absolutePath()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        if (!NameTaken(entries, info.fileName())) return path;
        time = time.addSecs(1);
        const QDateTime second(time.date(), QTime(time.time().hour(), time.time().minute(), time.time().second()));
        const qint64 ahead = QDateTime::currentDateTime().msecsTo(second);
        if (ahead > 0) QThread::msleep(static_cast<unsigned long>(std::min<qint64>(ahead, 1000)) + 5);
    }
    throw std::runtime_error(QStringLiteral("No free name for a backup in %1: the names of the next %2 seconds are "
                                            "taken. No backup was made.")
                                 .arg(QFileInfo(BackupArchivePath(folderText, from, beforeRestore)).absolutePath())
                                 .arg(kNameTries)
                                 .toStdString());
}

// A pattern of the writer's file list that selects the file `relative` below the logger folder and no
// other of another name: "|" (no recursion) and the path, each wildcard character of the file's name
// (a name may hold any of them) matching itself as any one character.
QString OnlyThisFile(const QString& loggerFolder, const QString& relative) {
    const qsizetype slash = relative.lastIndexOf(QLatin1Char('/'));
    QString name = relative.mid(slash + 1);
    for (QChar& c : name)
        if (QStringLiteral("*?<>|").contains(c)) c = QLatin1Char('?');
    return QLatin1Char('|') + loggerFolder + relative.left(slash + 1) + name;
}

// The files the writer would select that no reader could give back under their names: each left out
// through the exclusion list (by its whole path, which then matches itself alone) and named in `lacking`.
void LeaveOutUnstorable(archive::TVCLZip& zip, const QString& loggerFolder, QStringList& lacking) {
    archive::SelectionSettings settings;
    settings.Recurse = true;
    settings.StorePaths = settings.RelativePaths = true;
    settings.RootDir = Native(loggerFolder);
    settings.ZipName = zip.ZipName();
    std::vector<std::string> files = zip.FilesList;
    archive::ExpandFilesList(files, settings, {});
    for (const std::string& file : files) {
        const archive::StoredName stored = archive::DeriveStoredName(file, settings);
        const QString name = QString::fromStdString(stored.Directory + stored.FileName);
        const QString why = UnstorableName(name);
        if (why.isEmpty()) continue;
        std::string exclusion = file;
        for (char& c : exclusion)
            if (std::string_view("*?<>|").find(c) != std::string_view::npos) c = '?';
        zip.ExcludeList.push_back(exclusion);
        lacking.append(QString::fromStdString(archive::PrintableName(stored.Directory + stored.FileName)) +
                       QStringLiteral(": left out, because ") + why);
    }
}

}  // namespace

QString NewestOpeningBackup(const QString& folder, const QDateTime& now) {
    for (const QString& path : BackupsNewestFirst(folder, now))
        if (archive::OpenArchive(Native(path)).opened) return path;
    return {};
}

bool NameTaken(const QStringList& entries, const QString& fileName) {
    for (const QString& entry : entries)
        if (archive::EqualIgnoringCase(entry.toStdString(), fileName.toStdString())) return true;
    return false;
}

QString UnstorableName(const QString& storedName) {
    if (storedName.contains(QLatin1Char('\\')))
        return QStringLiteral("its name holds a backslash, which every ZIP reader takes for a folder separator");
    const std::string name = storedName.toStdString();
    if (!archive::reader::IsRefusedName(name)) return {};
    const size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    return QString::fromStdString(archive::reader::NameRefusal("", folder, name.substr(folder.size())));
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
    // Files left out of this backup are left out of it alone: the writer's exclusions go back afterwards.
    struct Exclusions {
        std::vector<std::string>& list;
        const std::vector<std::string> saved = list;
        ~Exclusions() { list = saved; }
    } exclusions{zip_.ExcludeList};
    try {
        // Snapshots left by a run that died must not stand in for the ones exported now.
        DeleteOwnTmpFiles(logger);
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

        // The name last, just before the archive is written: free in the folder at that moment.
        outcome.archivePath = FreeArchivePath(request.backupFolderText, request.localTime, request.beforeRestore);
        zip_.SetZipName(Native(outcome.archivePath));
        zip_.FilesList.clear();
        for (const QString& entry : BackupFileList(logger)) zip_.FilesList.push_back(Native(entry));
        for (const QString& file : request.alsoFiles) zip_.FilesList.push_back(Native(OnlyThisFile(logger, file)));
        zip_.Recurse = true;
        zip_.SetRootDir(Native(logger));
        zip_.SetRelativePaths(true);
        LeaveOutUnstorable(zip_, logger, outcome.lacking);

        // The newest backup whose directory reads: the one that may still be current, and the source of
        // the entries that did not change.
        const QString newest = NewestOpeningBackup(QFileInfo(outcome.archivePath).absolutePath(), request.localTime);
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
