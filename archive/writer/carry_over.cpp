// The earlier archive of a carry-over: its directory, the choice of candidate entries, the comparison of
// an entry's decoded bytes with a file's, and the copy of its compressed data. See carry_over.h.
//
// The comparison decodes with our own inflate into a sink that reads the same number of bytes from the
// file and compares them; the first difference ends the decoding at once (a private exception, which
// the decoder lets pass like every exception of its sink). What the caller's routines raise (a read
// error of the file, a cancel from the message pump) is told apart from the archive's own faults and
// goes on; a fault of the archive only makes the answer "not the same".
#include "archive/writer/carry_over.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "archive/codec/crc32.h"
#include "archive/errors.h"
#include "archive/host.h"
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

// Compares decoded bytes with the file's as they come.
class CompareSink : public codec::OutputSink {
public:
    CompareSink(const CarryOverSource::ReadFile& read, uint64_t limit) : read_(read), limit_(limit), file_(kPiece) {}
    void Write(const uint8_t* data, size_t n) override {
        if (n > limit_ - std::min(limit_, done_)) throw Differs{};  // more than the entry says it holds
        crc_ = codec::Update(crc_, data, n);
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
    uint32_t Crc() const { return ~crc_; }

private:
    size_t Read(uint8_t* buffer, size_t count) {
        try {
            return read_(buffer, count);
        } catch (...) {
            throw CallerFault{std::current_exception()};
        }
    }

    const CarryOverSource::ReadFile& read_;
    uint64_t limit_;
    uint64_t done_ = 0;
    uint32_t crc_ = 0xFFFFFFFF;
    std::vector<uint8_t> file_;
};

}  // namespace

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

std::unique_ptr<CarryOverSource> CarryOverSource::Open(const std::string& path, int level) {
    const std::string note = MakingNote(level);
    auto source = Load(path, &note);
    if (source) source->optionBits_ = DeflateOptionBits(level);
    return source;
}

std::unique_ptr<CarryOverSource> CarryOverSource::OpenForComparison(const std::string& path) {
    return Load(path, nullptr);
}

std::unique_ptr<CarryOverSource> CarryOverSource::Load(const std::string& path, const std::string* note) {
    std::unique_ptr<CarryOverSource> source(new CarryOverSource());
    try {
        QuietHost quiet;
        TVCLUnZip reader(&quiet);
        reader.IncompleteZipMode = izAssumeNotAZip;
        reader.SetZipName(path);
        reader.ReadCentralDirectory();
        if (note && reader.ArchiveComment() != *note) return nullptr;
        for (int i = 0; i < reader.Count(); ++i) {
            const TZipHeaderInfo& entry = reader.EntryInfo(i);
            if (entry.DiskNumberStart != 0) return nullptr;
            // A name listed twice stands for nothing: which of the two is meant cannot be told.
            if (!source->entries_.emplace(entry.StoredName(), entry).second) source->entries_.erase(entry.StoredName());
        }
        source->file_ = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite);
    } catch (const Exception&) {
        return nullptr;
    }
    source->noted_ = note != nullptr;
    source->workspace_ = codec::MakeDecodeWorkspace();
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

bool CarryOverSource::SameBytes(const TZipHeaderInfo& entry, const ReadFile& read, const std::function<void()>& pump) {
    if (entry.IsEncrypted() || (entry.Method != 0 && entry.Method != 8)) return false;
    CompareSink sink(read, entry.UncompressedSize);
    try {
        const int64_t start = DataStart(entry);
        if (start < 0 || file_->Seek(start, soFromBeginning) != start) return false;
        DataInput input(*file_, entry.CompressedSize, pump);
        if (entry.Method == 8) {
            if (codec::Inflate(*workspace_, input, sink) != codec::DecodeResult::Ok) return false;
        } else {
            const uint8_t* data = nullptr;
            for (size_t n; (n = input.NextBlock(data)) > 0;) sink.Write(data, n);
        }
        return sink.Done() == entry.UncompressedSize && sink.Crc() == entry.Crc32 && !sink.FileGoesOn();
    } catch (const Differs&) {
        return false;
    } catch (const CallerFault& fault) {
        std::rethrow_exception(fault.what);
    } catch (const Exception&) {
        return false;  // the archive's own fault: it cannot stand for the file
    }
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
