// The real /proc process list narrowed to the processes this test started (its descendants).
//
// Tests that start processes named like the logger run beside other tests that do the same; looking
// only at our own descendants keeps them from seeing each other's loggers, while the list is still
// read from /proc by the product's own code.
#pragma once

#include "app/platform/linux_process_list.h"

#include <QCoreApplication>
#include <QFile>

namespace app::fakes {

// The parent of `pid` from /proc/<pid>/stat; 0 when it cannot be read.
inline qint64 ParentPid(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly)) return 0;
    const QByteArray stat = file.readAll();
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0) return 0;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');  // state, ppid, ...
    return fields.size() > 1 ? fields[1].toLongLong() : 0;
}

inline bool IsDescendantOf(qint64 pid, qint64 ancestor) {
    for (int depth = 0; depth < 64 && pid > 1; ++depth) {
        pid = ParentPid(pid);
        if (pid == ancestor) return true;
    }
    return false;
}

class OwnProcessList : public platform::ProcessList {
public:
    std::vector<platform::ProcessEntry> ListProcesses() override {
        const qint64 self = QCoreApplication::applicationPid();
        std::vector<platform::ProcessEntry> own;
        for (auto& entry : real_.ListProcesses())
            if (IsDescendantOf(entry.pid, self)) own.push_back(std::move(entry));
        return own;
    }

private:
    platform::LinuxProcessList real_;
};

}  // namespace app::fakes
