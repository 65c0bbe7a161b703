// Sleeping on the caller's thread. The guard's wait is 29 one-second sleeps; behind this interface
// the tests count them instead of waiting half a minute.
#pragma once

namespace app::platform {

class Sleeper {
public:
    virtual ~Sleeper() = default;
    virtual void Sleep(int milliseconds) = 0;
};

// Really sleeps; the window does not repaint meanwhile, as on the original platform.
class ThreadSleeper : public Sleeper {
public:
    void Sleep(int milliseconds) override;
};

}  // namespace app::platform
