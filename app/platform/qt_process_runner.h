// ProcessRunner on QProcess: fork/exec with an argument list, a blocking wait on the caller's thread.
#pragma once

#include "app/platform/process_runner.h"

namespace app::platform {

class QtProcessRunner : public ProcessRunner {
public:
    RunResult RunAndWait(const RunRequest& request) override;
};

}  // namespace app::platform
