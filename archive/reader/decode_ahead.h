// Decoding entries ahead on worker threads, for an extraction (or a test) that replays each entry's
// decoding on the caller's thread when the entry's turn comes.
//
// A job decodes one entry the way the caller's own input and output steps would: the same decoder, the
// same 16000-byte input blocks, the same output steps with the same size check and CRC. It reads the
// archive through a descriptor of its own with positioned reads (the caller's stream and its position
// are never touched) and it writes nowhere. It hands its output steps to the caller through a queue of
// bounded size, each with the number of input blocks read before it: a test job only their sizes, an
// extraction job their bytes too, which the caller feeds through its real output step (the entry's
// scratch file, progress, size check).
//
// At the entry's turn the caller takes the job, checks that it was made from the same headers, and
// replays it: its message pump once per input block and the progress steps, interleaved as they
// happened, then the failure the job met (rethrown where the caller's own decoding would have raised
// it) or its result. A job that has not started yet is taken back and the caller decodes the entry
// itself, as it would without workers; so is one whose decoder could not get its memory. Either way the
// events, the pumps and their order are those of the one-thread run.
//
// Memory: a few jobs ahead at most; an extraction job holds at most 4 MiB of output waiting for the
// caller (16 MiB for all jobs ahead; the job being replayed up to twice that, with the buffers it
// reuses), a test job under a MiB of step sizes. Every job stops at its next
// block once it is dropped, and the destructor stops and joins everything.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/codec/decoder.h"
#include "archive/reader/entry_io.h"

namespace archive::parallel {
class WorkPool;
}

namespace archive::reader {

// What decoding an entry depends on, as its headers said when the job was handed out.
struct AheadInputs {
    int64_t dataStart = 0;     // absolute position of the compressed bytes
    uint32_t compressed = 0;   // compressed bytes to read
    uint32_t declared = 0;     // the stored uncompressed size
    uint16_t method = 0;
    uint16_t flags = 0;
    bool operator==(const AheadInputs&) const = default;
};

class DecodeAhead {
public:
    struct Job;

    // archiveFd: the open archive (duplicated here; only read with positioned reads). workers >= 1.
    // keepOutput: an extraction (the decoded bytes go to the caller) rather than a test.
    DecodeAhead(int archiveFd, unsigned workers, bool keepOutput);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead&) = delete;
    DecodeAhead& operator=(const DecodeAhead&) = delete;

    // False when the archive's descriptor could not be duplicated: nothing can be decoded ahead.
    bool Usable() const { return fd_ >= 0; }
    // Reads n bytes of the archive at `at` (positioned read, any thread); false when they are not all there.
    bool ReadAt(int64_t at, void* data, size_t n) const;
    // Whether another job of this declared size fits the limits on jobs and memory in flight.
    bool HasRoom(uint32_t declared) const;
    // Starts decoding an entry (view index `index`) on a worker.
    void Start(int index, const AheadInputs& inputs);
    // The entry's job when one was started from the same inputs; a job from other inputs is dropped.
    std::shared_ptr<Job> Take(int index, const AheadInputs& inputs);
    // Stops and forgets the job of an entry that was never taken (skipped, refused).
    void Drop(int index);

    // Replays a taken job through `output` (started on the entry's file, or none for a test) with the
    // caller's progress handler in output.OnBlock; rethrows what the job's decoding raised, after the
    // progress steps that came before it. `crc` and `bytes` are those of the steps that went through,
    // also when it raises. `pump` (may be empty) runs once for each input block the worker read, before
    // the steps made from it, as it runs for the caller's own input step. False, with nothing replayed,
    // when the caller has to decode the entry itself.
    bool Replay(Job& job, EntryOutput& output, const std::function<void()>& pump, EntryDecode& result,
                uint32_t& crc, uint64_t& bytes);

    // Limits: output an extraction job may hold, and all of them together.
    static constexpr uint64_t kJobBytes = uint64_t{4} << 20;
    static constexpr uint64_t kTotalBytes = uint64_t{16} << 20;

private:
    struct Kit;
    void Run(const std::shared_ptr<Job>& job);
    std::unique_ptr<Kit> TakeKit();
    void ReturnKit(std::unique_ptr<Kit> kit);
    static uint64_t Budget(uint32_t declared);

    int fd_ = -1;
    const unsigned workers_;
    const bool keep_;
    std::map<int, std::shared_ptr<Job>> jobs_;  // started, not yet taken or dropped
    uint64_t budget_ = 0;                       // output the jobs in jobs_ may hold
    std::mutex kitsMutex_;
    std::vector<std::unique_ptr<Kit>> kits_;    // decoder memory and buffers, one per busy worker at most
    std::unique_ptr<parallel::WorkPool> pool_;     // made with the first job
};

}  // namespace archive::reader
