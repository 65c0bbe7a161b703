// The real sleep.
#include "app/platform/sleeper.h"

#include <chrono>
#include <thread>

namespace app::platform {

void ThreadSleeper::Sleep(int milliseconds) {
    if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace app::platform
