// A fixed set of worker threads that run tasks in the order they were handed in.
//
// The engine uses workers only for work whose result does not depend on when or where it runs, and plays
// the results back on the caller's thread in the order of a one-thread run (README.md beside this file); a
// task never calls back into the caller. Tasks must not throw: they keep their own failure for the caller
// to pick up. The destructor lets the running tasks finish, drops the ones not yet started, and joins the
// threads.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace archive::parallel {

class WorkPool {
public:
    explicit WorkPool(unsigned threads);
    ~WorkPool();
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    unsigned Threads() const { return static_cast<unsigned>(threads_.size()); }
    void Submit(std::function<void()> task);

    // The number of cores (at least 1).
    static unsigned Cores();

private:
    void Work();
    void Stop();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace archive::parallel
