// The safety backup before a restore; see safety_backup.h.
#include "app/commands/safety_backup.h"

#include "app/backup_layout.h"
#include "app/commands/create_command.h"
#include "app/commands/reporter.h"
#include "app/commands/retention.h"
#include "app/native_path.h"
#include "archive/ascii_fold.h"
#include "archive/fs/fs.h"
#include "archive/reader/archive_check.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace app {

namespace {

// The backup is a step of the restore: what it says goes into the restore's own report.
class SilentReporter : public Reporter {
public:
    void Done(const QString&) override {}
    void Incomplete(const QString&) override {}
};

QString Made(archive::TVCLZip& zip, platform::RegistrySnapshot& registry, const QString& loggerFolder,
             const QString& folder, const QStringList& replaced) {
    SilentReporter silent;
    CreateCommand command(zip, registry, silent);
    CreateRequest request{loggerFolder, folder, QDateTime::currentDateTime()};
    request.beforeRestore = true;
    request.alsoFiles = replaced;
    const CreateOutcome outcome = command.Run(request);
    if (!outcome.created) throw std::runtime_error("the logger's tmp folder cannot be made");
    return outcome.archivePath;
}

// The files of `replaced` that the archive at `path` does not hold.
QStringList NotHeld(const QString& path, const QStringList& replaced) {
    const archive::CheckResult opened = archive::OpenArchive(Native(path));
    QStringList missing;
    for (const QString& file : replaced) {
        const std::string name = file.toStdString();
        bool held = false;
        for (const archive::CheckedEntry& entry : opened.entries) held = held || archive::EqualIgnoringCase(entry.name, name);
        if (!held) missing.append(file);
    }
    return missing;
}

// The oldest safety backups of `folder` beyond the number kept, the new one never; a read-only one stays.
void DeleteOldSafetyBackups(const QString& folder, const QString& made) {
    std::vector<std::string> names;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) names.push_back(name.toStdString());
    for (const std::string& name : SafetyBackupsBeyond(names, kSafetyBackupsKept, QFileInfo(made).fileName().toStdString())) {
        const std::string path = Native(QDir(folder).filePath(QString::fromStdString(name)));
        const auto attributes = archive::fs::GetAttributes(path);
        if (attributes && !(*attributes & archive::fs::faReadOnly)) archive::fs::DeleteFile(path);
    }
}

}  // namespace

QString FallbackSafetyFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty()) data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/") + QString::fromLatin1(kProgramTitle) + QStringLiteral("/before-restore");
}

QString MakeSafetyBackup(archive::TVCLZip& zip, platform::RegistrySnapshot& registry, const QString& loggerFolder,
                         const QString& archivePath, const QStringList& replaced) {
    const QString beside = QFileInfo(archivePath).absolutePath();
    QString made, folder, besideProblem;
    try {
        made = Made(zip, registry, loggerFolder, beside, replaced);
        folder = beside;
    } catch (const std::exception& e) {
        besideProblem = QString::fromUtf8(e.what());
    }
    const QString fallback = FallbackSafetyFolder();
    if (made.isEmpty()) {
        try {
            if (!QDir().mkpath(fallback)) throw std::runtime_error(("the folder " + fallback + " cannot be made").toStdString());
            made = Made(zip, registry, loggerFolder, fallback, replaced);
            folder = fallback;
        } catch (const std::exception& e) {
            throw std::runtime_error(QStringLiteral("The files as they are now could not be backed up before the restore, "
                                                    "so nothing was restored.\n\nIn %1: %2\n\nIn %3: %4")
                                         .arg(beside, besideProblem, fallback, QString::fromUtf8(e.what()))
                                         .toStdString());
        }
    }
    // A restore that could not be undone whole does not start.
    if (const QStringList missing = NotHeld(made, replaced); !missing.isEmpty()) {
        archive::fs::DeleteFile(Native(made));
        throw std::runtime_error((QStringLiteral("The files as they are now could not be backed up before the restore, "
                                                 "so nothing was restored. These files would have been replaced, but "
                                                 "could not be backed up:\n") +
                                  missing.join(QLatin1Char('\n')))
                                     .toStdString());
    }
    DeleteOldSafetyBackups(folder, made);
    return made;
}

QString SafetyBackupText(const QString& path) {
    return QStringLiteral("The files as they were before this restore are kept in %1.").arg(path);
}

}  // namespace app
