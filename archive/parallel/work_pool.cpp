#include "archive/parallel/work_pool.h"

namespace archive::parallel {

WorkPool::WorkPool(unsigned threads) {
    if (threads == 0) threads = 1;
    threads_.reserve(threads);
    try {
        for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
    } catch (...) {
        // A thread that cannot be made: the ones made already end before the failure goes on.
        Stop();
        throw;
    }
}

WorkPool::~WorkPool() { Stop(); }

void WorkPool::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_all();
    for (auto& t : threads_)
        if (t.joinable()) t.join();
}

void WorkPool::Submit(std::function<void()> task) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(task));
    }
    wake_.notify_one();
}

unsigned WorkPool::Cores() {
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 1 : n;
}

void WorkPool::Work() {
    for (;;) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            task = std::move(queue_.front());
            queue_.pop_front();
        }
        task();
    }
}

}  // namespace archive::parallel
