// An earlier archive whose entries a new one may copy instead of compressing the same bytes again.
//
// A backup taken night after night stores mostly the files it stored the night before. When the writer
// is given such an earlier archive (TVCLZip::CarryOverFrom), each file whose stored name and size equal
// one of its entries is compared with that entry, byte for byte, as the entry decodes: only when every
// byte is equal, the entry decodes whole (its size and CRC right) and the file ends where the entry ends
// is the entry's compressed data copied into the new archive. Nothing is ever taken on size, time or
// CRC alone, and a file that differs anywhere, or an entry that is damaged, is compressed as always.
//
// The copy must also be the very bytes compressing the file now would write, so that an archive with
// carried-over entries equals, byte for byte, the archive a full compression makes. The headers show
// only part of how an entry was made (the deflate option bits tell fast, normal and maximum apart, not
// level 5 from level 6, nor this compressor from another one), so an archive says it in its comment:
// MakingNote(level) names the compressor's output generation and the level. Only entries of an archive
// whose comment is exactly the note of the level in use are candidates, and of those only the ones whose
// headers are as this writer writes them (no extra fields, no data descriptor, no encryption, the
// method and option bits the level gives). An application that wants its archives to serve as sources
// gives them the note as their comment (SetArchiveComment).
//
// kDeflateGeneration changes with every change of the compressor that makes it write other bytes for
// some input at some level; tests/archive/writer/carry_over_test.cpp pins the output of every level, so
// such a change cannot go unnoticed. Archives of an older generation are then simply not carried from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "archive/codec/decoder.h"
#include "archive/parallel/work_pool.h"
#include "archive/records/zip_header_info.h"
#include "archive/streams/stream.h"

namespace archive::writer {

inline constexpr int kDeflateGeneration = 1;

// "zb-deflate 1, level 6": the archive comment that says how its entries were compressed.
std::string MakingNote(int level);

// The general purpose flag bits Deflate sets at `level` (4 fast, 2 maximum, 0 normal).
uint16_t DeflateOptionBits(int level);

class Comparer;  // carry_over.cpp

class CarryOverSource {
public:
    // Reads the directory of the archive at `path`. nullptr when it cannot be read, is a multi-disk
    // archive, or its comment is not MakingNote(level). With `threads` above 1, an entry is decoded on a
    // worker thread while the caller compares.
    static std::unique_ptr<CarryOverSource> Open(const std::string& path, int level, unsigned threads = 1);

    // As Open, for a comparison only (ArchiveHoldsFiles): any comment; Candidate finds nothing.
    static std::unique_ptr<CarryOverSource> OpenForComparison(const std::string& path, unsigned threads = 1);

    // The entry that may stand for a file of this stored name and size, compressed with `method` (0
    // stored, 8 deflated at the source's level); nullptr when there is none.
    const TZipHeaderInfo* Candidate(const std::string& storedName, uint64_t size, uint16_t method) const;
    // The entry of that stored name, whatever it holds; nullptr when there is none.
    const TZipHeaderInfo* Find(const std::string& storedName) const;
    // The entries the directory lists (a name listed twice counts twice; Find finds neither).
    int Count() const { return listed_; }

    // Reads up to `count` bytes of the file the entry is compared with; fewer only at its end.
    using ReadFile = std::function<size_t(uint8_t* buffer, size_t count)>;
    // Decodes `entry` and compares its bytes in order with what `read` gives. True when they are all
    // equal, the entry decoded whole to its recorded size and CRC, and `read` has nothing more. A
    // damaged entry, a local header that does not match the directory, or a difference is false;
    // what `read` or `pump` raise goes on to the caller (a failed read, a cancel). `pump` runs before
    // each block of the archive is decoded; `waiting` every few milliseconds while the caller waits
    // for the worker (when there is one).
    bool SameBytes(const TZipHeaderInfo& entry, const ReadFile& read, const std::function<void()>& pump,
                   const std::function<void()>& waiting = {});

    // Hands the entry's compressed data to `write` in pieces, as the archive holds it. Only after
    // SameBytes said true for it. Raises EFatalUnzipError when the archive no longer gives it.
    void CopyData(const TZipHeaderInfo& entry, const std::function<void(const uint8_t*, size_t)>& write);

    ~CarryOverSource();

private:
    CarryOverSource() = default;
    static std::unique_ptr<CarryOverSource> Load(const std::string& path, const std::string* note, unsigned threads);
    bool DecodeOnWorker(const TZipHeaderInfo& entry, Comparer& comparer, const std::function<void()>& pump,
                        const std::function<void()>& waiting);
    // Where the entry's data starts, from its local header; -1 when that header does not match.
    int64_t DataStart(const TZipHeaderInfo& entry);

    std::unique_ptr<TFileStream> file_;
    std::unordered_map<std::string, TZipHeaderInfo> entries_;  // by stored name
    int listed_ = 0;
    uint16_t optionBits_ = 0;
    bool noted_ = false;  // carries the note of the level in use: entries may be copied
    codec::DecodeWorkspacePtr workspace_;
    std::unique_ptr<parallel::WorkPool> pool_;  // the decoding worker, with more than one thread
};

}  // namespace archive::writer
