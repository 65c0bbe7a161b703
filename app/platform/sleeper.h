// Sleeping on the caller's thread. The guard's wait is 29 one-second sleeps; behind this interface
// the tests count them instead of waiting half a minute.
#pragma once

namespace app::platform {

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void Sleep(int milliseconds) = 0;
};

// Sleeps in a local event loop that serves everything but the user's input: the window repaints and
// programs started beside it are reaped, while clicks and keys wait until the sleep is over.
class EventLoopSleeper : public Sleeper {
public:
    void Sleep(int milliseconds) override;
};

}  // namespace app::platform
