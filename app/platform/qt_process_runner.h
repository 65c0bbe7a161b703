// ProcessRunner on QProcess: fork/exec with an argument list.
//
// The wait keeps the caller's (window) thread serving everything but the user's input: the window
// repaints while the registry editor or the close-request helper runs, and no click or key reaches a
// handler before the run is over (they wait in the queue). Programs started to run beside the caller are
// cut off at their time limit and ended when the runner goes.
#pragma once

#include "app/platform/process_runner.h"

#include <memory>
#include <vector>

class QProcess;

namespace app::platform {

class QtProcessRunner : public ProcessRunner {
public:
    QtProcessRunner();
    ~QtProcessRunner() override;
    RunResult RunAndWait(const RunRequest& request) override;
    bool Start(const RunRequest& request) override;
    // Programs started with Start that are still running.
    int Running() const;

private:
    std::vector<std::unique_ptr<QProcess>> beside_;
};

}  // namespace app::platform
