// Starting a program and waiting for it to end.
//
// The program and its arguments are handed over as a list, never through a shell, so blanks, quotes
// and other special characters in paths arrive unchanged. The caller's environment is inherited with
// the given variables set on top (and the given names removed). Standard input is empty; standard
// output is discarded; standard error passes through to ours, so the tool's own complaints stay
// visible in a terminal.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

namespace app::platform {

struct RunRequest {
    QString program;                  // a path, or a name looked up on PATH
    QStringList arguments;
    QMap<QString, QString> setEnv;    // variables set (or replaced) for the child
    QStringList unsetEnv;             // variables removed for the child
    int timeoutMs = -1;               // -1: wait as long as it takes; else the child is killed after it
};

struct RunResult {
    bool started = false;    // the program could be started at all
    bool exited = false;     // it ended by itself (not killed, not crashed, not timed out)
    int exitCode = -1;       // valid when `exited`
};

class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;
    virtual RunResult RunAndWait(const RunRequest& request) = 0;
    // Starts the program and returns at once; its end is not awaited (the time limit still applies).
    // True when it could be started. Runners that cannot run beside the caller wait here instead.
    virtual bool Start(const RunRequest& request) { return RunAndWait(request).started; }
};

}  // namespace app::platform
