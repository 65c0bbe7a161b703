// The list of running processes, as the logger guard sees it: each process's executable file name
// (no folder) with its process identifier.
//
// The list is rebuilt on every call; nothing survives between calls. A process that cannot be read
// (it ended meanwhile, or belongs to someone we may not inspect) is simply not in the list, so the
// guard never sees a logger it could not have closed anyway.
#pragma once

#include <QString>
#include <QtGlobal>
#include <vector>

namespace app::platform {

struct ProcessEntry {
    QString name;  // executable file name without folder, e.g. "ZORVEL_Log3.exe"
    qint64 pid = 0;
};

class ProcessList {
public:
    virtual ~ProcessList() = default;
    // The running processes, in the order the system gives them.
    virtual std::vector<ProcessEntry> ListProcesses() = 0;
};

}  // namespace app::platform
