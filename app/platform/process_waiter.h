// Waiting for a process that is not ours to end, and pausing, both cut short when the run is asked to
// stop; with the clock those waits are measured on.
//
// The watcher spends its life in these waits, so they must cost nothing while they last: the Linux
// implementation sleeps in the kernel until the process ends or the stop is rung, and never polls.
#pragma once

#include <QtGlobal>

namespace app::platform {

class ProcessWaiter {
public:
    enum class Woke {
        Ended,     // the process has ended (or was not there to begin with)
        TimedOut,  // the time given passed first
        Stopped,   // the run was asked to stop
    };

    virtual ~ProcessWaiter() = default;
    // Until process `pid` ends, `timeoutMs` pass (-1: no limit) or the stop is rung.
    virtual Woke WaitForEnd(qint64 pid, int timeoutMs) = 0;
    // `milliseconds`, or less when the stop is rung (Stopped then, else TimedOut).
    virtual Woke Pause(int milliseconds) = 0;
    // A monotonic clock in milliseconds, the one the waits are measured on.
    virtual qint64 NowMs() = 0;
};

}  // namespace app::platform
