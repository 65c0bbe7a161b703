// Parsing the mount table for the dialog's drive chooser.
#include "ui/mounts.h"

#include "archive/fs/fs.h"

#include <QFile>

#include <algorithm>
#include <set>

namespace ui {

namespace {

const std::set<QString> kVirtualTypes = {
    "proc", "sysfs", "devpts", "devtmpfs", "cgroup", "cgroup2", "securityfs", "pstore", "debugfs", "tracefs",
    "mqueue", "hugetlbfs", "configfs", "fusectl", "binfmt_misc", "bpf", "autofs", "efivarfs", "rpc_pipefs",
    "nsfs", "selinuxfs", "ramfs", "fuse.gvfsd-fuse", "fuse.portal"};

QString Unescape(const QString& field) {
    QString out;
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == QLatin1Char('\\') && i + 3 < field.size()) {
            bool ok = false;
            const int code = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += QChar(code);
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool Under(const QString& path, const QString& folder) {
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

}  // namespace

QStringList ParseMountedFolders(const QString& mountsText) {
    QStringList folders;
    for (const QString& line : mountsText.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList fields = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (fields.size() < 3) continue;
        const QString folder = Unescape(fields[1]);
        const QString& type = fields[2];
        if (!folder.startsWith(QLatin1Char('/')) || kVirtualTypes.count(type)) continue;
        const bool scratch = Under(folder, "/proc") || Under(folder, "/sys") || Under(folder, "/dev") ||
                             (Under(folder, "/run") && !Under(folder, "/run/media"));
        if (scratch) continue;
        if (!folders.contains(folder)) folders << folder;
    }
    folders.removeAll(QStringLiteral("/"));
    std::sort(folders.begin(), folders.end(),
              [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    folders.prepend(QStringLiteral("/"));
    return folders;
}

QStringList MountedFolders() {
    QFile file(QStringLiteral("/proc/self/mounts"));
    QStringList folders;
    if (file.open(QIODevice::ReadOnly)) folders = ParseMountedFolders(QString::fromUtf8(file.readAll()));
    else folders << QStringLiteral("/");
    // Bind-mounted single files (a container's /etc/hosts) are no place to browse.
    folders.erase(std::remove_if(folders.begin(), folders.end(),
                                 [](const QString& f) { return !archive::fs::DirectoryExists(f.toStdString()); }),
                  folders.end());
    if (folders.isEmpty()) folders << QStringLiteral("/");
    return folders;
}

QString MountOf(const QStringList& mounts, const QString& path) {
    QString best = QStringLiteral("/");
    for (const QString& m : mounts)
        if ((m == QLatin1String("/") || Under(path, m)) && m.size() > best.size()) best = m;
    return best;
}

}  // namespace ui
