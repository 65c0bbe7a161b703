// Signals of a command-line run; see interrupts.h.
#include "app/cli/interrupts.h"

#include "archive/errors.h"

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace app::cli {

namespace {

volatile std::sig_atomic_t caught = 0;
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction saved[3];
struct sigaction savedPipe;

int stopPipe[2] = {-1, -1};

extern "C" void NoteSignal(int signal) {
    caught = signal;
    if (stopPipe[1] >= 0) {
        const int saved = errno;
        const ssize_t written = ::write(stopPipe[1], "s", 1);
        (void)written;  // a full pipe is readable already
        errno = saved;
    }
}

}  // namespace

Interrupts::Interrupts() {
    caught = 0;
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) stopPipe[0] = stopPipe[1] = -1;
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    // Restarted calls keep a child's wait going; the next pump stops the work. A second signal takes
    // the default action, which ends the run at once.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &action, &saved[i]);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &savedPipe);
}

Interrupts::~Interrupts() {
    for (int i = 0; i < 3; ++i) sigaction(kStopSignals[i], &saved[i], nullptr);
    sigaction(SIGPIPE, &savedPipe, nullptr);
    for (int& fd : stopPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

int Interrupts::StopFd() { return stopPipe[0]; }

int Interrupts::Caught() { return caught; }

void Interrupts::EndAsSignalled() {
    const int signal = caught;
    if (signal == 0) return;
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    std::raise(signal);
}

void CommandLineHost::ProcessMessages() {
    if (Interrupts::Caught()) throw archive::EUserCanceled("Interrupted: the work was stopped and undone");
    if (onPump) onPump();
}

}  // namespace app::cli
