// Entries compressed ahead of their turn (Deflater::CompressAhead, AwaitAhead, ReplayAhead).
//
// A worker compresses a small entry's whole input, handed over in memory, with the one-thread matcher and
// block coder, into memory, noting each read and write in order. The caller plays them back at the
// entry's turn. A job no worker has started by then is called off: the caller compresses the entry itself.
//
// This is the parallel/ pattern (archive/parallel/README.md) in its plainest form: the worker reads nothing
// but the bytes handed over and calls nothing of the caller's; the replay gives the caller's routines the
// noted reads (AccountEntryData) and writes in their order.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/codec/deflate.h"
#include "archive/codec/deflate_matcher.h"
#include "archive/codec/deflate_state.h"
#include "archive/codec/deflate_tables.h"
#include "archive/codec/trees.h"

namespace archive::codec {

namespace {

// The state of a job: queued, running, done, called off.
enum class AheadState { Queued, Running, Done, CalledOff };

}  // namespace

struct AheadJob {
    std::vector<uint8_t> input;
    int level = 6;
    Deflater::MatchSearch search = Deflater::MatchSearch::Fast;
    unsigned workers = 1;
    std::vector<uint8_t> output;
    std::vector<int64_t> trace;  // in order: n > 0 a read of n bytes, n < 0 a write of -n bytes
    DeflateResult result;
    bool failed = false;
    std::mutex mutex;
    std::condition_variable ended;
    AheadState state = AheadState::Queued;
};

namespace {

class RecordingIO : public DeflateIO {
public:
    explicit RecordingIO(AheadJob& job) : job_(job) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        const size_t n = std::min<size_t>(count, job_.input.size() - pos_);
        if (n == 0) return 0;
        std::memcpy(buffer, job_.input.data() + pos_, n);
        pos_ += n;
        job_.trace.push_back(static_cast<int64_t>(n));
        return static_cast<unsigned>(n);
    }
    void WriteArchiveData(const uint8_t* buffer, size_t n) override {
        if (n == 0) return;
        job_.output.insert(job_.output.end(), buffer, buffer + n);
        job_.trace.push_back(-static_cast<int64_t>(n));
    }

private:
    AheadJob& job_;
    size_t pos_ = 0;
};

// On a worker.
void RunAhead(Deflater::State& st, AheadJob& job) {
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        if (job.state != AheadState::Queued) return;
        job.state = AheadState::Running;
    }
    bool ok = false;
    MatcherBuffers* buf = nullptr;
    bool light = false;
    try {
        buf = TakeSpare(st, job.workers, true, light);
        AllocateMatcher(*buf, light);
        std::memset(buf->window.get(), 0, kWindowSize);
        BlockCoder coder;
        coder.AllocateBuffers();
        RecordingIO io(job);
        job.output.reserve(job.input.size() / 2 + 64);
        coder.Start(io, job.level);
        const LevelParams& lp = kLevels[job.level];
        const uint64_t size = RunMatcher(*buf, coder, io, lp, job.search == Deflater::MatchSearch::Fast && !light);
        job.result = ResultOf(coder, job.level, size);
        ok = true;
    } catch (...) {
        // The caller compresses the entry itself.
    }
    if (buf != nullptr) GiveBack(st, buf, light);
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        job.failed = !ok;
        job.state = AheadState::Done;
    }
    job.ended.notify_all();
}

}  // namespace

std::shared_ptr<AheadJob> Deflater::CompressAhead(std::vector<uint8_t> input, int level) {
    State& st = *state_;
    auto job = std::make_shared<AheadJob>();
    job->input = std::move(input);
    job->level = std::clamp(level, 1, 9);
    job->search = st.search;
    job->workers = Threads();
    PoolOf(st, job->workers).Submit([&st, job] { RunAhead(st, *job); });
    return job;
}

const std::vector<uint8_t>& Deflater::AheadInput(const AheadJob& job) { return job.input; }

bool Deflater::AwaitAhead(AheadJob& job, DeflateIO& io) {
    std::unique_lock<std::mutex> lock(job.mutex);
    if (job.state == AheadState::Queued || job.state == AheadState::CalledOff) {
        job.state = AheadState::CalledOff;
        return false;
    }
    while (job.state != AheadState::Done) {
        if (job.ended.wait_for(lock, std::chrono::milliseconds(10)) == std::cv_status::timeout &&
            job.state != AheadState::Done) {
            lock.unlock();
            io.WaitingForWorkers();
            lock.lock();
        }
    }
    return !job.failed;
}

DeflateResult Deflater::ReplayAhead(const AheadJob& job, DeflateIO& io) {
    size_t in = 0;
    size_t out = 0;
    for (const int64_t step : job.trace) {
        if (step > 0) {
            io.AccountEntryData(job.input.data() + in, static_cast<unsigned>(step));
            in += static_cast<size_t>(step);
        } else {
            io.WriteArchiveData(job.output.data() + out, static_cast<size_t>(-step));
            out += static_cast<size_t>(-step);
        }
    }
    ++aheadReplays_;
    return job.result;
}

}  // namespace archive::codec
