// The shared steps; see command_steps.h.
#include "app/commands/command_steps.h"

#include "app/backup_layout.h"
#include "app/native_path.h"
#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/writer/vcl_zip.h"
#include "ui/file_list_box.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <cerrno>

namespace app {

void ConfigureBackupWriter(archive::TVCLZip& zip) {
    zip.RecreateDirs = true;
    zip.OverwriteMode = archive::Always;
    zip.SetStorePaths(true);
    zip.ZipAction = archive::zaReplace;
}

void ConfigureRestoreReader(archive::TVCLUnZip& unzip) {
    unzip.OverwriteMode = archive::Always;
    unzip.FlushFilesOnClose = true;
}

void RemoveStaleScratchFiles(const QString& loggerFolder, const QString& backupFolder) {
    QStringList folders{loggerFolder, loggerFolder + QStringLiteral("DB"), loggerFolder + QString::fromLatin1(kTmpFolder)};
    if (!backupFolder.isEmpty()) folders.append(backupFolder);
    for (const QString& folder : folders) {
        if (!folder.isEmpty()) archive::fs::RemoveStaleScratchFiles(Native(folder));
    }
}

void EmptyTmpFolder(const QString& loggerFolder) {
    const QString tmp = loggerFolder + QString::fromLatin1(kTmpFolder);
    std::vector<ui::ListedItem> items;
    try {
        items = ui::ListFolder(tmp, QStringLiteral("*.*"));
    } catch (const std::exception&) {
        return;
    }
    for (const ui::ListedItem& item : items) {
        if (!item.folder) archive::fs::DeleteFile(Native(tmp + QLatin1Char('/') + item.name));
    }
}

QString LoggerRelative(const QString& loggerFolder, const QString& path) {
    return path.startsWith(loggerFolder) ? path.mid(loggerFolder.size()) : path;
}

QString DiskOf(const QString& path) {
    QString probe = path;
    while (!probe.isEmpty() && !QFileInfo::exists(probe)) {
        const QString parent = QFileInfo(probe).path();
        if (parent == probe) break;
        probe = parent;
    }
    const QStorageInfo disk(probe.isEmpty() ? QStringLiteral("/") : probe);
    if (!disk.isValid()) return QStringLiteral("The disk that holds %1").arg(path);
    return QStringLiteral("The disk mounted at %1 (%2 free)")
        .arg(disk.rootPath(), QLocale::c().formattedDataSize(disk.bytesAvailable(), 0, QLocale::DataSizeTraditionalFormat));
}

bool IsDiskFull(int errorNumber) { return errorNumber == ENOSPC || errorNumber == EDQUOT || errorNumber == EFBIG; }

}  // namespace app
