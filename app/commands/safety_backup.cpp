// The safety backup before a restore; see safety_backup.h.
#include "app/commands/safety_backup.h"

#include "app/backup_layout.h"
#include "app/commands/create_command.h"
#include "app/commands/reporter.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QThread>

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
             const QString& folder, const QString& archivePath) {
    QDateTime now = QDateTime::currentDateTime();
    // A backup of this second would take the name of the archive about to be restored (or of another
    // backup just made): wait for the next second.
    while (QFileInfo::exists(BackupArchivePath(folder, now)) ||
           QFileInfo(BackupArchivePath(folder, now)).absoluteFilePath() == QFileInfo(archivePath).absoluteFilePath()) {
        QThread::msleep(1000 - now.time().msec() + 5);
        now = QDateTime::currentDateTime();
    }
    SilentReporter silent;
    CreateCommand command(zip, registry, silent);
    const CreateOutcome outcome = command.Run({loggerFolder, folder, now});
    if (!outcome.created) throw std::runtime_error("the logger's tmp folder cannot be made");
    return outcome.archivePath;
}

}  // namespace

QString FallbackSafetyFolder() {
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty()) data = QDir::homePath() + QStringLiteral("/.local/share");
    return data + QStringLiteral("/") + QString::fromLatin1(kProgramTitle) + QStringLiteral("/before-restore");
}

QString MakeSafetyBackup(archive::TVCLZip& zip, platform::RegistrySnapshot& registry, const QString& loggerFolder,
                         const QString& archivePath) {
    const QString beside = QFileInfo(archivePath).absolutePath();
    QString besideProblem;
    try {
        return Made(zip, registry, loggerFolder, beside, archivePath);
    } catch (const std::exception& e) {
        besideProblem = QString::fromUtf8(e.what());
    }
    const QString fallback = FallbackSafetyFolder();
    try {
        if (!QDir().mkpath(fallback)) throw std::runtime_error(("the folder " + fallback + " cannot be made").toStdString());
        return Made(zip, registry, loggerFolder, fallback, archivePath);
    } catch (const std::exception& e) {
        throw std::runtime_error(QStringLiteral("The files as they are now could not be backed up before the restore, "
                                                "so nothing was restored.\n\nIn %1: %2\n\nIn %3: %4")
                                     .arg(beside, besideProblem, fallback, QString::fromUtf8(e.what()))
                                     .toStdString());
    }
}

QString SafetyBackupText(const QString& path) {
    return QStringLiteral("The files as they were before this restore are kept in %1.").arg(path);
}

}  // namespace app
