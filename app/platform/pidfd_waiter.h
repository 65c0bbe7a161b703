// ProcessWaiter on Linux: a pidfd (pidfd_open, Linux 5.3) becomes readable when its process ends, for
// any process we may see, not only our children; poll() sleeps on it and on the stop descriptor
// together. On a kernel without pidfds the end is looked for every two seconds instead.
#pragma once

#include "app/platform/process_waiter.h"

namespace app::platform {

class PidfdWaiter : public ProcessWaiter {
public:
    // `stopFd` becomes readable once the run is asked to stop (a signal handler writes to its pipe);
    // -1 when nothing stops the waits early.
    explicit PidfdWaiter(int stopFd = -1) : stopFd_(stopFd) {}
    Woke WaitForEnd(qint64 pid, int timeoutMs) override;
    Woke Pause(int milliseconds) override;
    qint64 NowMs() override;

    static constexpr int kFallbackLookMs = 2000;

private:
    Woke PollUntil(int processFd, int timeoutMs);

    int stopFd_;
};

}  // namespace app::platform
