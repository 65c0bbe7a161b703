// The compressor's view of the writer: where an entry's data comes from and where the compressed bytes
// go. The block coder and its bit writer need only the output half; the matcher and the drivers of the
// worker threads read through the rest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive::codec {

// The writer's input and output routines as the compressor sees them.
class DeflateIO {
public:
    virtual ~DeflateIO() = default;
    // Up to count bytes of the entry's data (progress and CRC are the implementer's business); 0 at the end.
    virtual unsigned ReadEntryData(uint8_t* buffer, unsigned count) = 0;
    // Writes n bytes of compressed output; raises ENotEnoughRoom / EUserCanceled.
    virtual void WriteArchiveData(const uint8_t* buffer, size_t n) = 0;

    // Reading ahead, for compressing one entry on several threads. An implementer that can read ahead
    // splits ReadEntryData in two: FetchEntryData reads raw bytes (the full count unless the data ends;
    // a failed read raises what ReadEntryData raises, and one that fails after some bytes hands those
    // out and raises the failure at the next call), AccountEntryData does everything else
    // ReadEntryData does for n bytes handed out (progress, CRC, checks). ReadEntryData(b, c) must equal
    // n = FetchEntryData(b, c) followed by AccountEntryData(b, n) for n > 0. All three run on the
    // caller's thread only.
    virtual bool CanReadAhead() const { return false; }
    // The entry's size as far as it is known before reading (a file may still change): an entry too
    // small to share out is not read ahead at all.
    virtual uint64_t ExpectedEntrySize() const { return UINT64_MAX; }
    virtual size_t FetchEntryData(uint8_t* /*buffer*/, size_t /*count*/) { return 0; }
    virtual void AccountEntryData(const uint8_t* /*buffer*/, unsigned /*n*/) {}
    // Called on the caller's thread, every few milliseconds, while it waits for worker threads: the
    // place to let the application process its messages.
    virtual void WaitingForWorkers() {}
};

}  // namespace archive::codec
