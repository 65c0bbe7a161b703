// The backup layout's two formed values and the restore table; see backup_layout.h.
#include "app/backup_layout.h"

#include "app/commands/backup_names.h"

namespace app {

QStringList BackupFileList(const QString& loggerFolder) {
    QStringList entries;
    for (const char* pattern : kBackupPatterns) entries.append(QLatin1Char('|') + loggerFolder + QLatin1String(pattern));
    return entries;
}

QString BackupArchivePath(const QString& backupFolderText, const QDateTime& localTime, bool beforeRestore) {
    const QDate d = localTime.date();
    const QTime t = localTime.time();
    const NameTime time{d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second()};
    return backupFolderText + QLatin1Char('/') +
           QString::fromStdString(ArchiveFileName(beforeRestore ? ArchiveKind::SafetyBackup : ArchiveKind::Backup, time));
}

const std::vector<RestoreCategory>& RestoreCategories() {
    // With recreation off an entry lands as destination + its file name: the databases straight in
    // db, the snapshots straight in tmp. The settings keep their stored folders below the logger folder.
    static const std::vector<RestoreCategory> categories{
        {RestoreCategory::Awards, kAwardsCaption, {"db/awards.*"}, "db/", false},
        {RestoreCategory::Database, kDatabaseCaption, {"db/db.*"}, "db/", false},
        {RestoreCategory::Logs, kLogsCaption, {"db/logs.*"}, "db/", false},
        // Only the snapshots: anything else a backup may hold from tmp would only replace a file of the
        // user's there before it is deleted again.
        {RestoreCategory::RegistrySnapshots, nullptr, {kRegistrySnapshots[0].file, kRegistrySnapshots[1].file}, "tmp", false},
        {RestoreCategory::Configuration, kConfigurationCaption,
         {"*.ini", "*.qsl", "*.aal", "*.dat", "LanguageFile*", "*.txt", "*.md", "*.lyr", "*.sys"},
         "",
         true},
    };
    return categories;
}

const RestoreCategory& EverythingCategory() {
    static const RestoreCategory everything{RestoreCategory::Everything, "everything in the backup", {"*"}, "", true};
    return everything;
}

}  // namespace app
