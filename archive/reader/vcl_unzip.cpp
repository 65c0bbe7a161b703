// TVCLUnZip, the component itself: defaults, the three path setters, Assign, the indexed entry
// accessors with their comments loaded on demand, and the bookkeeping of the loaded directory (clearing,
// discarding, the sorted view).
//
// Directory reading lives in directory_reader.cpp, extraction in unzip.cpp.
//
// Invariants: the master list owns the entries and is in archive order; the view is the master list
// itself (SortMode ByNone) or a non-owning list of exactly the same entries, so an index valid for
// Count() is valid for the view.
#include "archive/reader/vcl_unzip.h"

#include <algorithm>

#include "archive/parallel/work_pool.h"
#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/records/little_endian.h"

namespace archive {

namespace {

// The open-file dialog of the ZipName setter.
constexpr const char* kOpenTitle = "Open a Zip File";
constexpr const char* kOpenFilter =
    "Zip Files (*.ZIP)|*.zip|SFX Files (*.EXE)|*.exe|Jar Files (*.JAR)|*.jar|All Files (*.*)|*.*";

}  // namespace

TVCLUnZip::TVCLUnZip(Host* host) : host_(host ? host : &NullHost()) {
    // The built-in disk request takes the component from its Sender argument, so it stays right when
    // Assign copies it to another component.
    OnGetNextDisk = &TVCLUnZip::BuiltInGetNextDisk;
}

TVCLUnZip::~TVCLUnZip() {
    try {
        ClearZip();
    } catch (...) {
    }
}

void TVCLUnZip::SetHost(Host* host) { host_ = host ? host : &NullHost(); }

void TVCLUnZip::SetZipName(const std::string& value) {
    // Same archive in another letter case: the file system folds case for us, so the directory stays.
    if (CompareText(value, zipName_) == 0) return;
    std::string name = value;
    if (!value.empty() && value.back() == '?') {
        const std::string folder = fs::ExtractFilePath(value);
        const std::string initial = !folder.empty() && fs::DirectoryExists(folder) ? folder : fs::HomeDirectory();
        const auto chosen = host().OpenFileDialog(kOpenTitle, kOpenFilter, initial);
        if (!chosen) throw EUserCanceled("User canceled setting zip file name.");
        name = *chosen;
    }
    zipName_ = name;
    DiscardDirectory();
    zipStamp_ = ArchiveStamp{};
    ecrec_.Clear();
    zipStream_.reset();  // even with KeepZipOpen: it is another archive now
    recovery_ = false;
    lastDiskName_.clear();
}

void TVCLUnZip::SetDestDir(const std::string& value) {
    std::string dir = value;
    if (value == "?") {
        const std::string start = !destDir_.empty() && fs::DirectoryExists(destDir_) ? destDir_
                                                                                      : fs::CurrentDirectory();
        const auto chosen = host().SelectFolderDialog(start);
        if (!chosen) throw EUserCanceled("User canceled Set Desination Directory");
        dir = *chosen;
    }
    // One trailing separator goes; the root folder "/" keeps its only one.
    destDir_ = fs::ExcludeTrailingSeparator(dir);
}

void TVCLUnZip::SetRootDir(const std::string& value) {
    rootDir_ = value.empty() ? std::string() : fs::IncludeTrailingSeparator(value);
}

unsigned TVCLUnZip::DecompressionThreads() const {
    return decompressionThreads_ == 0 ? std::min(parallel::WorkPool::Cores(), 16u) : decompressionThreads_;
}

void TVCLUnZip::Assign(const TVCLUnZip& source) {
    if (&source == this) return;
    SetZipName(source.zipName_);
    destDir_ = source.destDir_;
    rootDir_ = source.rootDir_;
    SortMode = source.SortMode;
    RecreateDirs = source.RecreateDirs;
    OverwriteMode = source.OverwriteMode;
    FilesList = source.FilesList;
    DoAll = source.DoAll;
    IncompleteZipMode = source.IncompleteZipMode;
    KeepZipOpen = source.KeepZipOpen;
    DoProcessMessages = source.DoProcessMessages;
    RetainAttributes = source.RetainAttributes;
    ReplaceReadOnly = source.ReplaceReadOnly;
    AllOrNothing = source.AllOrNothing;
    decompressionThreads_ = source.decompressionThreads_;
    OnStartUnZipInfo = source.OnStartUnZipInfo;
    OnFilePercentDone = source.OnFilePercentDone;
    OnTotalPercentDone = source.OnTotalPercentDone;
    OnStartUnZip = source.OnStartUnZip;
    OnEndUnZip = source.OnEndUnZip;
    OnPromptForOverwrite = source.OnPromptForOverwrite;
    OnSkippingFile = source.OnSkippingFile;
    OnBadPassword = source.OnBadPassword;
    OnBadCRC = source.OnBadCRC;
    OnBadSize = source.OnBadSize;
    OnInCompleteZip = source.OnInCompleteZip;
    OnGetNextDisk = source.OnGetNextDisk;
    OnUnZipComplete = source.OnUnZipComplete;
    OnGetNextBuffer = source.OnGetNextBuffer;
}

// ---- entries ------------------------------------------------------------------------------------------

int TVCLUnZip::Count() const { return files_ ? files_->Count() : 0; }

namespace {

void CheckIndex(int index, int count) {
    if (index < 0 || index >= count) throw EListError(Format("Index %d is out of range", index));
}

}  // namespace

std::string TVCLUnZip::EntryName(int index) {
    CheckIndex(index, Count());
    return View()->Items(index)->FileName();
}

const TZipHeaderInfo& TVCLUnZip::EntryInfo(int index) const {
    CheckIndex(index, Count());
    return *View()->Items(index);
}

TDateTime TVCLUnZip::EntryDateTime(int index) {
    CheckIndex(index, Count());
    TDateTime value = 0;
    if (!DosToDateTime(View()->Items(index)->DateTime, value)) value = Now();
    return value;
}

std::string TVCLUnZip::EntryComment(int index) {
    CheckIndex(index, Count());
    TZipHeaderInfo& entry = *View()->Items(index);
    if (entry.CommentLength == 0) return {};
    if (!entry.Comment()) LoadEntryComment(entry);
    return entry.Comment().value_or(std::string());
}

std::string TVCLUnZip::ArchiveComment() {
    if (ecrec_.CommentLength == 0) return {};
    if (!ecrec_.Comment()) LoadArchiveComment();
    return ecrec_.Comment().value_or(std::string());
}

namespace {

const uint8_t* Bytes(const std::string& s, size_t at) { return reinterpret_cast<const uint8_t*>(s.data()) + at; }

// Reads up to n bytes at pos; fewer when the file ends first.
std::string ReadAt(TStream& stream, int64_t pos, size_t n) {
    std::string bytes(n, '\0');
    if (stream.Seek(pos, soFromBeginning) != pos) return {};
    const int64_t got = stream.Read(bytes.data(), static_cast<int64_t>(n));
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
    return bytes;
}

}  // namespace

void TVCLUnZip::LoadEntryComment(TZipHeaderInfo& entry) {
    const bool opened = !zipStream_;
    if (opened) zipStream_ = std::make_unique<TLFNFileStream>(zipName_, fmOpenRead | fmShareDenyWrite);
    // Called from an event handler during extraction, this must not move the entry's data from under it.
    const int64_t position = zipStream_->Position();
    // The central record is read again for its own lengths: the comment follows the name and extra field.
    const std::string rec = ReadAt(*zipStream_, entry.CentralRecordOffset, kCentralHeaderSize);
    std::string comment;
    if (rec.size() == kCentralHeaderSize && GetU32(Bytes(rec, 0)) == kCentralHeaderSignature) {
        const uint16_t nameLength = GetU16(Bytes(rec, 28));
        const uint16_t extraLength = GetU16(Bytes(rec, 30));
        const uint16_t commentLength = GetU16(Bytes(rec, 32));
        comment = ReadAt(*zipStream_, int64_t{entry.CentralRecordOffset} + kCentralHeaderSize + nameLength + extraLength,
                         commentLength);
    }
    const uint16_t length = entry.CommentLength;
    entry.SetComment(comment);
    entry.CommentLength = length;  // the record's own length stays what the directory said
    zipStream_->Seek(position, soFromBeginning);
    if (opened) CloseZipFile(false);
}

void TVCLUnZip::LoadArchiveComment() {
    const bool opened = !zipStream_;
    if (opened) zipStream_ = std::make_unique<TLFNFileStream>(zipName_, fmOpenRead | fmShareDenyWrite);
    const int64_t position = zipStream_->Position();
    ecrec_.SetLoadedComment(ReadAt(*zipStream_, ecrec_.CommentPosition, ecrec_.CommentLength));
    zipStream_->Seek(position, soFromBeginning);
    if (opened) CloseZipFile(false);
}

// ---- the loaded directory -----------------------------------------------------------------------------

void TVCLUnZip::CloseZipFile(bool force) {
    if (force || !KeepZipOpen) zipStream_.reset();
}

void TVCLUnZip::DiscardDirectory() {
    sortedFiles_.reset();
    files_.reset();
    sharedOffsets_.clear();
}

void TVCLUnZip::ClearZip() {
    CloseZipFile(true);
    DiscardDirectory();
    ecrec_.Clear();
    recovery_ = false;
    zipStamp_ = ArchiveStamp{};
    numDisks_ = 1;
    curDisk_ = 0;
    multiMode_ = mmNone;
    zipName_.clear();
    lastDiskName_.clear();
}

void TVCLUnZip::RebuildView() {
    sortedFiles_.reset();
    if (!files_ || SortMode == ByNone) return;
    // Accept equal keys: the view must hold every entry of the master list, or indexes would drift.
    auto view = std::make_unique<TSortedZip>(dupAccept);
    view->SortMode = SortMode;
    view->OwnsObjects = false;
    for (int i = 0; i < files_->Count(); ++i) view->Add(files_->Items(i));
    sortedFiles_ = std::move(view);
}

}  // namespace archive
