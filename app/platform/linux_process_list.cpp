// Walks the proc root once per call. Processes come and go while we read, so every read may fail;
// a failure only drops that one process.
#include "app/platform/linux_process_list.h"

#include "app/platform/proc_parse.h"

#include <QDir>
#include <QFile>
#include <algorithm>

namespace app::platform {

namespace {

// The whole of a small /proc file; nullopt when it cannot be opened. /proc files report size 0, so
// this reads to the end instead of trusting the size.
std::optional<QByteArray> ReadProcFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) return std::nullopt;
    return bytes;
}

}  // namespace

LinuxProcessList::LinuxProcessList(QString procRoot) : procRoot_(std::move(procRoot)) {}

std::vector<ProcessEntry> LinuxProcessList::ListProcesses() {
    std::vector<ProcessEntry> list;
    const QDir root(procRoot_);
    const QStringList names = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::vector<std::pair<qint64, QString>> pids;
    for (const QString& name : names) {
        if (auto pid = PidFromDirName(name)) pids.emplace_back(*pid, name);
    }
    // Ascending identifiers, the order the system lists processes in.
    std::sort(pids.begin(), pids.end());
    for (const auto& [pid, dirName] : pids) {
        const QString dir = root.filePath(dirName) + QLatin1Char('/');
        const auto stat = ReadProcFile(dir + QStringLiteral("stat"));
        if (!stat) continue;
        const auto state = ProcessStateFromStat(*stat);
        if (!state || *state == 'Z' || *state == 'X') continue;  // ended: zombie or dead
        const auto cmdline = ReadProcFile(dir + QStringLiteral("cmdline"));
        if (!cmdline) continue;
        const QByteArray comm = ReadProcFile(dir + QStringLiteral("comm")).value_or(QByteArray());
        QString processName = ProcessNameFrom(*cmdline, comm);
        if (processName.isEmpty()) continue;
        list.push_back({std::move(processName), pid});
    }
    return list;
}

}  // namespace app::platform
