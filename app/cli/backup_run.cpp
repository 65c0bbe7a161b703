// One backup; see backup_run.h.
#include "app/cli/backup_run.h"

#include "app/commands/copy_backup.h"

#include "app/backup_layout.h"
#include "app/cli/interrupts.h"
#include "app/cli/run_checks.h"
#include "app/commands/command_steps.h"
#include "app/commands/create_command.h"
#include "app/commands/exit_codes.h"
#include "app/commands/unattended.h"
#include "app/commands/watch_command.h"
#include "app/native_path.h"
#include "app/platform/services.h"
#include "archive/fs/fs.h"
#include "archive/reader/archive_check.h"
#include "archive/writer/vcl_zip.h"
#include "ui/folder_listing.h"

#include <QDir>

#include <algorithm>

namespace app::cli {

namespace {

struct CountName {
    const char* option;
    int HistoryToKeep::*count;
    const char* what;
};
constexpr CountName kCounts[] = {{"keep", &HistoryToKeep::newest, "backups"},
                                 {"keep-daily", &HistoryToKeep::days, "days"},
                                 {"keep-weekly", &HistoryToKeep::weeks, "weeks"},
                                 {"keep-monthly", &HistoryToKeep::months, "months"}};

// The file names of `folder` that retention weighs: what the backup mask lists, less the backups named
// for the far future and those that are no ZIP archive at all, which are left where they are; with
// `tell`, each of those is named on standard error.
QStringList WeighedNames(const QString& folder, const QDateTime& now, bool tell, TerminalReporter& term) {
    QStringList names;
    for (const ui::ListedItem& item : ui::ListFolder(folder, QString::fromLatin1(kBackupMask)))
        if (!item.folder) names.append(item.name);
    const QDir dir(folder);
    for (const QString& name : FarFutureBackups(names, now)) {
        names.removeAll(name);
        const auto parsed = ParseArchiveName(name.toStdString());
        if (tell)
            term.Err(QStringLiteral("Left as it is: %1 is named for %2, later than tomorrow; it does not count among the "
                                    "backups to keep.")
                         .arg(dir.filePath(name), QString::fromStdString(TimeText(parsed->time))));
    }
    for (const QString& name : QStringList(names)) {
        if (!IsBackupName(name) || archive::OpenArchive(Native(dir.filePath(name))).opened) continue;
        names.removeAll(name);
        if (tell)
            term.Err(QStringLiteral("Left as it is: %1 is no ZIP archive that opens; it does not count among the backups "
                                    "to keep.")
                         .arg(dir.filePath(name)));
    }
    return names;
}

// Deletes an old backup of `folder` (with `dryRun` only says it would); false when it stays: a
// read-only backup is never deleted.
bool RemoveOldBackup(const QString& folder, const QString& name, bool dryRun, TerminalReporter& term) {
    const QString path = QDir(folder).filePath(name);
    const auto attributes = archive::fs::GetAttributes(Native(path));
    if (!attributes || (*attributes & archive::fs::faReadOnly)) return false;
    if (dryRun) {
        term.Err(QStringLiteral("Would delete old backup: ") + path);
        return true;
    }
    if (!archive::fs::DeleteFile(Native(path))) return false;
    term.Err(QStringLiteral("Deleted old backup: ") + path);
    return true;
}

// Deletes the old backups of `folder` that `history` does not keep (see retention.h); with `dryRun`
// only says which would go.
void DeleteOldBackups(const QString& folder, const HistoryToKeep& history, const QString& newArchive, bool dryRun,
                      TerminalReporter& term) {
    const QDateTime now = QDateTime::currentDateTime();
    const QStringList names = WeighedNames(folder, now, true, term);
    const auto remove = [&](const QString& name) { return RemoveOldBackup(folder, name, dryRun, term); };
    const QString made = QFileInfo(newArchive).fileName();
    if (!history.ByCalendar()) {
        app::DeleteOldBackups(names, history.newest, made, now, remove);
        return;
    }
    for (const QString& name : BackupsBeyondHistory(names, history, made, now)) remove(name);
}

// A copy folder too full for the copy of `archive`: the old backups there that the history deletes
// anyway once the copy is made go first, the oldest, as many as make room (none when all of them would
// not). What stays short of room the copy itself then tells.
void MakeRoomForCopy(const QString& copyFolder, const QString& archive, const BackupOptions& options,
                     TerminalReporter& term) {
    const std::optional<uint64_t> free = archive::fs::FreeSpace(Native(copyFolder));
    const std::optional<int64_t> size = archive::fs::GetFileSize(Native(archive));
    if (!free || !size || *size < 0 || !archive::fs::DirectoryExists(Native(copyFolder))) return;
    // The file system's own bookkeeping takes a little more than the bytes.
    const uint64_t needed = uint64_t(*size) + uint64_t(*size) / 64 + (64u << 10);
    if (*free >= needed) return;
    const QDateTime now = QDateTime::currentDateTime();
    const QDir dir(copyFolder);
    std::vector<std::pair<std::string, uint64_t>> candidates;
    for (const QString& name : BackupsTheHistoryDeletes(WeighedNames(copyFolder, now, false, term), options.history,
                                                        QFileInfo(archive).fileName(), now)) {
        const QString path = dir.filePath(name);
        const auto attributes = archive::fs::GetAttributes(Native(path));
        if (!attributes || (*attributes & archive::fs::faReadOnly)) continue;
        candidates.emplace_back(name.toStdString(), uint64_t(std::max<int64_t>(0, archive::fs::GetFileSize(Native(path)).value_or(0))));
    }
    for (const std::string& name : BackupsToMakeRoom(candidates, *free, needed))
        RemoveOldBackup(copyFolder, QString::fromStdString(name), options.dryRun, term);
}

}  // namespace

QStringList BackupOptions::Arguments() const {
    QStringList arguments;
    if (!folder.isEmpty()) arguments << QStringLiteral("--to") << folder;
    for (const CountName& c : kCounts)
        if (history.*c.count > 0)
            arguments << QStringLiteral("--") + QLatin1String(c.option) << QString::number(history.*c.count);
    if (dryRun) arguments << QStringLiteral("--dry-run");
    if (closeLogger) arguments << QStringLiteral("--close-logger");
    if (waitGiven) arguments << QStringLiteral("--wait") << QString::number(waitSeconds);
    for (const QString& copy : copyFolders) arguments << QStringLiteral("--copy-to") << copy;
    if (full) arguments << QStringLiteral("--full");
    if (ifChanged) arguments << QStringLiteral("--if-changed");
    return arguments;
}

void AddBackupOptions(QCommandLineParser& parser) {
    parser.addOption({QStringLiteral("to"), QStringLiteral("backup folder"), QStringLiteral("DIR")});
    parser.addOption({QStringLiteral("keep"), QStringLiteral("backups to keep"), QStringLiteral("N")});
    parser.addOption({QStringLiteral("keep-daily"), QStringLiteral("days to keep"), QStringLiteral("D")});
    parser.addOption({QStringLiteral("keep-weekly"), QStringLiteral("weeks to keep"), QStringLiteral("W")});
    parser.addOption({QStringLiteral("keep-monthly"), QStringLiteral("months to keep"), QStringLiteral("M")});
    parser.addOption(QCommandLineOption(QStringLiteral("dry-run")));
    parser.addOption({QStringLiteral("copy-to"), QStringLiteral("a folder for a copy"), QStringLiteral("DIR")});
    parser.addOption(QCommandLineOption(QStringLiteral("close-logger")));
    parser.addOption({QStringLiteral("wait"), QStringLiteral("seconds to wait for another run"), QStringLiteral("SECONDS")});
    parser.addOption(QCommandLineOption(QStringLiteral("full")));
    parser.addOption(QCommandLineOption(QStringLiteral("if-changed")));
}

bool ReadBackupOptions(const QCommandLineParser& parser, const QString& command, TerminalReporter& term,
                       BackupOptions& options) {
    options.waitSeconds = WaitSeconds(parser);
    options.waitGiven = parser.isSet(QStringLiteral("wait"));
    if (options.waitSeconds < 0) {
        term.Err(command + QStringLiteral(": --wait needs a number of seconds, 0 or more"));
        return false;
    }
    for (const CountName& c : kCounts) {
        options.history.*c.count = CountOption(parser, QString::fromLatin1(c.option));
        if (options.history.*c.count < 0) {
            term.Err(QStringLiteral("%1: --%2 needs a number of %3, 1 or more").arg(command, c.option, c.what));
            return false;
        }
    }
    options.dryRun = parser.isSet(QStringLiteral("dry-run"));
    options.closeLogger = parser.isSet(QStringLiteral("close-logger"));
    options.full = parser.isSet(QStringLiteral("full"));
    options.ifChanged = parser.isSet(QStringLiteral("if-changed"));
    if (!parser.positionalArguments().mid(1).isEmpty()) {
        term.Err(command + QStringLiteral(": unexpected argument ") + parser.positionalArguments().value(1));
        return false;
    }
    if (parser.isSet(QStringLiteral("to"))) options.folder = Absolute(parser.value(QStringLiteral("to")));
    for (const QString& copy : parser.values(QStringLiteral("copy-to"))) options.copyFolders.append(Absolute(copy));
    return true;
}

BackupResult RunBackup(const BackupOptions& options, const Context& ctx, const BackupWatch* watch) {
    BackupResult result;
    const bool pruning = options.history.Prunes();
    const QString folder = options.folder.isEmpty() ? ctx.storedBackupFolder : options.folder;

    platform::LinuxServices services([&] { return ctx.loggerFolder; });
    RunLock lock(*services.Get().sleeper);
    std::vector<LockedFolder> locked{{ctx.loggerFolder, true}, {folder, true}};
    for (const QString& copy : options.copyFolders) locked.push_back({copy, true});
    if (!LockFolders(lock, locked, options.waitSeconds, ctx.term)) {
        result.exitCode = kExitBusy;
        return result;
    }
    if (const int refused = LoggerMayBeTouched(ctx, options.closeLogger, services)) {
        result.exitCode = refused;
        return result;
    }
    if (!archive::fs::DirectoryExists(Native(folder))) {
        ctx.term.Err(QStringLiteral("The backup folder %1 does not exist.").arg(folder));
        result.exitCode = kExitFailed;
        return result;
    }

    CommandLineHost host;
    if (watch) host.onPump = watch->whileWorking;
    archive::TVCLZip zip(&host);
    ConfigureBackupWriter(zip);
    ctx.term.Follow(zip);
    ctx.term.quietDone = true;  // the archive's path is the outcome line
    CreateCommand command(zip, *services.Get().registry, ctx.term);
    CreateRequest request{ctx.loggerFolder, folder, QDateTime::currentDateTime()};
    request.full = options.full;
    request.ifChanged = options.ifChanged && !(watch && watch->evenIfUnchanged);
    const CreateOutcome outcome = command.Run(request);
    if (!outcome.created) {
        ctx.term.Err(QStringLiteral("The folder %1tmp cannot be made; no backup was written.").arg(ctx.loggerFolder));
        result.exitCode = kExitFailed;
        return result;
    }
    result.archivePath = outcome.archivePath;
    ctx.term.Out(outcome.archivePath);
    if (outcome.unchanged) {
        // Nothing new to copy or to make room for: the history stays as it is. The record tells
        // `status` that the newest backup was found current now.
        result.unchanged = true;
        if (outcome.lacking.isEmpty()) ctx.term.Err(UnchangedText(outcome.archivePath));
        QString problem;
        if (!RecordStillCurrent(ctx.loggerFolder, outcome.archivePath, QDateTime::currentDateTime(), &problem))
            ctx.term.Err(QStringLiteral("The record of this check for `ZORVEL_Backup status` could not be kept: %1.")
                             .arg(problem));
        result.exitCode = outcome.lacking.isEmpty() ? kExitOk : kExitIncomplete;
        return result;
    }
    // What happened while it was made may leave it lacking too (the watcher's logger started again).
    const QStringList meanwhile = watch && watch->lacking ? watch->lacking() : QStringList();
    for (const QString& line : meanwhile) ctx.term.Err(line);
    const bool complete = outcome.lacking.isEmpty() && meanwhile.isEmpty();
    // The copies, of whatever the backup holds; a copy that fails spoils neither the backup nor the others.
    QStringList copies;
    bool copiesWhole = true;
    for (const QString& copyFolder : options.copyFolders) {
        // A full copy folder gets room by its own history, as the backup folder keeps its own.
        if (pruning && complete) MakeRoomForCopy(copyFolder, outcome.archivePath, options, ctx.term);
        const CopyOutcome copy = CopyBackup(outcome.archivePath, copyFolder);
        if (copy.path.isEmpty()) {
            ctx.term.Err(copy.problem);
            copiesWhole = false;
            continue;
        }
        ctx.term.Err(QStringLiteral("Copied to: ") + copy.path);
        copies.append(copyFolder);
    }
    if (!complete) {
        if (pruning) ctx.term.Err(QStringLiteral("No old backup was deleted, because this one is incomplete."));
        result.exitCode = kExitIncomplete;
        return result;
    }
    // Each folder that holds the new backup keeps its own history; a folder the copy did not reach
    // loses nothing more.
    if (pruning) {
        DeleteOldBackups(folder, options.history, outcome.archivePath, options.dryRun, ctx.term);
        for (const QString& copyFolder : copies)
            DeleteOldBackups(copyFolder, options.history, outcome.archivePath, options.dryRun, ctx.term);
    }
    result.exitCode = copiesWhole ? kExitOk : kExitIncomplete;
    return result;
}

}  // namespace app::cli
