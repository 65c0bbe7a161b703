// The wait counts down from 30 and sleeps only while the counter is above 1, so it ends after at most
// 29 sleeps, or as soon as the logger is gone. The answer is decided by one last look afterwards, so a
// logger that ends during the final sleep still counts as gone.
#include "app/logger_guard.h"

namespace app {

bool IsProcessRunning(platform::ProcessList& processes, const QString& executableName) {
    const QString wanted = executableName.toUpper();
    for (const platform::ProcessEntry& entry : processes.ListProcesses()) {
        if (entry.name.toUpper() == wanted) return true;
    }
    return false;
}

LoggerGuard::LoggerGuard(platform::ProcessList& processes, platform::Dialogs& dialogs,
                         platform::WindowCloser& closer, platform::Sleeper& sleeper)
    : processes_(processes), dialogs_(dialogs), closer_(closer), sleeper_(sleeper) {}

bool LoggerGuard::LoggerRunning() { return IsProcessRunning(processes_, QString::fromLatin1(kLoggerExecutable)); }

bool LoggerGuard::Guard() {
    if (!LoggerRunning()) return true;
    if (dialogs_.Confirm(QString::fromLatin1(kCloseLoggerQuestion))) {
        // The close request goes out beside the wait: the 29 seconds count from the answer, however
        // long Wine takes to start the request.
        closer_.StartCloseRequest(QString::fromLatin1(kQsoWindowClass));
        int counter = kMaxSleeps + 1;
        while (LoggerRunning() && counter > 1) {
            if (OnWaiting) OnWaiting((counter - 1) * kSleepMs / 1000);
            sleeper_.Sleep(kSleepMs);
            --counter;
        }
    }
    return !LoggerRunning();
}

}  // namespace app
