// Decoding entries ahead on worker threads (see decode_ahead.h).
#include "archive/reader/decode_ahead.h"


#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>

#include "archive/fs/file_io.h"
#include "archive/parallel/work_pool.h"
#include "archive/streams/stream.h"

namespace archive::reader {

namespace {

// The caller replays what a job made at least this often while it waits, so progress keeps moving.
constexpr auto kReplayEvery = std::chrono::milliseconds(5);
// A waiting caller is woken for this much output of an extraction job (half a queue at most), not for
// every step.
constexpr uint64_t kWakeBytes = uint64_t{256} << 10;
// Emptied step buffers an extraction job keeps for reuse: a full queue's worth (4 MiB), so that a long
// entry allocates nothing once under way.
constexpr size_t kSpareSteps = DecodeAhead::kJobBytes / kBlockSize + 2;
// A test job's step records waiting for the caller at most (one per input block, about 260 MB of
// compressed data; under a MiB of memory).
constexpr uint64_t kTestSteps = 16384;

// Raised inside a worker's decoding once its job was dropped; never leaves the worker.
struct Stopped {};

// The archive's bytes from a position on, through positioned reads of a descriptor of our own.
class PositionedReader : public TStream {
public:
    PositionedReader(int fd, int64_t position) : fd_(fd), position_(position) {}
    int64_t Read(void* buffer, int64_t count) override {
        auto* to = static_cast<uint8_t*>(buffer);
        int64_t got = 0;
        while (got < count) {
            const int64_t n = fs::ReadSomeAt(fd_, to + got, count - got, position_ + got);
            if (n <= 0) break;  // the end of the file, or a read error: the input step calls both premature
            got += n;
        }
        position_ += got;
        return got;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, int origin) override {
        if (origin == soFromBeginning) position_ = offset;
        else if (origin == soFromCurrent) position_ += offset;
        else position_ = Size() + offset;
        return position_;
    }
    int64_t Size() override {
        const int64_t size = fs::SizeOfFile(fd_);
        return size < 0 ? 0 : size;
    }

private:
    int fd_;
    int64_t position_;
};

}  // namespace

struct DecodeAhead::Job {
    AheadInputs inputs;
    bool keep = false;  // an extraction job: the steps carry their bytes
    uint64_t cap = 0;   // what the queue holds at most: bytes (extraction) or records (test)

    std::mutex mutex;
    std::condition_variable changed;
    enum class State { Queued, Running, Done, TakenBack } state = State::Queued;
    std::atomic<bool> stop{false};
    bool callerWaiting = false;
    bool workerWaiting = false;

    // Output steps not yet replayed, each with the number of input blocks read before it was made
    // (the caller's message pump runs once per input block, so that many pumps come before it). A test
    // job keeps one record for the steps of one size made between two input blocks.
    struct Step {
        std::vector<uint8_t> data;  // the step's bytes (extraction only)
        size_t size = 0;
        uint64_t count = 1;
        uint64_t pumpsBefore = 0;
    };
    std::deque<Step> steps;
    std::vector<std::vector<uint8_t>> spare;  // emptied step buffers to reuse
    uint64_t held = 0;
    std::atomic<uint64_t> blocksRead{0};

    // Valid once Done.
    EntryDecode result = EntryDecode::Ok;
    uint32_t crc = 0;
    uint64_t bytes = 0;
    std::exception_ptr error;
};

namespace {

void StopJob(DecodeAhead::Job& job) {
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        job.stop = true;
    }
    job.changed.notify_all();
}

// Queues one output step of a worker for the caller (its bytes too, for an extraction), waiting for room
// while the queue holds its share.
void PushStep(DecodeAhead::Job& job, const uint8_t* data, size_t n) {
    const uint64_t cost = job.keep ? n : 1;
    std::unique_lock<std::mutex> lock(job.mutex);
    auto room = [&] { return job.stop || job.held == 0 || job.held + cost <= job.cap; };
    if (!room()) {
        job.workerWaiting = true;
        job.changed.wait(lock, room);
        job.workerWaiting = false;
    }
    if (job.stop) throw Stopped{};
    const uint64_t pumpsBefore = job.blocksRead.load(std::memory_order_relaxed);
    if (!job.keep && !job.steps.empty() && job.steps.back().pumpsBefore == pumpsBefore &&
        job.steps.back().size == n) {
        ++job.steps.back().count;
        return;
    }
    DecodeAhead::Job::Step step;
    step.size = n;
    step.pumpsBefore = pumpsBefore;
    if (job.keep) {
        if (!job.spare.empty()) {
            step.data = std::move(job.spare.back());
            job.spare.pop_back();
        }
        step.data.assign(data, data + n);
    }
    job.steps.push_back(std::move(step));
    job.held += cost;
    // The caller is woken for a good batch of steps, not for each one.
    const bool wake = job.callerWaiting && job.held >= std::max<uint64_t>(1, std::min(job.cap / 2, kWakeBytes));
    lock.unlock();
    if (wake) job.changed.notify_all();
}

// The output step's file for an extraction job.
class OutputQueue : public TStream {
public:
    explicit OutputQueue(DecodeAhead::Job& job) : job_(job) {}
    int64_t Read(void*, int64_t) override { return 0; }
    int64_t Seek(int64_t, int) override { return 0; }
    int64_t Write(const void* data, int64_t count) override {
        PushStep(job_, static_cast<const uint8_t*>(data), static_cast<size_t>(count));
        return count;
    }

private:
    DecodeAhead::Job& job_;
};

}  // namespace

// Decoder memory and the two block buffers of one busy worker.
struct DecodeAhead::Kit {
    codec::DecodeWorkspacePtr workspace = codec::MakeDecodeWorkspace();
    std::vector<uint8_t> in = std::vector<uint8_t>(kBlockSize + 1);
    std::vector<uint8_t> out = std::vector<uint8_t>(kBlockSize + 1);
};

DecodeAhead::DecodeAhead(int archiveFd, unsigned workers, bool keepOutput)
    : fd_(archiveFd >= 0 ? fs::ReopenForReading(archiveFd) : -1),
      workers_(std::max(workers, 1u)),
      keep_(keepOutput) {
    kits_.reserve(workers_);  // a worker holds one at a time: giving it back never allocates
}

DecodeAhead::~DecodeAhead() {
    for (auto& [index, job] : jobs_) StopJob(*job);
    jobs_.clear();
    pool_.reset();  // the running jobs end at their next block; the queued ones never start
    fs::CloseFile(fd_);
}

bool DecodeAhead::ReadAt(int64_t at, void* data, size_t n) const {
    return fd_ >= 0 && PositionedReader(fd_, at).Read(data, static_cast<int64_t>(n)) == static_cast<int64_t>(n);
}

uint64_t DecodeAhead::Budget(uint32_t declared) { return std::min<uint64_t>(declared, kJobBytes); }

bool DecodeAhead::HasRoom(uint32_t declared) const {
    if (jobs_.size() >= workers_ + 2) return false;
    return !keep_ || budget_ + Budget(declared) <= kTotalBytes;
}

void DecodeAhead::Start(int index, const AheadInputs& inputs) {
    if (!pool_) pool_ = std::make_unique<parallel::WorkPool>(workers_);
    auto job = std::make_shared<Job>();
    job->inputs = inputs;
    job->keep = keep_;
    job->cap = keep_ ? Budget(inputs.declared) : kTestSteps;
    Drop(index);
    jobs_[index] = job;
    budget_ += Budget(inputs.declared);
    pool_->Submit([this, job] { Run(job); });
}

std::shared_ptr<DecodeAhead::Job> DecodeAhead::Take(int index, const AheadInputs& inputs) {
    const auto found = jobs_.find(index);
    if (found == jobs_.end()) return nullptr;
    std::shared_ptr<Job> job = std::move(found->second);
    jobs_.erase(found);
    budget_ -= Budget(job->inputs.declared);
    if (!(job->inputs == inputs)) {
        StopJob(*job);
        return nullptr;
    }
    return job;
}

void DecodeAhead::Drop(int index) {
    const auto found = jobs_.find(index);
    if (found == jobs_.end()) return;
    budget_ -= Budget(found->second->inputs.declared);
    StopJob(*found->second);
    jobs_.erase(found);
}

std::unique_ptr<DecodeAhead::Kit> DecodeAhead::TakeKit() {
    {
        std::lock_guard<std::mutex> lock(kitsMutex_);
        if (!kits_.empty()) {
            std::unique_ptr<Kit> kit = std::move(kits_.back());
            kits_.pop_back();
            return kit;
        }
    }
    return std::make_unique<Kit>();
}

void DecodeAhead::ReturnKit(std::unique_ptr<Kit> kit) {
    if (!kit) return;
    std::lock_guard<std::mutex> lock(kitsMutex_);
    kits_.push_back(std::move(kit));
}

void DecodeAhead::Run(const std::shared_ptr<Job>& shared) {
    Job& job = *shared;
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        if (job.state != Job::State::Queued || job.stop) return;
        job.state = Job::State::Running;
    }
    EntryDecode result = EntryDecode::Ok;
    std::exception_ptr error;
    uint32_t crc = 0;
    uint64_t bytes = 0;
    std::unique_ptr<Kit> kit;
    try {
        kit = TakeKit();
        PositionedReader source(fd_, job.inputs.dataStart);
        ArchiveInput input(kit->in.data());
        input.Start(&source, job.inputs.compressed, nullptr);
        input.Pump = [&job] {
            if (job.stop.load(std::memory_order_relaxed)) throw Stopped{};
            job.blocksRead.fetch_add(1, std::memory_order_relaxed);  // read under the lock by PushStep
        };
        OutputQueue queue(job);
        EntryOutput output(kit->out.data());
        output.Start(keep_ ? &queue : nullptr, job.inputs.declared);
        if (!keep_) output.OnBlock = [&job](size_t n) { PushStep(job, nullptr, n); };
        try {
            result = DecodeEntry(job.inputs.method, job.inputs.flags, job.inputs.compressed, job.inputs.declared,
                                 *kit->workspace, input, output);
        } catch (const Stopped&) {
            result = EntryDecode::DataError;  // nobody waits for a dropped job
        } catch (...) {
            error = std::current_exception();  // replayed at the entry's turn
        }
        crc = output.Crc();
        bytes = output.BytesWritten();
    } catch (...) {
        // Nothing decoded (the worker's own memory could not be had): the caller decodes the entry.
        result = EntryDecode::OutOfMemory;
        error = nullptr;
        bytes = 0;
    }
    ReturnKit(std::move(kit));
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        job.result = result;
        job.error = error;
        job.crc = crc;
        job.bytes = bytes;
        job.state = Job::State::Done;
    }
    job.changed.notify_all();
}

bool DecodeAhead::Replay(Job& job, EntryOutput& output, const std::function<void()>& pump, EntryDecode& result,
                         uint32_t& crc, uint64_t& bytes) {
    {
        std::lock_guard<std::mutex> lock(job.mutex);
        if (job.state == Job::State::Queued) {
            // Not started yet: quicker done here than waited for.
            job.state = Job::State::TakenBack;
            job.stop = true;
            return false;
        }
    }
    // Leaving early (the caller's handler raised, the file could not be written) stops the worker. The
    // worker folds the CRC of the very steps fed here, so the caller's output step leaves it out.
    struct StopOnExit {
        Job& job;
        EntryOutput& output;
        ~StopOnExit() {
            StopJob(job);
            output.FoldCrc = true;
        }
    } stopOnExit{job, output};
    output.FoldCrc = false;

    std::deque<Job::Step> ready;
    bool replayed = false;  // anything at all
    uint64_t pumped = 0;    // input blocks whose message pump ran here
    auto pumpUpTo = [&](uint64_t blocks) {
        for (; pumped < blocks; ++pumped)
            if (pump) pump();
    };
    for (;;) {
        bool done = false;
        {
            std::unique_lock<std::mutex> lock(job.mutex);
            // The steps are replayed in batches: at the latest every few milliseconds, so progress moves.
            auto progress = [&] { return job.state == Job::State::Done || !job.steps.empty(); };
            if (!progress()) {
                job.callerWaiting = true;
                job.changed.wait_for(lock, kReplayEvery, progress);
                job.callerWaiting = false;
            }
            done = job.state == Job::State::Done;
            if (done && !replayed && job.steps.empty() && !job.error && job.result == EntryDecode::OutOfMemory &&
                job.bytes == 0) {
                return false;  // the worker had no memory for the decoder; the caller may
            }
            ready.swap(job.steps);
            job.held = 0;
            if (!ready.empty() && job.workerWaiting) job.changed.notify_all();
        }
        for (Job::Step& step : ready) {
            replayed = true;
            pumpUpTo(step.pumpsBefore);
            if (keep_) {
                output.Write(step.data.data(), step.size);
            } else if (output.OnBlock) {
                for (uint64_t i = 0; i < step.count; ++i) output.OnBlock(step.size);
            }
        }
        if (keep_ && !ready.empty()) {
            std::lock_guard<std::mutex> lock(job.mutex);
            for (Job::Step& step : ready)
                if (job.spare.size() < kSpareSteps) job.spare.push_back(std::move(step.data));
        }
        ready.clear();
        if (done) break;
    }
    // Done: the job's fields no longer change. The pumps of the input blocks read after the last step,
    // then the end of the decoding; the CRC and length are those of the steps that went through, also
    // when the decoding failed.
    pumpUpTo(job.blocksRead.load(std::memory_order_relaxed));
    if (keep_ && !job.error) output.Finish();
    bytes = keep_ ? output.BytesWritten() : job.bytes;
    crc = job.crc;
    if (job.error) std::rethrow_exception(job.error);
    result = job.result;
    return true;
}

}  // namespace archive::reader
