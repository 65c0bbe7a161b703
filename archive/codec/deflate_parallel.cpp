// One entry on several threads (lazy mode only).
//
// The input is cut into chunks at multiples of 32768 (the first at least 64 KiB long). A worker parses
// chunk k from its start, its window and chains set up from the 32 KiB in front (Matcher::RunFrom), and
// goes on past the chunk's end into the next chunk for a short stretch (the tail). In lazy mode every
// position enters the chains, so from the start on, the parse depends only on the input and on the
// small state carried from one iteration to the next; at an iteration where no match is pending, that
// state is just whether a literal is pending. The worker notes such iterations in the first stretch of
// its chunk (the head) and in its tail. Where chunk k's tail and chunk k+1's head note the same state
// at the same position, the two parses are the same from there on: chunk k's symbols before that point
// and chunk k+1's from it are the one-thread parse (chunk 0's start being the true one). A pair that
// does not meet within the tail (long runs keep two parses out of step) is parsed again as one chunk.
//
// The caller's thread replays the joined symbols through the block coder (Replayer): it keeps the
// window, reads the input and ends blocks exactly as the one-thread matcher does at the same symbols,
// so reads, writes, block ends, stored blocks and the text decision come out the same. The input is
// fetched ahead on the caller's thread; the progress and the CRC of each piece are only accounted when
// the replay reads it, and a failed read raises its exception at the read that would have met it.
//
// Levels 1 to 3 do not enter the positions inside long matches, so their chains depend on the parse:
// they stay on one thread.
//
// This is the engine's work-on-workers pattern (archive/parallel/README.md): a worker parses bytes handed
// to it in memory and calls nothing of the caller's; everything the caller's routines see comes from the
// replay, in the one-thread order.
#include "archive/codec/deflate_parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/codec/deflate_matcher.h"
#include "archive/codec/deflate_state.h"
#include "archive/codec/trees.h"

namespace archive::codec {

namespace {

constexpr uint64_t kTailLength = 16384;  // how far a chunk's parse goes on to meet the next one
constexpr uint64_t kDataPastStop = 1024;  // input a worker holds past its stop: a search reads 262 ahead
constexpr uint64_t kPeriodBlock = 512;

}  // namespace

uint64_t ShareableSize(size_t chunk) { return std::max<uint64_t>(chunk, 2 * kWSize) + chunk / 2; }

namespace {

// The bytes fetched ahead, from the replay's read position on, in blocks of one piece each.
class InputStream {
public:
    explicit InputStream(DeflateIO& io, size_t piece) : io_(io), piece_(piece) {}

    uint64_t Fetched() const { return fetched_; }
    bool Ended() const { return eof_ || error_ != nullptr; }

    // Fetches until at least `upTo` bytes are in, or the input ends or fails.
    void FetchTo(uint64_t upTo) {
        while (!Ended() && fetched_ < upTo) {
            if (blocks_.empty() || blocks_.back().size() == piece_) blocks_.emplace_back().reserve(piece_);
            std::vector<uint8_t>& b = blocks_.back();
            const size_t old = b.size();
            b.resize(piece_);
            size_t n = 0;
            try {
                n = std::min(io_.FetchEntryData(b.data() + old, piece_ - old), piece_ - old);
            } catch (...) {
                error_ = std::current_exception();
            }
            b.resize(old + n);
            fetched_ += n;
            if (!error_ && n == 0) eof_ = true;  // a short read may be followed by a failure
        }
    }

    // Copies [pos, pos + n) out; the bytes must have been fetched and not dropped.
    void CopyOut(uint64_t pos, size_t n, uint8_t* out) const {
        while (n > 0) {
            const uint64_t rel = pos - start_;
            const std::vector<uint8_t>& b = blocks_[static_cast<size_t>(rel / piece_)];
            const size_t off = static_cast<size_t>(rel % piece_);
            const size_t k = std::min(n, b.size() - off);
            std::memcpy(out, b.data() + off, k);
            out += k;
            pos += k;
            n -= k;
        }
    }

    // Bytes before `pos` are needed by no chunk still to be made.
    void KeepFrom(uint64_t pos) {
        keep_ = pos;
        Drop();
    }

    // What ReadEntryData would have given at this point of the input.
    unsigned Read(uint8_t* buffer, unsigned count) {
        if (count == 0) return 0;
        FetchTo(read_ + count);
        const uint64_t available = fetched_ - read_;
        if (available < count && error_) std::rethrow_exception(error_);
        const unsigned n = static_cast<unsigned>(std::min<uint64_t>(count, available));
        if (n == 0) return 0;
        CopyOut(read_, n, buffer);
        read_ += n;
        io_.AccountEntryData(buffer, n);
        Drop();
        return n;
    }

private:
    void Drop() {
        const uint64_t from = std::min(read_, keep_);
        while (blocks_.size() > 1 && start_ + piece_ <= from) {
            blocks_.pop_front();
            start_ += piece_;
        }
    }

    DeflateIO& io_;
    const size_t piece_;
    std::deque<std::vector<uint8_t>> blocks_;  // all full but the last
    uint64_t start_ = 0;    // input position of the first block
    uint64_t fetched_ = 0;  // input position after the last byte fetched
    uint64_t read_ = 0;     // the replay's read position
    uint64_t keep_ = 0;
    bool eof_ = false;
    std::exception_ptr error_;
};

// The caller's routines with reads served from the input fetched ahead.
class ReplayIO : public DeflateIO {
public:
    ReplayIO(DeflateIO& io, InputStream& input) : io_(io), input_(input) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override { return input_.Read(buffer, count); }
    void WriteArchiveData(const uint8_t* buffer, size_t n) override { io_.WriteArchiveData(buffer, n); }

private:
    DeflateIO& io_;
    InputStream& input_;
};

// A worker's input: a piece of memory, handed out in full reads.
class MemoryInput : public DeflateIO {
public:
    MemoryInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override {
        const size_t n = std::min<size_t>(count, size_ - pos_);
        std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        return static_cast<unsigned>(n);
    }
    void WriteArchiveData(const uint8_t*, size_t) override {}

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

struct Chunk {
    uint64_t start = 0;    // first position parsed
    uint64_t headEnd = 0;  // end of the head: the previous chunk's stop
    uint64_t end = 0;      // where the next chunk starts (the input's end for the last chunk)
    uint64_t stop = 0;     // end of the tail
    bool last = false;
    uint64_t dataStart = 0;  // input position of data[0]
    std::vector<uint8_t> data;

    std::vector<uint32_t> symbols;
    std::vector<uint32_t> head;
    std::vector<uint32_t> tail;
    size_t in = 0;   // symbols[in, out) are the one-thread parse's
    size_t out = 0;
    std::exception_ptr error;
    bool done = false;  // under the driver's mutex
};

// Runs the chunks on the workers and hands out the joined symbols in order.
class ChunkDriver {
public:
    ChunkDriver(Deflater::State& st, DeflateIO& io, InputStream& input, const LevelParams& lp, size_t chunk,
                unsigned workers)
        : st_(st), io_(io), input_(input), lp_(lp), chunk_(chunk), workers_(workers), ahead_(workers + 2) {}

    ~ChunkDriver() {
        abort_ = true;
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [this] { return running_ == 0; });
    }

    // The next stretch of the one-thread parse's symbols; false at the end.
    bool Next(const uint32_t*& symbols, size_t& count) {
        if (current_) {
            queue_.pop_front();
            current_.reset();
        }
        CreateAhead();
        if (queue_.empty()) return false;
        for (;;) {
            CreateAhead();
            Chunk& c = *queue_.front();
            Wait(c);
            if (!c.last) {
                Chunk& n = *queue_[1];
                Wait(n);
                if (!Join(c, n)) {
                    // The two parses did not meet: parse both as one chunk.
                    auto merged = Merge(c, n);
                    queue_.pop_front();
                    queue_.pop_front();
                    queue_.push_front(merged);
                    Dispatch(merged);
                    ++merges_;
                    continue;
                }
            } else {
                c.out = c.symbols.size();
            }
            current_ = queue_.front();
            symbols = c.symbols.data() + c.in;
            count = c.out - c.in;
            return true;
        }
    }

    unsigned Merges() const { return merges_; }

private:
    void CreateAhead() {
        while (!created_all_ && queue_.size() < ahead_) Create();
    }

    void Create() {
        auto c = std::make_shared<Chunk>();
        c->start = next_;
        c->headEnd = prevStop_;
        const uint64_t end = next_ == 0 ? std::max<uint64_t>(chunk_, 2 * kWSize) : next_ + chunk_;
        const uint64_t half = chunk_ / 2;
        input_.FetchTo(end + half);
        if (input_.Fetched() < end + half) {
            c->last = true;
            c->end = c->stop = input_.Fetched();
            created_all_ = true;
        } else {
            c->end = end;
            c->stop = TailEnd(end, end + half - kDataPastStop);
        }
        c->dataStart = c->start == 0 ? 0 : c->start - kWSize;
        const uint64_t dataEnd = c->last ? c->end : c->stop + kDataPastStop;
        c->data.resize(static_cast<size_t>(dataEnd - c->dataStart));
        input_.CopyOut(c->dataStart, c->data.size(), c->data.data());
        next_ = c->end;
        prevStop_ = c->stop;
        input_.KeepFrom(next_ - kWSize);
        queue_.push_back(c);
        Dispatch(c);
    }

    // The tail's end: kTailLength past the chunk's end, and as far again past any stretch that repeats
    // itself with a short period (runs of one byte and the like), which keeps two parses out of step.
    uint64_t TailEnd(uint64_t end, uint64_t cap) const {
        uint64_t stop = std::min(end + kTailLength, cap);
        uint8_t p[kPeriodBlock];
        for (uint64_t pos = end; pos + kPeriodBlock <= stop; pos += kPeriodBlock) {
            input_.CopyOut(pos, kPeriodBlock, p);
            if (std::memcmp(p, p + 8, kPeriodBlock - 8) == 0) stop = std::min(pos + kPeriodBlock + kTailLength, cap);
        }
        return stop;
    }

    static std::shared_ptr<Chunk> Merge(const Chunk& a, const Chunk& b) {
        auto m = std::make_shared<Chunk>();
        m->start = a.start;
        m->headEnd = a.headEnd;
        m->end = b.end;
        m->stop = b.stop;
        m->last = b.last;
        m->dataStart = a.dataStart;
        m->data.assign(a.data.begin(), a.data.begin() + static_cast<ptrdiff_t>(b.start - a.dataStart));
        m->data.insert(m->data.end(), b.data.begin() + static_cast<ptrdiff_t>(b.start - b.dataStart), b.data.end());
        m->in = a.in;
        return m;
    }

    // Finds where chunk a's tail meets chunk b's head; sets a.out and b.in.
    static bool Join(Chunk& a, Chunk& b) {
        for (uint64_t q = a.end; q < a.stop; ++q) {
            const uint32_t x = a.tail[q - a.end];
            const uint32_t y = b.head[q - b.start];
            if (x != 0 && y != 0 && (x & kPendingLiteral) == (y & kPendingLiteral)) {
                a.out = (x & ~kPendingLiteral) - 1;
                b.in = (y & ~kPendingLiteral) - 1;
                return a.out >= a.in;
            }
        }
        return false;
    }

    void Wait(Chunk& c) {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!c.done) {
            if (done_.wait_for(lock, std::chrono::milliseconds(10)) == std::cv_status::timeout && !c.done) {
                lock.unlock();
                io_.WaitingForWorkers();
                lock.lock();
            }
        }
        if (c.error) std::rethrow_exception(c.error);
    }

    void Dispatch(std::shared_ptr<Chunk> c) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++running_;
        }
        try {
            st_.pool->Submit([this, c] { Parse(*c); });
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex_);
            --running_;
            c->done = true;
            throw;
        }
    }

    // On a worker.
    void Parse(Chunk& c) {
        MatcherBuffers* buf = nullptr;
        try {
            if (abort_) throw WorkerAborted{};
            bool light = false;
            buf = TakeSpare(st_, workers_, false, light);
            AllocateMatcher(*buf);
            ParseTrack track;
            track.start = c.start;
            track.headEnd = c.headEnd;
            track.end = c.last ? UINT64_MAX : c.end;
            track.stop = c.last ? UINT64_MAX : c.stop;
            c.head.assign(c.headEnd - c.start, 0);
            c.tail.assign(c.last ? 0 : c.stop - c.end, 0);
            track.head = &c.head;
            track.tail = &c.tail;
            track.abort = &abort_;
            SymbolRecorder rec;
            // Room for a symbol per byte: pages are only touched as symbols come, and none is moved.
            rec.symbols.reserve(static_cast<size_t>(c.stop - c.start) + 1);
            const size_t skip = static_cast<size_t>(c.start - c.dataStart);
            MemoryInput in(c.data.data() + skip, c.data.size() - skip);
            Run(*buf, rec, in, track, c);
            c.symbols = std::move(rec.symbols);
        } catch (const WorkerAborted&) {
        } catch (...) {
            c.error = std::current_exception();
        }
        if (buf != nullptr) GiveBack(st_, buf, false);
        std::lock_guard<std::mutex> lock(mutex_);
        c.done = true;
        --running_;
        done_.notify_all();
    }

    void Run(MatcherBuffers& buf, SymbolRecorder& rec, MemoryInput& in, ParseTrack& track, const Chunk& c) {
        if (c.start == 0) std::memset(buf.window.get(), 0, kWindowSize);
        RunTracked(buf, rec, in, lp_, track, st_.search == Deflater::MatchSearch::Fast, c.start, c.data.data());
    }

    Deflater::State& st_;
    DeflateIO& io_;
    InputStream& input_;
    const LevelParams lp_;
    const size_t chunk_;
    const unsigned workers_;
    const size_t ahead_;  // chunks created ahead of the replay, the one replayed included

    std::deque<std::shared_ptr<Chunk>> queue_;
    std::shared_ptr<Chunk> current_;
    uint64_t next_ = 0;
    uint64_t prevStop_ = 0;
    bool created_all_ = false;
    unsigned merges_ = 0;

    std::atomic<bool> abort_{false};
    std::mutex mutex_;
    std::condition_variable done_;
    unsigned running_ = 0;
};

// The caller's half: the lazy matcher's walk over the window without the search, fed with symbols.
class Replayer : WindowWalk<Replayer, BlockCoder> {
    friend WindowWalk<Replayer, BlockCoder>;

public:
    Replayer(uint8_t* window, BlockCoder& coder, DeflateIO& io) : WindowWalk(window, coder, io) {}

    void Start() { FirstRead(); }

    void Feed(const uint32_t* symbols, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const uint32_t v = symbols[i];
            // The iteration at the symbol's start: it hands on a pending literal.
            if (pending_) {
                if (coder_.RecordLiteral(literal_, strstart_, blockStart_)) FlushNotLast();
            }
            strstart_++;
            lookahead_--;
            if (lookahead_ < kMinLookahead) FillWindow();
            const uint32_t distance = v >> 8;
            if (distance == 0) {
                pending_ = true;
                literal_ = static_cast<uint8_t>(v);
            } else {
                // The iteration one further takes the match.
                const unsigned length = (v & 0xFF) + kMinMatch;
                const bool flush = coder_.RecordMatch(distance, length, strstart_, blockStart_);
                lookahead_ -= length - 1;
                strstart_ += length - 1;
                if (flush) FlushNotLast();
                if (lookahead_ < kMinLookahead) FillWindow();
                pending_ = false;
            }
        }
    }

    uint64_t Finish() {
        if (pending_) coder_.RecordLiteral(literal_, strstart_, blockStart_);
        return FlushLast();
    }

private:
    void AfterSlide() {}

    bool pending_ = false;
    uint8_t literal_ = 0;
};

}  // namespace

uint64_t DeflateParallel(Deflater::State& st, DeflateIO& io, const LevelParams& lp, unsigned workers,
                         unsigned& merges) {
    const size_t chunk = st.chunk;
    PoolOf(st, workers);
    InputStream input(io, size_t{1} << 20);
    ReplayIO replayIO(io, input);
    const uint64_t shareable = ShareableSize(chunk);
    input.FetchTo(shareable);
    if (input.Fetched() < shareable) {
        // Too short to share out: one thread, on the bytes fetched already.
        return RunMatcher(st, st.coder, replayIO, lp, st.search == Deflater::MatchSearch::Fast);
    }
    // Lends the caller's chains and rings to a worker until every worker is done.
    struct Lend {
        Deflater::State& st;
        explicit Lend(Deflater::State& s) : st(s) {
            st.lent.prev = std::move(st.prev);
            st.lent.keys = std::move(st.keys);
            st.lent.ring = std::move(st.ring);
            std::lock_guard<std::mutex> lock(st.spareMutex);
            st.spare.push_back(&st.lent);
        }
        ~Lend() {
            // An entry compressed ahead may hold them still: it gives them back when it ends.
            std::unique_lock<std::mutex> lock(st.spareMutex);
            st.spareBack.wait(lock, [this] {
                return std::find(st.spare.begin(), st.spare.end(), &st.lent) != st.spare.end();
            });
            st.spare.erase(std::remove(st.spare.begin(), st.spare.end(), &st.lent), st.spare.end());
            st.prev = std::move(st.lent.prev);
            st.keys = std::move(st.lent.keys);
            st.ring = std::move(st.lent.ring);
        }
    } lend(st);
    ChunkDriver driver(st, io, input, lp, chunk, workers);
    Replayer replay(st.window.get(), st.coder, replayIO);
    replay.Start();
    const uint32_t* symbols = nullptr;
    size_t count = 0;
    while (driver.Next(symbols, count)) replay.Feed(symbols, count);
    merges = driver.Merges();
    return replay.Finish();
}

}  // namespace archive::codec
