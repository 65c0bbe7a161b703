// The restore command's steps; see restore_command.h.
#include "app/commands/restore_command.h"

#include "app/backup_layout.h"
#include "app/commands/command_steps.h"
#include "app/commands/reporter.h"
#include "app/commands/safety_backup.h"
#include "app/native_path.h"
#include "app/platform/registry_snapshot.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/reader/destination.h"
#include "archive/records/printable_name.h"
#include "archive/select/wildcard.h"

#include <QFileInfo>
#include <QMap>

#include <string_view>
#include <utility>

namespace app {

namespace {

QString Quoted(const char* caption) { return QLatin1Char('"') + QString::fromLatin1(caption) + QLatin1Char('"'); }

QString PartName(const RestoreCategory& category) {
    if (category.box == RestoreCategory::Everything) return QStringLiteral("the backup");
    return category.caption ? Quoted(category.caption) : QStringLiteral("the registry snapshots");
}

bool Chosen(const RestoreRequest& request, RestoreCategory::Box box) {
    switch (box) {
        case RestoreCategory::Awards: return request.awards;
        case RestoreCategory::Database: return request.database;
        case RestoreCategory::Logs: return request.logs;
        case RestoreCategory::RegistrySnapshots: return true;
        case RestoreCategory::Configuration: return request.configuration;
        case RestoreCategory::Everything: return request.everything;
    }
    return false;
}

// The parts a request restores, in order: everything as one part, or the chosen ones of the table.
std::vector<const RestoreCategory*> ChosenCategories(const RestoreRequest& request) {
    if (request.everything) return {&EverythingCategory()};
    std::vector<const RestoreCategory*> chosen;
    for (const RestoreCategory& category : RestoreCategories())
        if (Chosen(request, category.box)) chosen.push_back(&category);
    return chosen;
}

// Which file a refusal concerns and why, in the restore's words; the one place a refusal's kind is
// worded. A name the backup holds that has no place in the logger folder is told as the backup holds it
// (escaped); a wrong password after the entry started, as the file being restored; the rest as the
// file on disk.
std::pair<QString, QString> Worded(archive::TRefusal kind, const QString& stored, const QString& current,
                                   const QString& onDisk, const QString& detail, const RestoreCategory& category) {
    using archive::TRefusal;
    switch (kind) {
        case TRefusal::Password: return {current, QStringLiteral("encrypted in the backup")};
        case TRefusal::UnsafeName:
            return {stored, QStringLiteral("refused: its name in the backup reaches outside the logger folder")};
        case TRefusal::ControlCharacters: return {stored, QStringLiteral("refused: ") + detail};
        case TRefusal::ReadOnlyTarget: return {onDisk, QStringLiteral("the file on disk is read-only")};
        case TRefusal::FolderInTheWay:
        case TRefusal::CannotWrite:
        case TRefusal::None: return {onDisk, QStringLiteral("it cannot be written there")};
        case TRefusal::PartUndone:
            return {onDisk, QStringLiteral("not restored, because not all files of %1 could be").arg(PartName(category))};
        case TRefusal::LinkLeadsOut:
        case TRefusal::Overlap:
        case TRefusal::FolderNotMade:
        case TRefusal::NameTooLong:
        case TRefusal::MethodNotSupported:
        case TRefusal::NotPlaced: break;
    }
    return {onDisk, QStringLiteral("refused: ") + detail};
}

}  // namespace

QStringList FilesARestoreReplaces(archive::TVCLUnZip& unzip, const RestoreRequest& request) {
    const QString& logger = request.loggerFolder;
    QStringList ours{QString::fromLatin1(kSettingsScratchFile)};
    for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots) ours.append(QString::fromLatin1(snapshot.file));
    QStringList files;
    for (const RestoreCategory* category : ChosenCategories(request)) {
        // As the reader forms a target: the destination without its trailing '/', the stored folder
        // kept below it or dropped, the name judged as extraction judges it.
        std::string destination = Native(logger + QLatin1String(category->destination));
        while (destination.size() > 1 && destination.back() == '/') destination.pop_back();
        for (int i = 0; i < unzip.Count(); ++i) {
            const archive::TZipHeaderInfo& entry = unzip.EntryInfo(i);
            if (entry.FileName().empty()) continue;
            const std::string stored = entry.StoredName();
            bool selected = false;
            for (const char* pattern : category->patterns)
                selected = selected || std::string_view(pattern) == "*" || archive::WildcardMatch(pattern, stored);
            if (!selected) continue;
            const auto usable = archive::reader::UsableFolder("", entry.Directory(), entry.FileName());
            if (!usable) continue;
            const std::string target = archive::fs::Resolve(
                archive::reader::DestinationFolder(destination, category->recreateDirs, *usable) + entry.FileName());
            if (!archive::fs::FileExists(target)) continue;
            const QString path = QString::fromStdString(target);
            if (!path.startsWith(logger)) continue;
            const QString relative = LoggerRelative(logger, path);
            if (ours.contains(relative, Qt::CaseInsensitive) || files.contains(relative)) continue;
            files.append(relative);
        }
    }
    return files;
}

QString IncompleteRestoreText(const QStringList& notRestored) {
    return QStringLiteral("Not everything was restored. These files were left as they were:\n") +
           notRestored.join(QLatin1Char('\n'));
}

RestoreCommand::RestoreCommand(archive::TVCLUnZip& unzip, platform::RegistrySnapshot& registry, Reporter& reporter,
                               archive::TVCLZip* safetyWriter)
    : unzip_(unzip), registry_(registry), reporter_(reporter), safetyWriter_(safetyWriter) {}

RestoreCommand::Part RestoreCommand::RunPart(const RestoreRequest& request, const RestoreCategory& category) {
    Part part;
    const QString logger = request.loggerFolder;
    using archive::TVCLUnZip;
    ScopedHandler info(unzip_.OnStartUnZipInfo, [&](TVCLUnZip*, int files, int64_t, bool&) { part.matched = files; });
    ScopedHandler start(unzip_.OnStartUnZip, [&](TVCLUnZip*, int, std::string& name, bool&) {
        currentFile_ = QString::fromStdString(archive::fs::Resolve(name));  // as the disk spells it: DB, not db
        part.started.append(currentFile_);
    });
    ScopedHandler crc(unzip_.OnBadCRC, [&](TVCLUnZip*, uint32_t, uint32_t, int) {
        part.failed.insert(currentFile_, QStringLiteral("damaged in the backup (CRC or size mismatch)"));
    });
    ScopedHandler skip(unzip_.OnSkippingFile, [&](TVCLUnZip* sender, archive::TSkipReason reason,
                                                  const std::string& name, int index, bool&) {
        if (reason == archive::skNotOverwritten) return;
        const QString stored = QString::fromStdString(archive::PrintableName(sender->EntryInfo(index).StoredName()));
        const QString detail = QString::fromStdString(sender->SkipDetail());
        const auto [target, why] = Worded(sender->SkipKind(), stored, currentFile_,
                                          QString::fromStdString(archive::fs::Resolve(name)), detail, category);
        part.failed.insert(target, why);
    });

    unzip_.FilesList.clear();
    for (const char* pattern : category.patterns) unzip_.FilesList.emplace_back(pattern);
    unzip_.SetDestDir(Native(logger + QLatin1String(category.destination)));
    unzip_.RecreateDirs = category.recreateDirs;
    unzip_.ReadCentralDirectory();  // read again only when the archive changed
    unzip_.UnZip();
    return part;
}

// ---- the command in steps: the parts, the registry, the words --------------------------------------

void RestoreCommand::RunParts(const RestoreRequest& request) {
    // Every part is all or nothing; the reader is given back as it was, whatever happens.
    struct AllOrNothing {
        bool& flag;
        const bool saved = flag;
        ~AllOrNothing() { flag = saved; }
    } allOrNothing{unzip_.AllOrNothing};
    unzip_.AllOrNothing = true;
    unzip_.ReadCentralDirectory();
    unzip_.OverwriteMode = archive::Always;
    for (const RestoreCategory* category : ChosenCategories(request)) {
        current_ = category;
        Part part = RunPart(request, *category);
        current_ = nullptr;
        outcomes_.push_back({category, std::move(part)});
    }
}

bool RestoreCommand::Whole(int box) const {
    for (const Outcome& outcome : outcomes_)
        if (outcome.category->box == box) return outcome.part.failed.isEmpty();
    return false;
}

QStringList RestoreCommand::ImportRegistrySnapshots(const RestoreRequest& request) {
    // The keys go back only with the configuration they belong to, and only when both came back whole.
    const QString& logger = request.loggerFolder;
    const bool whole = request.everything ? Whole(RestoreCategory::Everything)
                                          : Whole(RestoreCategory::Configuration) && Whole(RestoreCategory::RegistrySnapshots);
    QStringList notImported;
    for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots) {
        const QString key = QString::fromLatin1(snapshot.key);
        const QString file = logger + QString::fromLatin1(snapshot.file);
        if (!whole) {
            notImported.append(QStringLiteral("Registry key %1: not imported, because the configuration "
                                              "could not be restored whole").arg(key));
            continue;
        }
        if (!QFileInfo::exists(file)) {
            notImported.append(QStringLiteral("Registry key %1: not in this backup").arg(key));
            continue;
        }
        registry_.ImportFile(file);
        const QString problem = registry_.LastProblem();
        if (!problem.isEmpty()) notImported.append(QStringLiteral("Registry key %1: not imported: %2").arg(key, problem));
    }
    return notImported;
}

QStringList RestoreCommand::NotRestored(const RestoreRequest& request) const {
    QStringList lines;
    for (const Outcome& outcome : outcomes_) {
        const RestoreCategory& category = *outcome.category;
        const Part& part = outcome.part;
        // The snapshots are the user's choice only with the configuration; otherwise they were
        // unpacked only to be deleted again.
        if (category.box == RestoreCategory::RegistrySnapshots && !request.configuration) continue;
        if (part.matched == 0 && category.caption)
            lines.append(Quoted(category.caption) + QStringLiteral(": not in this backup"));
        for (auto it = part.failed.cbegin(); it != part.failed.cend(); ++it)
            lines.append(LoggerRelative(request.loggerFolder, it.key()) + QStringLiteral(": ") + it.value());
        if (part.failed.isEmpty()) continue;
        for (const QString& file : part.started) {
            if (part.failed.contains(file)) continue;
            lines.append(LoggerRelative(request.loggerFolder, file) +
                         QStringLiteral(": not restored, because not all files of %1 could be").arg(PartName(category)));
        }
    }
    return lines;
}

void RestoreCommand::FlushFolders() const {
    QStringList folders;
    for (const Outcome& outcome : outcomes_)
        for (const QString& file : outcome.part.started) {
            const QString folder = QFileInfo(file).path();
            if (!folders.contains(folder)) folders.append(folder);
        }
    for (const QString& folder : folders) archive::fs::SyncFolder(archive::fs::HeldFolder::Open(Native(folder)));
}

std::runtime_error RestoreCommand::FailureWithDetails(const std::exception& e, const RestoreRequest& request) const {
    // What the user must know beyond the error itself: which file and disk, and which parts were done.
    QStringList restored, pending;
    for (const RestoreCategory* category : ChosenCategories(request))
        if (category->caption) pending.append(Quoted(category->caption));
    for (const Outcome& outcome : outcomes_) {
        if (!outcome.category->caption) continue;
        pending.removeOne(Quoted(outcome.category->caption));
        if (outcome.part.failed.isEmpty() && outcome.part.matched > 0) restored.append(Quoted(outcome.category->caption));
    }
    QStringList details;
    const auto* write = dynamic_cast<const archive::EWriteError*>(&e);
    const bool diskFull = write && IsDiskFull(write->ErrorCode);
    if (diskFull) {
        details.append(QStringLiteral("%1 is full: %2 could not be restored. The logger's files of %3 were left unchanged.")
                           .arg(DiskOf(currentFile_), currentFile_, current_ ? PartName(*current_) : QStringLiteral("this part")));
    }
    if (!restored.isEmpty() || diskFull) {
        if (!restored.isEmpty()) details.append(QStringLiteral("Restored: ") + restored.join(QStringLiteral(", ")));
        if (!pending.isEmpty()) details.append(QStringLiteral("Not restored: ") + pending.join(QStringLiteral(", ")));
    }
    if (details.isEmpty()) return std::runtime_error(e.what());
    return std::runtime_error((QString::fromUtf8(e.what()) + QStringLiteral("\n\n") + details.join(QLatin1Char('\n'))).toStdString());
}

QStringList RestoreCommand::Run(const RestoreRequest& request) {
    const QString& logger = request.loggerFolder;
    RemoveStaleScratchFiles(logger, QFileInfo(request.archivePath).path());
    if (const QString problem = TmpFolderProblem(logger); !problem.isEmpty())
        throw std::runtime_error((problem + QStringLiteral(" Nothing was restored.")).toStdString());
    outcomes_.clear();
    current_ = nullptr;
    safetyBackup_.clear();
    // An archive that does not even open replaces nothing: it is told as it is, with no backup made first.
    unzip_.SetZipName(Native(request.archivePath));
    unzip_.ReadCentralDirectory();
    // Before anything is replaced: the files as they are now, so that the restore can be undone.
    if (safetyWriter_ && request.safetyBackup)
        safetyBackup_ = MakeSafetyBackup(*safetyWriter_, registry_, logger, request.archivePath,
                                         FilesARestoreReplaces(unzip_, request));
    const QString undo = safetyBackup_.isEmpty() ? QString() : QStringLiteral("\n\n") + SafetyBackupText(safetyBackup_);

    QStringList notRestored;
    try {
        RunParts(request);
        FlushFolders();
        notRestored = NotRestored(request);
        if (request.ImportsRegistry()) notRestored += ImportRegistrySnapshots(request);
    } catch (const std::exception& e) {
        FlushFolders();
        DeleteOwnTmpFiles(logger);
        const std::runtime_error told = FailureWithDetails(e, request);
        if (std::string(told.what()) == e.what() && undo.isEmpty()) throw;  // nothing to add: the error as it came
        throw std::runtime_error(told.what() + undo.toStdString());
    } catch (...) {
        DeleteOwnTmpFiles(logger);
        throw;
    }
    DeleteOwnTmpFiles(logger);

    notRestored.removeDuplicates();  // an entry two parts select is told once
    if (notRestored.isEmpty())
        reporter_.Done(QString::fromLatin1(kRestoreDone) + undo);
    else
        reporter_.Incomplete(IncompleteRestoreText(notRestored) + undo);
    return notRestored;
}

}  // namespace app
