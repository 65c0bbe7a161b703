// Ctrl-C, SIGTERM and SIGHUP during a command-line run.
//
// Dying on the spot would leave the partial archive (up to its full size) in the backup folder until the
// next run sweeps it. Instead the first such signal is noted, and the engine's next message pump (several
// times a second while it reads, writes or checks) raises the engine's cancel, so that the run unwinds
// as after any failure: the scratch archive and the snapshots go, the backups and the logger's files stay
// as they were. Then the signal is raised again with its default action, so that whoever started us
// sees how we ended. A second signal ends the run at once.
//
// The watcher sleeps in poll() for hours; a flag alone would not wake it. So the handler also writes a
// byte to a pipe whose reading end the waits watch (StopFd()): it becomes readable at the first signal
// and stays so.
//
// A closed standard output (a pipe whose reader went away) is no reason to stop half-way either: writes
// to it fail quietly, and the run finishes its work (--keep included).
#pragma once

#include "archive/host.h"

#include <functional>

namespace app::cli {

class Interrupts {
public:
    // Catches the three signals and ignores SIGPIPE for the life of the object.
    Interrupts();
    ~Interrupts();
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    // The signal caught, or 0.
    static int Caught();
    // When a signal was caught: its default action, now (does not return for the three signals).
    static void EndAsSignalled();
    // Readable once a signal was caught; -1 outside the object's life.
    static int StopFd();
};

// The engine's host on the command line: boxes go to standard error, and the pump raises the engine's
// cancel once a signal was caught.
class CommandLineHost : public archive::DefaultHost {
public:
    CommandLineHost() : archive::DefaultHost(true) {}
    void ProcessMessages() override;

    // Called at every pump while no signal was caught (the watcher looks for the logger there).
    std::function<void()> onPump;
};

}  // namespace app::cli
