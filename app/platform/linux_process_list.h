// The process list read from /proc.
//
// Every numeric folder of the proc root is one process. Its name comes from cmdline (else comm), and
// a zombie (state Z in stat, or X while it is being removed) is left out: it has ended and only waits
// for its parent to collect it, so it must not keep the guard waiting. Any file that cannot be read leaves that process out.
#pragma once

#include "app/platform/process_list.h"

namespace app::platform {

class LinuxProcessList : public ProcessList {
public:
    // `procRoot` is "/proc" in the product; tests point it at a recorded copy.
    explicit LinuxProcessList(QString procRoot = QStringLiteral("/proc"));
    std::vector<ProcessEntry> ListProcesses() override;

private:
    QString procRoot_;
};

}  // namespace app::platform
