// The restore command's steps; see restore_command.h.
#include "app/commands/restore_command.h"

#include "app/backup_layout.h"
#include "app/commands/command_steps.h"
#include "app/commands/reporter.h"
#include "app/native_path.h"
#include "app/platform/registry_snapshot.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/reader/destination.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/printable_name.h"

#include <QFileInfo>
#include <QMap>

namespace app {

namespace {

QString Quoted(const char* caption) { return QLatin1Char('"') + QString::fromLatin1(caption) + QLatin1Char('"'); }

QString PartName(const RestoreCategory& category) {
    return category.caption ? Quoted(category.caption) : QStringLiteral("the registry snapshots");
}

bool Chosen(const RestoreRequest& request, RestoreCategory::Box box) {
    switch (box) {
        case RestoreCategory::Awards: return request.awards;
        case RestoreCategory::Database: return request.database;
        case RestoreCategory::Logs: return request.logs;
        case RestoreCategory::Always: return true;
        case RestoreCategory::Configuration: return request.configuration;
    }
    return false;
}

}  // namespace

// What one part did: the entries it matched, the files it started on and those that failed, with why.
struct RestoreCommand::Part {
    int matched = 0;
    QStringList started;
    QMap<QString, QString> failed;
};

QString IncompleteRestoreText(const QStringList& notRestored) {
    return QStringLiteral("Not everything was restored. These files were left as they were:\n") +
           notRestored.join(QLatin1Char('\n'));
}

RestoreCommand::RestoreCommand(archive::TVCLUnZip& unzip, platform::RegistrySnapshot& registry, Reporter& reporter)
    : unzip_(unzip), registry_(registry), reporter_(reporter) {}

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
        // A wrong password is told with the stored name, after the entry started: it is the current file.
        // A refused name has no place in the logger folder: it is told as the backup holds it.
        const std::string stored = sender->EntryInfo(index).StoredName();
        const bool unsafe = archive::reader::IsRefusedName(stored);
        const std::string detail = sender->SkipDetail();
        // Names from the backup are shown with their control characters escaped, never raw.
        const QString target = reason == archive::skBadPassword ? currentFile_
                               : unsafe ? QString::fromStdString(archive::PrintableName(stored))
                                        : QString::fromStdString(archive::fs::Resolve(name));
        QString why;
        if (reason == archive::skBadPassword) {
            why = QStringLiteral("encrypted in the backup");
        } else if (unsafe && (detail.empty() || detail == archive::reader::kNameLeadsOutside)) {
            why = QStringLiteral("refused: its name in the backup reaches outside the logger folder");
        } else if (!detail.empty()) {
            why = QStringLiteral("refused: ") + QString::fromStdString(detail);
        } else if (const auto attributes = archive::fs::GetAttributes(name);
                   attributes && (*attributes & archive::fs::faReadOnly)) {
            why = QStringLiteral("the file on disk is read-only");
        } else {
            why = QStringLiteral("it cannot be written there");
        }
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

QStringList RestoreCommand::Run(const RestoreRequest& request) {
    const QString& logger = request.loggerFolder;
    RemoveStaleScratchFiles(logger, QFileInfo(request.archivePath).path());
    if (const QString problem = TmpFolderProblem(logger); !problem.isEmpty())
        throw std::runtime_error((problem + QStringLiteral(" Nothing was restored.")).toStdString());
    unzip_.SetZipName(Native(request.archivePath));

    QStringList notRestored;
    QStringList restoredParts;
    QStringList pendingParts;
    for (const RestoreCategory& category : RestoreCategories())
        if (category.caption && Chosen(request, category.box)) pendingParts.append(Quoted(category.caption));
    const RestoreCategory* current = nullptr;
    // Every part is all or nothing; the reader is given back as it was, whatever happens.
    struct AllOrNothing {
        bool& flag;
        const bool saved = flag;
        ~AllOrNothing() { flag = saved; }
    } allOrNothing{unzip_.AllOrNothing};
    unzip_.AllOrNothing = true;
    try {
        unzip_.ReadCentralDirectory();
        unzip_.OverwriteMode = archive::Always;

        bool snapshotsWhole = true;
        bool configurationWhole = false;
        for (const RestoreCategory& category : RestoreCategories()) {
            if (!Chosen(request, category.box)) continue;
            current = &category;
            const Part part = RunPart(request, category);
            current = nullptr;
            const bool whole = part.failed.isEmpty();
            if (category.box == RestoreCategory::Always) {
                snapshotsWhole = whole;
                if (!request.configuration) continue;  // unpacked only to be deleted again
            }
            if (category.caption) {
                pendingParts.removeOne(Quoted(category.caption));
                if (whole && part.matched > 0) restoredParts.append(Quoted(category.caption));
            }
            if (category.box == RestoreCategory::Configuration) configurationWhole = whole;
            if (part.matched == 0 && category.caption)
                notRestored.append(Quoted(category.caption) + QStringLiteral(": not in this backup"));
            for (auto it = part.failed.cbegin(); it != part.failed.cend(); ++it)
                notRestored.append(LoggerRelative(logger, it.key()) + QStringLiteral(": ") + it.value());
            if (!whole) {
                for (const QString& file : part.started) {
                    if (part.failed.contains(file)) continue;
                    notRestored.append(LoggerRelative(logger, file) +
                                       QStringLiteral(": not restored, because not all files of %1 could be")
                                           .arg(PartName(category)));
                }
            }
        }

        if (request.configuration) {
            for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots) {
                const QString key = QString::fromLatin1(snapshot.key);
                const QString file = logger + QString::fromLatin1(snapshot.file);
                if (!configurationWhole || !snapshotsWhole) {
                    notRestored.append(QStringLiteral("Registry key %1: not imported, because the configuration "
                                                      "could not be restored whole").arg(key));
                    continue;
                }
                if (!QFileInfo::exists(file)) {
                    notRestored.append(QStringLiteral("Registry key %1: not in this backup").arg(key));
                    continue;
                }
                registry_.ImportFile(file);
                const QString problem = registry_.LastProblem();
                if (!problem.isEmpty())
                    notRestored.append(QStringLiteral("Registry key %1: not imported: %2").arg(key, problem));
            }
        }
    } catch (const std::exception& e) {
        DeleteOwnTmpFiles(logger);
        // What the user must know beyond the error itself: which file and disk, and which parts were done.
        QStringList details;
        const auto* write = dynamic_cast<const archive::EWriteError*>(&e);
        const bool diskFull = write && IsDiskFull(write->ErrorCode);
        if (diskFull) {
            details.append(QStringLiteral("%1 is full: %2 could not be restored. The logger's files of %3 were left "
                                          "unchanged.")
                               .arg(DiskOf(currentFile_), currentFile_,
                                    current ? PartName(*current) : QStringLiteral("this part")));
        }
        if (!restoredParts.isEmpty() || diskFull) {
            if (!restoredParts.isEmpty()) details.append(QStringLiteral("Restored: ") + restoredParts.join(QStringLiteral(", ")));
            if (!pendingParts.isEmpty()) details.append(QStringLiteral("Not restored: ") + pendingParts.join(QStringLiteral(", ")));
        }
        if (details.isEmpty()) throw;
        throw std::runtime_error((QString::fromUtf8(e.what()) + QStringLiteral("\n\n") + details.join(QLatin1Char('\n')))
                                     .toStdString());
    } catch (...) {
        DeleteOwnTmpFiles(logger);
        throw;
    }

    notRestored.removeDuplicates();  // an entry two parts select is told once
    if (notRestored.isEmpty())
        reporter_.Done(QString::fromLatin1(kRestoreDone));
    else
        reporter_.Incomplete(IncompleteRestoreText(notRestored));
    DeleteOwnTmpFiles(logger);
    return notRestored;
}

}  // namespace app
