// The logger guard: may the logger's files be touched now?
//
// The logger is recognised only by its executable's file name, compared with the whole process name
// ignoring case (no partial match: "MyZORVEL_Log3.exe" and "ZORVEL_Log3.exe.bak" are other programs).
// When it runs, the user is asked to close it; on Yes the logger's QSO-entry window is asked to close
// (an open entry window would keep the logger from closing) and the guard polls the process list for
// up to 29 one-second sleeps, counted from the answer: the close request goes out beside the wait,
// however long it takes to arrive. The guard never ends the logger itself.
//
// Consulted when the window is first shown, before a backup is made and before a restore.
#pragma once

#include "app/platform/dialogs.h"
#include "app/platform/process_list.h"
#include "app/platform/sleeper.h"
#include "app/platform/window_closer.h"

#include <QString>

#include <functional>

namespace app {

inline constexpr char kLoggerExecutable[] = "ZORVEL_Log3.exe";
inline constexpr char kQsoWindowClass[] = "TfmEditNewQso";
inline constexpr char kCloseLoggerQuestion[] = "You must be close \"ZORVEL_Log 3\" program";

// Whether a process named `executableName` (case-insensitively, whole name) runs now; the list is
// taken afresh.
bool IsProcessRunning(platform::ProcessList& processes, const QString& executableName);

class LoggerGuard {
public:
    // Sleeps of the wait and their most (30 on the counter, counted down while above 1).
    static constexpr int kSleepMs = 1000;
    static constexpr int kMaxSleeps = 29;

    LoggerGuard(platform::ProcessList& processes, platform::Dialogs& dialogs, platform::WindowCloser& closer,
                platform::Sleeper& sleeper);

    // True when it is safe to proceed (the logger is not running, or ended while we waited); false
    // when the logger still runs.
    bool Guard();

    // Told before each sleep of the wait how many seconds it may still last (29 first, then 28, ...).
    std::function<void(int secondsLeft)> OnWaiting;

private:
    bool LoggerRunning();

    platform::ProcessList& processes_;
    platform::Dialogs& dialogs_;
    platform::WindowCloser& closer_;
    platform::Sleeper& sleeper_;
};

}  // namespace app
