// CheckArchive: the directory through the reader (no recovery scan: a directory that cannot be read is a
// failed check, not something to work around), the local headers straight from the file, then the data
// of every entry through the reader's test run. See archive_check.h.
#include "archive/reader/archive_check.h"


#include <algorithm>
#include <cstdio>
#include <memory>

#include "archive/fs/file_io.h"
#include "archive/errors.h"
#include "archive/host.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/little_endian.h"
#include "archive/records/local_header.h"
#include "archive/records/zip_header_info.h"

namespace archive {

namespace {

// Pumps the caller's messages; answers the reader's boxes without showing them.
class QuietHost : public Host {
public:
    explicit QuietHost(Host* pump) : pump_(pump) {}
    Answer MessageBox(const std::string&, const std::string&, Buttons buttons) override {
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
    std::optional<std::string> OpenFileDialog(const std::string&, const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::optional<std::string> SelectFolderDialog(const std::string&) override { return std::nullopt; }
    void ProcessMessages() override {
        if (pump_) pump_->ProcessMessages();
    }
    void SetBusyCursor(bool) override {}

private:
    Host* pump_;
};

// A descriptor closed with its owner.
struct ReadOnlyFile {
    explicit ReadOnlyFile(const std::string& path) : fd(fs::OpenFile(path, fs::Access::Read)) {}
    ~ReadOnlyFile() { fs::CloseFile(fd); }
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;
    const int fd;
};

// Each entry's local header: there, with the signature, and with a name as long as the directory's.
void CheckLocalHeaders(const std::string& path, TVCLUnZip& reader, CheckResult& result) {
    const ReadOnlyFile file(path);
    if (file.fd < 0) {
        result.problems.push_back({"", "the archive cannot be read again"});
        return;
    }
    for (int i = 0; i < reader.Count(); ++i) {
        const TZipHeaderInfo& entry = reader.EntryInfo(i);
        uint8_t local[kLocalHeaderSize] = {};
        const bool read = fs::ReadSomeAt(file.fd, local, sizeof local, static_cast<int64_t>(entry.LocalHeaderOffset)) ==
                          static_cast<int64_t>(sizeof local);
        const LocalHeader header = ParseLocalHeader(local);
        if (!read || !header.signatureRight) {
            result.problems.push_back({entry.StoredName(), "its local header is missing"});
        } else if (header.nameLength != entry.FileNameLength) {
            result.problems.push_back({entry.StoredName(), "its local header names another file"});
        }
    }
}

// The directory into `result`; false (with the reason) when it cannot be read.
bool ReadDirectory(TVCLUnZip& reader, const std::string& path, CheckResult& result) {
    reader.IncompleteZipMode = izAssumeNotAZip;
    try {
        // The reader takes a file of no bytes for an archive with no entries (a new archive starts so);
        // what is checked here must have an end record, as a written archive always has.
        const auto status = fs::StatusOf(path);
        if (status && status->regular && status->size == 0)
            throw ENotAZipFile("Not a valid zip file!");
        reader.SetZipName(path);
        reader.ReadCentralDirectory();
    } catch (const EUnsupportedArchive& e) {
        result.problems.push_back({"", e.what(), true});
        return false;
    } catch (const std::exception& e) {
        result.problems.push_back({"", e.what()});
        return false;
    }
    result.opened = true;
    for (int i = 0; i < reader.Count(); ++i) {
        const TZipHeaderInfo& entry = reader.EntryInfo(i);
        result.entries.push_back({entry.StoredName(), entry.Crc32, entry.CompressedSize, entry.UncompressedSize,
                                  entry.LocalHeaderOffset});
    }
    return true;
}

}  // namespace

CheckResult OpenArchive(const std::string& path) {
    CheckResult result;
    QuietHost quiet(nullptr);
    TVCLUnZip reader(&quiet);
    ReadDirectory(reader, path, result);
    return result;
}

CheckResult CheckArchive(const std::string& path, Host* host, const std::string& password, unsigned threads) {
    CheckResult result;
    QuietHost quiet(host);
    TVCLUnZip reader(&quiet);
    reader.SetDecompressionThreads(threads);
    reader.DoProcessMessages = host != nullptr;
    reader.Password = password;
    if (!ReadDirectory(reader, path, result)) return result;
    CheckLocalHeaders(path, reader, result);

    std::string current;
    reader.OnStartUnZip = [&](TVCLUnZip*, int, std::string& name, bool&) { current = name; };
    reader.OnBadCRC = [&](TVCLUnZip* sender, uint32_t, uint32_t, int index) {
        result.problems.push_back({sender->EntryInfo(index).StoredName(), "CRC or size mismatch"});
    };
    reader.OnSkippingFile = [&](TVCLUnZip* sender, TSkipReason reason, const std::string&, int index, bool&) {
        const TZipHeaderInfo& entry = sender->EntryInfo(index);
        const std::string why = reason == skBadPassword      ? "encrypted, no password"
                                : !sender->SkipDetail().empty() ? sender->SkipDetail()
                                                                : "cannot be read";
        const TRefusal kind = sender->SkipKind();
        result.problems.push_back({entry.StoredName(), why, kind == TRefusal::Password || kind == TRefusal::MethodNotSupported});
    };
    reader.DoAll = true;
    try {
        reader.TestArchive();
    } catch (const std::exception& e) {
        result.problems.push_back({current, e.what()});
    }
    return result;
}

std::string CompareEntries(const std::vector<CheckedEntry>& expected, const std::vector<CheckedEntry>& found) {
    const size_t n = std::min(expected.size(), found.size());
    for (size_t i = 0; i < n; ++i) {
        const CheckedEntry& a = expected[i];
        const CheckedEntry& b = found[i];
        if (a.name != b.name) return "entry " + std::to_string(i + 1) + " is " + b.name + " instead of " + a.name;
        if (!(a == b)) return a.name + ": the directory read back differs from what was written";
    }
    if (found.size() < expected.size()) return expected[n].name + ": missing from the directory read back";
    if (found.size() > expected.size()) return found[n].name + ": in the directory read back, but never written";
    return {};
}

}  // namespace archive
