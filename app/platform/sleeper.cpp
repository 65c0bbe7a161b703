// The real sleep, in a local event loop.
#include "app/platform/sleeper.h"

#include <QEventLoop>
#include <QTimer>

namespace app::platform {

void EventLoopSleeper::Sleep(int milliseconds) {
    if (milliseconds <= 0) return;
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace app::platform
