// The earlier archive of a carry-over: its directory, the choice of candidate entries, the comparison of
// an entry's decoded bytes with a file's, and the copy of its compressed data. See carry_over.h.
//
// The comparison decodes with our own inflate into a sink that reads the same number of bytes from the
// file and compares them; the first difference ends the decoding at once (a private exception, which
// the decoder lets pass like every exception of its sink). With more than one thread the decoding runs
// on a worker of its own and the caller compares what it hands over, reading the file and pumping the
// messages at the same points and in the same sizes as on one thread (parallel/README.md); the two
// halves of the work then share two cores. What the caller's routines raise (a read
// error of the file, a cancel from the message pump) is told apart from the archive's own faults and
// goes on; a fault of the archive only makes the answer "not the same".
#include "archive/writer/carry_over.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/host.h"
#include "archive/parallel/work_pool.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/local_header.h"

namespace archive::writer {

namespace {

constexpr size_t kPiece = size_t{64} << 10;

// The general purpose bits this writer may set: the two deflate option bits and the UTF-8 name flag.
constexpr uint16_t kWrittenFlags = 0x0806;

// Answers the reader's boxes without showing them; a directory that needs a question is no source.
class QuietHost : public Host {
public:
    Answer MessageBox(const std::string&, const std::string&, Buttons buttons) override {
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    std::optional<std::string> OpenFileDialog(const std::string&, const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SelectFolderDialog(const std::string&) override { return std::nullopt; }
    void ProcessMessages() override {}
    void SetBusyCursor(bool) override {}
};

// Raised by the sink at the first difference: the decoding stops there.
struct Differs {};
// Carries what the caller's own routines raised through the decoder, told apart from the archive's faults.
struct CallerFault {
    std::exception_ptr what;
};

// The entry's compressed bytes, in pieces, from where its data starts.
class DataInput : public codec::InputSource {
public:
    DataInput(TFileStream& file, uint32_t bytes, const std::function<void()>& pump)
        : file_(file), left_(bytes), pump_(pump), buffer_(kPiece) {}
    size_t NextBlock(const uint8_t*& data) override {
        if (left_ == 0) return 0;
        if (pump_) {
            try {
                pump_();
            } catch (...) {
                throw CallerFault{std::current_exception()};
            }
        }
        const size_t n = std::min<size_t>(kPiece, left_);
        if (file_.Read(buffer_.data(), static_cast<int64_t>(n)) != static_cast<int64_t>(n))
            throw EFatalUnzipError("Premature end of file reached");
        left_ -= static_cast<uint32_t>(n);
        data = buffer_.data();
        return n;
    }

private:
    TFileStream& file_;
    uint32_t left_;
    const std::function<void()>& pump_;
    std::vector<uint8_t> buffer_;
};

// What the decoder writes: no more than the entry says it holds, folded into a CRC, handed on.
class CheckedSink : public codec::OutputSink {
public:
    CheckedSink(uint64_t limit, std::function<void(const uint8_t*, size_t)> next) : limit_(limit), next_(std::move(next)) {}
    void Write(const uint8_t* data, size_t n) override {
        if (n > limit_ - std::min(limit_, written_)) throw Differs{};
        crc_ = codec::Update(crc_, data, n);
        written_ += n;
        next_(data, n);
    }
    uint64_t Written() const { return written_; }
    uint32_t Crc() const { return ~crc_; }

private:
    uint64_t limit_;
    uint64_t written_ = 0;
    uint32_t crc_ = 0xFFFFFFFF;
    std::function<void(const uint8_t*, size_t)> next_;
};

// Decodes the entry into `sink`: true when the stream ended as its format says.
bool Decode(const TZipHeaderInfo& entry, codec::DecodeWorkspace& workspace, codec::InputSource& input,
            codec::OutputSink& sink) {
    if (entry.Method == 8) return codec::Inflate(workspace, input, sink) == codec::DecodeResult::Ok;
    const uint8_t* data = nullptr;
    for (size_t n; (n = input.NextBlock(data)) > 0;) sink.Write(data, n);
    return true;
}

// The decoded bytes of one entry, from the worker that decodes them to the caller that compares them:
// in the sizes the decoder wrote them, with a mark where the one-thread decoding pumps the messages
// (before each block of the archive), so that the caller reads, compares and pumps exactly as it would
// decoding itself. A few pieces at most wait; the worker waits for room.
class DecodedPieces {
public:
    struct Piece {
        bool pump = false;
        std::vector<uint8_t> bytes;
    };
    struct Abandoned {};

    // The worker's side. Put and Pump raise Abandoned once the caller has let go.
    void Put(const uint8_t* data, size_t n) {
        std::unique_lock lock(mutex_);
        room_.wait(lock, [&] { return abandoned_ || ready_.size() < kDepth; });
        if (abandoned_) throw Abandoned{};
        Piece piece;
        if (!spare_.empty()) {
            piece.bytes = std::move(spare_.back());
            spare_.pop_back();
        }
        piece.bytes.assign(data, data + n);
        ready_.push_back(std::move(piece));
        filled_.notify_one();
    }
    void Pump() {
        std::unique_lock lock(mutex_);
        if (abandoned_) throw Abandoned{};
        ready_.push_back(Piece{true, {}});
        filled_.notify_one();
    }
    void Finish(bool whole, uint64_t written, uint32_t crc) {
        std::lock_guard lock(mutex_);
        finished_ = true;
        whole_ = whole;
        written_ = written;
        crc_ = crc;
        filled_.notify_one();
    }

    // The caller's side: the next piece (false at the end), calling `waiting` every few milliseconds
    // while the worker has none ready.
    bool Take(Piece& piece, const std::function<void()>& waiting) {
        std::unique_lock lock(mutex_);
        if (!piece.bytes.empty() || piece.bytes.capacity() != 0) spare_.push_back(std::move(piece.bytes));
        while (ready_.empty() && !finished_) {
            if (filled_.wait_for(lock, std::chrono::milliseconds(5)) == std::cv_status::timeout && waiting) {
                lock.unlock();
                waiting();
                lock.lock();
            }
        }
        if (ready_.empty()) return false;
        piece = std::move(ready_.front());
        ready_.pop_front();
        room_.notify_one();
        return true;
    }
    // Lets go: the worker stops at its next piece; returns once it has.
    void Abandon() {
        std::unique_lock lock(mutex_);
        abandoned_ = true;
        room_.notify_one();
        filled_.wait(lock, [&] { return finished_; });
    }
    bool Whole() const { return whole_; }
    uint64_t Written() const { return written_; }
    uint32_t Crc() const { return crc_; }

private:
    static constexpr size_t kDepth = 4;
    std::mutex mutex_;
    std::condition_variable room_;
    std::condition_variable filled_;
    std::deque<Piece> ready_;
    std::vector<std::vector<uint8_t>> spare_;
    bool abandoned_ = false;
    bool finished_ = false;
    bool whole_ = false;
    uint64_t written_ = 0;
    uint32_t crc_ = 0;
};

}  // namespace

// Compares decoded bytes with the file's as they come.
class Comparer {
public:
    explicit Comparer(const CarryOverSource::ReadFile& read) : read_(read), file_(kPiece) {}
    void Compare(const uint8_t* data, size_t n) {
        while (n > 0) {
            const size_t k = std::min(n, file_.size());
            if (Read(file_.data(), k) != k || std::memcmp(file_.data(), data, k) != 0) throw Differs{};
            data += k;
            n -= k;
            done_ += k;
        }
    }
    // Whether the file has a byte more.
    bool FileGoesOn() {
        uint8_t one = 0;
        return Read(&one, 1) != 0;
    }
    uint64_t Done() const { return done_; }

private:
    size_t Read(uint8_t* buffer, size_t count) {
        try {
            return read_(buffer, count);
        } catch (...) {
            throw CallerFault{std::current_exception()};
        }
    }

    const CarryOverSource::ReadFile& read_;
    uint64_t done_ = 0;
    std::vector<uint8_t> file_;
};

std::string MakingNote(int level) {
    return "zb-deflate " + std::to_string(kDeflateGeneration) + ", level " + std::to_string(std::clamp(level, 0, 9));
}

uint16_t DeflateOptionBits(int level) {
    // As Deflate sets them (codec/deflate_state.cpp): fast for levels 1-2, maximum for 8-9.
    if (level <= 2) return 4;
    if (level >= 8) return 2;
    return 0;
}

CarryOverSource::~CarryOverSource() = default;

std::unique_ptr<CarryOverSource> CarryOverSource::Open(const std::string& path, int level, unsigned threads) {
    const std::string note = MakingNote(level);
    auto source = Load(path, &note, threads);
    if (source) source->optionBits_ = DeflateOptionBits(level);
    return source;
}

std::unique_ptr<CarryOverSource> CarryOverSource::OpenForComparison(const std::string& path, unsigned threads) {
    return Load(path, nullptr, threads);
}

std::unique_ptr<CarryOverSource> CarryOverSource::Load(const std::string& path, const std::string* note,
                                                        unsigned threads) {
    std::unique_ptr<CarryOverSource> source(new CarryOverSource());
    try {
        QuietHost quiet;
        TVCLUnZip reader(&quiet);
        reader.IncompleteZipMode = izAssumeNotAZip;
        reader.SetZipName(path);
        reader.ReadCentralDirectory();
        if (note && reader.ArchiveComment() != *note) return nullptr;
        std::unordered_set<std::string> twice;
        for (int i = 0; i < reader.Count(); ++i) {
            const TZipHeaderInfo& entry = reader.EntryInfo(i);
            if (entry.DiskNumberStart != 0) return nullptr;
            if (!source->entries_.emplace(entry.StoredName(), entry).second) twice.insert(entry.StoredName());
        }
        // A name listed twice stands for nothing: which of the entries is meant cannot be told.
        for (const std::string& name : twice) source->entries_.erase(name);
        source->listed_ = reader.Count();
        source->file_ = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite);
    } catch (const Exception&) {
        return nullptr;
    }
    source->noted_ = note != nullptr;
    source->workspace_ = codec::MakeDecodeWorkspace();
    if (threads > 1) source->pool_ = std::make_unique<parallel::WorkPool>(1);
    return source;
}

const TZipHeaderInfo* CarryOverSource::Find(const std::string& storedName) const {
    const auto it = entries_.find(storedName);
    return it == entries_.end() ? nullptr : &it->second;
}

const TZipHeaderInfo* CarryOverSource::Candidate(const std::string& storedName, uint64_t size,
                                                 uint16_t method) const {
    if (!noted_) return nullptr;
    const TZipHeaderInfo* e = Find(storedName);
    if (!e || e->UncompressedSize != size || e->Method != method) return nullptr;
    // As this writer writes an entry, and nothing else: no encryption, no data descriptor, no extra
    // fields, version 2.0, and a deflated entry with the option bits of the level in use.
    if ((e->Flags & ~kWrittenFlags) != 0 || e->LocalExtraLength != 0 || e->CentralExtraLength != 0) return nullptr;
    if (e->VersionNeeded != 20 || (e->VersionMadeBy & 0xFF) != 20) return nullptr;
    if (method == 8 && (e->Flags & 0x0006) != optionBits_) return nullptr;
    if (method == 0 && e->CompressedSize != e->UncompressedSize) return nullptr;
    if (e->InternalAttributes != 0 && e->InternalAttributes != 1) return nullptr;
    return e;
}

int64_t CarryOverSource::DataStart(const TZipHeaderInfo& entry) {
    uint8_t bytes[kLocalHeaderSize] = {};
    if (file_->Seek(entry.LocalHeaderOffset, soFromBeginning) != entry.LocalHeaderOffset ||
        file_->Read(bytes, kLocalHeaderSize) != kLocalHeaderSize)
        return -1;
    const LocalHeader local = ParseLocalHeader(bytes);
    // The local header must describe the same entry as the directory: the data it leads to is copied.
    if (!local.signatureRight || local.method != entry.Method || local.flags != entry.Flags ||
        local.crc32 != entry.Crc32 || local.compressedSize != entry.CompressedSize ||
        local.uncompressedSize != entry.UncompressedSize || local.nameLength != entry.FileNameLength ||
        local.extraLength != entry.LocalExtraLength)
        return -1;
    std::string name(local.nameLength, '\0');
    if (file_->Read(name.data(), local.nameLength) != local.nameLength || name != entry.ArchiveNameBytes()) return -1;
    const int64_t start = int64_t{entry.LocalHeaderOffset} + local.DataOffset();
    if (start + int64_t{entry.CompressedSize} > file_->Size()) return -1;
    return start;
}

bool CarryOverSource::SameBytes(const TZipHeaderInfo& entry, const ReadFile& read, const std::function<void()>& pump,
                                const std::function<void()>& waiting) {
    if (entry.IsEncrypted() || (entry.Method != 0 && entry.Method != 8)) return false;
    const int64_t start = DataStart(entry);
    if (start < 0 || file_->Seek(start, soFromBeginning) != start) return false;
    Comparer comparer(read);
    try {
        if (pool_) {
            if (!DecodeOnWorker(entry, comparer, pump, waiting)) return false;
        } else {
            DataInput input(*file_, entry.CompressedSize, pump);
            CheckedSink sink(entry.UncompressedSize, [&](const uint8_t* data, size_t n) { comparer.Compare(data, n); });
            if (!Decode(entry, *workspace_, input, sink) || sink.Crc() != entry.Crc32) return false;
        }
        return comparer.Done() == entry.UncompressedSize && !comparer.FileGoesOn();
    } catch (const Differs&) {
        return false;
    } catch (const CallerFault& fault) {
        std::rethrow_exception(fault.what);
    } catch (const Exception&) {
        return false;  // the archive's own fault: it cannot stand for the file
    }
}

bool CarryOverSource::DecodeOnWorker(const TZipHeaderInfo& entry, Comparer& comparer, const std::function<void()>& pump,
                                     const std::function<void()>& waiting) {
    DecodedPieces pieces;
    pool_->Submit([&] {
        // The worker's own run: the archive's file and the workspace are the source's, and nobody else
        // uses them meanwhile. Whatever ends it early ends it as "not whole".
        bool whole = false;
        uint64_t written = 0;
        uint32_t crc = 0;
        try {
            const std::function<void()> mark = [&] { pieces.Pump(); };
            DataInput input(*file_, entry.CompressedSize, mark);
            CheckedSink sink(entry.UncompressedSize, [&](const uint8_t* data, size_t n) { pieces.Put(data, n); });
            whole = Decode(entry, *workspace_, input, sink);
            written = sink.Written();
            crc = sink.Crc();
        } catch (...) {
            whole = false;
        }
        pieces.Finish(whole, written, crc);
    });
    try {
        DecodedPieces::Piece piece;
        while (pieces.Take(piece, waiting)) {
            if (piece.pump) {
                if (pump) {
                    try {
                        pump();
                    } catch (...) {
                        throw CallerFault{std::current_exception()};
                    }
                }
            } else {
                comparer.Compare(piece.bytes.data(), piece.bytes.size());
            }
        }
    } catch (...) {
        pieces.Abandon();
        throw;
    }
    pieces.Abandon();  // ended already: this only waits for the worker's last word
    return pieces.Whole() && pieces.Written() == entry.UncompressedSize && pieces.Crc() == entry.Crc32;
}

void CarryOverSource::CopyData(const TZipHeaderInfo& entry, const std::function<void(const uint8_t*, size_t)>& write) {
    const int64_t start = DataStart(entry);
    if (start < 0 || file_->Seek(start, soFromBeginning) != start)
        throw EFatalUnzipError("Premature end of file reached");
    DataInput input(*file_, entry.CompressedSize, {});
    const uint8_t* data = nullptr;
    for (size_t n; (n = input.NextBlock(data)) > 0;) write(data, n);
}

}  // namespace archive::writer
