// pidfd waits; see pidfd_waiter.h. poll() is never restarted after a signal handler ran (EINTR), so a
// stop arriving during the wait is seen at once: the handler has written to the stop pipe by then.
// The stop descriptor is looked at first, so that a stop wins over an end seen in the same wake-up.
#include "app/platform/pidfd_waiter.h"

#include <algorithm>
#include <cerrno>
#include <ctime>

#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace app::platform {

namespace {

// Whether `pid` still names a process (one we may not signal counts too).
bool Exists(qint64 pid) { return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM; }

}  // namespace

qint64 PidfdWaiter::NowMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<qint64>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

ProcessWaiter::Woke PidfdWaiter::PollUntil(int processFd, int timeoutMs) {
    const qint64 deadline = timeoutMs < 0 ? -1 : NowMs() + timeoutMs;
    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {processFd, POLLIN, 0}};  // fd -1 is passed over by poll()
        const int left = deadline < 0 ? -1 : static_cast<int>(std::max<qint64>(0, deadline - NowMs()));
        const int ready = ::poll(fds, 2, left);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) return Woke::TimedOut;  // cannot wait here: the caller looks again
        if (fds[0].revents != 0) return Woke::Stopped;
        if (fds[1].revents != 0) return Woke::Ended;
        if (ready == 0) return Woke::TimedOut;
    }
}

ProcessWaiter::Woke PidfdWaiter::WaitForEnd(qint64 pid, int timeoutMs) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0u));
    if (fd < 0) {
        if (errno == ESRCH) return Woke::Ended;
        // No pidfds here: look again after a pause.
        const int pause = timeoutMs < 0 ? kFallbackLookMs : std::min(timeoutMs, kFallbackLookMs);
        if (Pause(pause) == Woke::Stopped) return Woke::Stopped;
        return Exists(pid) ? Woke::TimedOut : Woke::Ended;
    }
    const Woke woke = PollUntil(fd, timeoutMs);
    ::close(fd);
    return woke;
}

ProcessWaiter::Woke PidfdWaiter::Pause(int milliseconds) { return PollUntil(-1, std::max(0, milliseconds)); }

}  // namespace app::platform
