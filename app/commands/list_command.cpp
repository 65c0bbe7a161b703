// Listing the backups; see list_command.h.
#include "app/commands/list_command.h"

#include "app/backup_layout.h"
#include "app/commands/backup_names.h"
#include "app/creation_label.h"
#include "app/native_path.h"
#include "archive/reader/archive_check.h"
#include "ui/folder_listing.h"

#include <QDir>
#include <QFileInfo>

namespace app {

QString BackupLabel(const QString& fileName) {
    const auto parsed = ParseArchiveName(fileName.toStdString());
    if (!parsed || parsed->kind != ArchiveKind::SafetyBackup) return CreationLabel(fileName);
    const NameTime& t = parsed->time;
    return QString::asprintf("%02d.%02d.%04d at %02d:%02d, made before a restore", t.day, t.month, t.year, t.hour, t.minute);
}

std::vector<BackupListing> ListBackups(const QString& folder) {
    std::vector<BackupListing> backups;
    for (const ui::ListedItem& item : ui::ListFolder(folder, QString::fromLatin1(kBackupMask))) {
        if (item.folder) continue;
        BackupListing backup;
        backup.path = QDir(folder).filePath(item.name);
        backup.label = BackupLabel(item.name);
        backup.size = QFileInfo(backup.path).size();
        const archive::CheckResult opened = archive::OpenArchive(Native(backup.path));
        backup.opens = opened.opened;
        if (!opened.opened && !opened.problems.empty())
            backup.problem = QString::fromStdString(opened.problems.front().what);
        backups.push_back(backup);
    }
    return backups;
}

QString ListingLine(const BackupListing& backup) {
    return backup.path + QLatin1Char('\t') + backup.label + QLatin1Char('\t') + QString::number(backup.size) +
           QLatin1Char('\t') + (backup.opens ? QStringLiteral("opens") : QStringLiteral("does not open: ") + backup.problem);
}

}  // namespace app
