// The shared steps; see command_steps.h.
#include "app/commands/command_steps.h"

#include "app/backup_layout.h"
#include "app/native_path.h"
#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/writer/vcl_zip.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStorageInfo>

#include <cerrno>

#include <sys/file.h>

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
    if (!backupFolder.isEmpty()) archive::fs::RemoveStaleScratchFiles(Native(backupFolder));
    if (loggerFolder.isEmpty()) return;
    archive::fs::RemoveStaleScratchFiles(Native(loggerFolder));
    // Every folder below, without entering links: a restore puts its scratch files beside any file it
    // restores. A bound keeps a start-up quick in a folder that somebody filled with a tree of its own.
    constexpr int kMostFolders = 2000;
    int folders = 0;
    QDirIterator below(loggerFolder, QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks,
                       QDirIterator::Subdirectories);
    while (below.hasNext() && folders++ < kMostFolders) archive::fs::RemoveStaleScratchFiles(Native(below.next()));

    const QString tmp = QString::fromStdString(archive::fs::Resolve(Native(loggerFolder + QString::fromLatin1(kTmpFolder))));
    if (!TmpFolderProblem(loggerFolder).isEmpty()) return;
    for (const QString& name : QDir(tmp).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks)) {
        if (!archive::fs::IsScratchName(name.toStdString())) continue;
        QFile file(QDir(tmp).filePath(name));
        if (!file.open(QIODevice::ReadOnly)) continue;
        // Ours to take only while nobody holds its lock, and only as long as we hold it ourselves.
        const bool locked = ::flock(file.handle(), LOCK_EX | LOCK_NB) != 0;
        if (StaleRegistryExport(name, locked, file.read(64))) file.remove();
    }
}

bool StaleRegistryExport(const QString& fileName, bool locked, const QByteArray& head) {
    if (locked || !archive::fs::IsScratchName(fileName.toStdString())) return false;
    if (head.isEmpty()) return true;
    static const QByteArray kRegedit5("Windows Registry Editor Version 5.00");
    static const QByteArray kRegedit4("REGEDIT4");
    const QByteArray utf16 = QByteArray("\xFF\xFE", 2) +
                             QByteArray(reinterpret_cast<const char*>(QString::fromLatin1(kRegedit5).utf16()), kRegedit5.size() * 2);
    const auto begins = [&](const QByteArray& text) {
        return head.startsWith(text) || (head.size() < text.size() && text.startsWith(head));
    };
    return begins(utf16) || begins(kRegedit5) || begins(kRegedit4);
}

void DeleteOwnTmpFiles(const QString& loggerFolder) {
    archive::fs::DeleteFile(Native(loggerFolder + QString::fromLatin1(kSettingsScratchFile)));
    for (const RegistrySnapshotFile& snapshot : kRegistrySnapshots)
        archive::fs::DeleteFile(Native(loggerFolder + QString::fromLatin1(snapshot.file)));
}

QString TmpFolderProblem(const QString& loggerFolder) {
    const QString tmp = loggerFolder + QString::fromLatin1(kTmpFolder);
    const QFileInfo link(QString::fromStdString(archive::fs::Resolve(Native(tmp))));
    if (!link.isSymLink()) return QString();
    const QString inside = QFileInfo(loggerFolder).canonicalFilePath();
    const QString target = link.canonicalFilePath();
    if (!target.isEmpty() && !inside.isEmpty() && target.startsWith(inside + QLatin1Char('/'))) return QString();
    return QStringLiteral("The folder %1 is a link to %2, outside the logger folder; nothing is written there.")
        .arg(tmp, target.isEmpty() ? link.symLinkTarget() : target);
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
