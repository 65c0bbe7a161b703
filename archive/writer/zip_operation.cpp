// The Zip operation from start to end: expansion, the output, the merge of an existing archive, the
// files, the central directory and end record, and the clean-up that runs in every case.
//
// The output is never the archive itself. OutputFile writes a temporary file beside ZipName (a volume set
// writes one per volume) and the archive takes its name by a rename once every byte is on the disk. Until
// then an existing archive is only read, so a failure anywhere leaves it exactly as it was, and the
// clean-up deletes the temporary files.
//
// After a success the component's loaded directory is the new archive (entries, end record, date stamp),
// so a following ReadCentralDirectory does not read the file again.
#include <algorithm>
#include <cctype>
#include <string>
#include <unordered_set>

#include "archive/errors.h"
#include "archive/fs/fs.h"
#include "archive/reader/archive_check.h"
#include "archive/writer/carry_over.h"
#include "archive/records/date_time.h"
#include "archive/writer/output_file.h"
#include "archive/writer/vcl_zip.h"
#include "archive/writer/volume_set.h"

namespace archive {

namespace {

std::string Trim(const std::string& s) {
    size_t a = 0;
    size_t b = s.size();
    while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
    while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
    return s.substr(a, b - a);
}

std::string UpperAZ(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
}

std::string Bytes(TMemoryStream& m) {
    return std::string(reinterpret_cast<const char*>(m.Data().data()), m.Data().size());
}

}  // namespace

SelectionSettings TVCLZip::Settings() const {
    SelectionSettings s;
    s.Recurse = Recurse;
    s.StorePaths = storePaths_;
    s.RelativePaths = relativePaths_;
    s.StoreVolumes = storeVolumes_;
    s.Store83Names = Store83Names;
    s.SkipIfArchiveBitNotSet = SkipIfArchiveBitNotSet;
    s.AddDirEntriesOnRecurse = AddDirEntriesOnRecurse;
    s.ZipAction = ZipAction;
    s.RootDir = rootDir_;
    s.ZipName = zipName_;
    s.ExcludeList = ExcludeList;
    s.NoCompressList = NoCompressList;
    return s;
}

int TVCLZip::RunZip() {
    if (Trim(zipName_).empty()) return 0;
    if (busy_) throw Exception("A Zip operation is already running on this component");
    if (multiZipInfo_.MultiMode == mmSpan) {
        throw Exception("Spanning removable disks (mmSpan) is not available on this system; "
                        "use block mode (mmBlocks) for a multi-volume archive");
    }

    busy_ = true;
    cancelRequested_ = false;  // a request made while idle belongs to no operation
    added_ = 0;
    carried_ = 0;
    curDisk_ = 0;
    savedSortMode_ = SortMode;
    savedKeepZipOpen_ = KeepZipOpen;
    KeepZipOpen = true;
    SortMode = ByNone;
    if (files_) RebuildView();

    try {
        multi_ = multiZipInfo_.MultiMode == mmBlocks;
        if (multi_ && multiZipInfo_.SaveZipInfoOnFirstDisk) {
            const int perEntry = storePaths_ ? 83 : 58;
            multiZipInfo_.SaveOnFirstDisk +=
                2070 + ecrec_.CommentLength + perEntry * static_cast<int>(FilesList.size());
        }
        settings_ = Settings();
        disposeList_.clear();
        bytesToDo_ = 0;
        bytesDone_ = 0;
        bytesWritten_ = 0;
        lastTotalPercent_ = -1;
        if (!FilesList.empty()) ExpandList();

        deflater_.AllocateBuffers();
        updating_ = fs::FileExists(zipName_);
        if (updating_ && multi_) {
            throw Exception("An existing archive cannot be rebuilt as a multi-volume set: \"" + zipName_ +
                            "\" exists");
        }
        // Whether a directory was loaded before the call decides where the new end record (and with it
        // the archive comment) comes from.
        const bool directoryLoaded = files_ != nullptr;
        OpenOutput();
        if (updating_) {
            OpenAndRefresh();
            // The old archive's comment must survive a rebuild even when its directory was not read
            // before the call.
            if (!directoryLoaded) TakeOverEndRecord();
            MergeExisting();
        }

        if (!FilesList.empty()) {
            bool stopNow = false;
            if (OnStartZipInfo)
                OnStartZipInfo(this, static_cast<int>(FilesList.size()), bytesToDo_, *newEcrec_, stopNow);
            if (stopNow) throw EUserCanceled("User canceled Zip operation");
        }
        if (multi_) bytesToDo_ *= 2;  // every byte is read once and copied once

        if (!CarryOverFrom.empty() && !CompressEveryFile && Password.empty() && !multi_ && !FilesList.empty())
            carrySource_ = writer::CarryOverSource::Open(CarryOverFrom, std::clamp(PackLevel, 0, 9), deflater_.Threads());
        AddFiles();
        carrySource_.reset();
        WriteCentralDirectory();
        PutInPlace();
    } catch (...) {
        AbandonOutput();
        RestoreAfterZip();
        throw;
    }

    const bool wasMulti = multi_;
    try {
        InstallNewDirectory();
        // A multi-volume operation always ends on 100. So does any other whose progress stopped short
        // because files were skipped after their bytes had been counted: the bar must not stay behind.
        if (OnTotalPercentDone && (wasMulti || (lastTotalPercent_ >= 0 && lastTotalPercent_ < 100)))
            OnTotalPercentDone(this, 100);
        DisposeSources();
    } catch (...) {
        RestoreAfterZip();
        throw;
    }
    RestoreAfterZip();
    return added_;
}

void TVCLZip::ExpandList() {
    ExpandHooks hooks;
    hooks.OnNoSuchFile = [this](const std::string& name) {
        if (OnNoSuchFile) OnNoSuchFile(this, name);
    };
    // zaFreshen looks names up in the directory loaded when Zip starts (none loaded: nothing matches).
    std::unordered_set<std::string> names;
    if (ZipAction == zaFreshen) {
        if (files_) {
            for (int i = 0; i < files_->Count(); ++i) names.insert(UpperAZ(files_->Items(i)->StoredName()));
        }
        hooks.ArchiveHasEntry = [&names](const std::string& stored) { return names.count(UpperAZ(stored)) != 0; };
    }
    bytesToDo_ = ExpandFilesList(FilesList, settings_, hooks);
}

void TVCLZip::OpenOutput() {
    if (multi_) {
        volumes_ = std::make_unique<writer::VolumeSet>(zipName_, multiZipInfo_.FirstBlockSize, multiZipInfo_.BlockSize);
    } else {
        out_ = std::make_unique<writer::OutputFile>(zipName_);
    }
    nameList_ = std::make_unique<TSortedZip>(dupError);
    nameList_->SortMode = ByName;
    nameList_->OwnsObjects = false;
    archiveList_ = std::make_unique<TSortedZip>(dupError);
    archiveList_->SortMode = ByNone;
    newEcrec_ = std::make_unique<TEndCentral>();
    if (updating_ || ecrec_.PendingChange) TakeOverEndRecord();
    if (NoteMaking && !updating_ && newEcrec_->CommentLength == 0)
        newEcrec_->SetComment(writer::MakingNote(std::clamp(PackLevel, 0, 9)));
}

void TVCLZip::TakeOverEndRecord() {
    if (ecrec_.CommentLength != 0 && !ecrec_.Comment()) LoadArchiveComment();
    newEcrec_->Assign(ecrec_);
    newEcrec_->EntriesThisDisk = 0;
    newEcrec_->TotalEntries = 0;
    newEcrec_->PendingChange = false;
}

void TVCLZip::AddFiles() {
    const size_t count = FilesList.size();
    aheadNext_ = 0;
    for (size_t i = 0; i < count; ++i) {
        auto entry = std::make_unique<TZipHeaderInfo>();
        const std::string fname = FilesList[i];
        PlanAhead(i);
        turn_ = i;
        const bool added = ZipOneFile(fname, *entry);
        turn_ = SIZE_MAX;
        if (added) AddEntry(std::move(entry), &fname);
    }
    ahead_.clear();
}

void TVCLZip::AddEntry(std::unique_ptr<TZipHeaderInfo> entry, const std::string* source) {
    TZipHeaderInfo* e = entry.get();
    archiveList_->Add(e);  // owning: from here the list frees it
    entry.release();
    nameList_->Add(e);
    ++added_;
    ++newEcrec_->EntriesThisDisk;
    ++newEcrec_->TotalEntries;
    if (Dispose && source) disposeList_.push_back(*source);
}

void TVCLZip::WriteCentralDirectory() {
    std::string directory;  // kept for the companion file of a multi-volume set
    const bool keepCopy = multi_ && multiZipInfo_.SaveZipInfoOnFirstDisk;

    std::vector<std::string> records;
    records.reserve(static_cast<size_t>(archiveList_->Count()));
    for (int i = 0; i < archiveList_->Count(); ++i) {
        TZipHeaderInfo* e = archiveList_->Items(i);
        // A comment length without the comment would make the directory unreadable.
        if (e->CommentLength != 0 && !e->Comment()) e->CommentLength = 0;
        TMemoryStream m;
        e->WriteCentral(m);
        records.push_back(Bytes(m));
    }
    if (newEcrec_->CommentLength != 0 && !newEcrec_->Comment()) newEcrec_->CommentLength = 0;

    if (multi_) volumes_->Reserve(records.empty() ? newEcrec_->RecordSize() : records.front().size());
    newEcrec_->CentralOffset = static_cast<uint32_t>(ArchivePosition());
    newEcrec_->CentralStartDisk = static_cast<uint16_t>(multi_ ? volumes_->Disk() : 0);
    uint64_t size = 0;
    for (int i = 0; i < archiveList_->Count(); ++i) {
        const std::string& bytes = records[static_cast<size_t>(i)];
        if (multi_) volumes_->Reserve(static_cast<int64_t>(bytes.size()));
        archiveList_->Items(i)->CentralRecordOffset = static_cast<uint32_t>(ArchivePosition());
        PutRaw(bytes.data(), bytes.size());
        size += bytes.size();
        if (keepCopy) directory += bytes;
    }
    newEcrec_->CentralSize = static_cast<uint32_t>(size);

    if (multi_) volumes_->Reserve(newEcrec_->RecordSize());
    curDisk_ = multi_ ? volumes_->Disk() : 0;
    newEcrec_->ThisDisk = static_cast<uint16_t>(curDisk_);
    TMemoryStream m;
    newEcrec_->Write(m);
    const std::string end = Bytes(m);
    PutRaw(end.data(), end.size());
    if (keepCopy) {
        // The companion's directory starts at its first byte; readers take it from there.
        companion_ = directory + end;
    }
}

void TVCLZip::PutInPlace() {
    if (multi_) {
        volumes_->Commit();
        return;
    }
    out_->Finish();  // every byte on the disk, or ENotEnoughRoom
    if (VerifyArchive) CheckWritten();
    if (updating_) CloseZipFile(true);  // let go of the old archive before the new one replaces it
    out_->Commit();
}

void TVCLZip::CheckWritten() {
    std::vector<CheckedEntry> written;
    written.reserve(static_cast<size_t>(archiveList_->Count()));
    for (int i = 0; i < archiveList_->Count(); ++i) {
        const TZipHeaderInfo& e = *archiveList_->Items(i);
        written.push_back({e.StoredName(), e.Crc32, e.CompressedSize, e.UncompressedSize, e.LocalHeaderOffset});
    }
    // Read back with as many threads as it was written with.
    const CheckResult read =
        CheckArchive(out_->TempName(), DoProcessMessages ? host_ : nullptr, Password, deflater_.Threads());
    std::string problem;
    if (!read.problems.empty()) {
        const CheckProblem& first = read.problems.front();
        problem = first.entry.empty() ? first.what : first.entry + ": " + first.what;
    } else {
        problem = CompareEntries(written, read.entries);
    }
    if (!problem.empty()) {
        throw EArchiveCheckFailed("The new archive did not read back whole, so it was not kept (" + problem + ")");
    }
}

void TVCLZip::WriteCompanion() {
    if (companion_.empty() || !volumes_ || volumes_->Count() < 2) return;
    const std::string name = fs::ChangeFileExt(zipName_, ".zfc");
    std::unique_ptr<writer::OutputFile> file;
    try {
        file = std::make_unique<writer::OutputFile>(name);
    } catch (const Exception&) {
        host().MessageBox("Error", "Unable to create Zip Configuration File to disk", Buttons::Ok);
        return;
    }
    try {
        file->Put(companion_.data(), companion_.size());
        file->Commit();
    } catch (const Exception&) {
        file->Abort();
        host().MessageBox("Error", "Unable to save Zip Configuration File to disk", Buttons::Ok);
    }
}

void TVCLZip::InstallNewDirectory() {
    CloseZipFile(true);
    DiscardDirectory();
    ecrec_.Assign(*newEcrec_);
    ecrec_.PendingChange = false;
    const int64_t size = multi_ ? volumes_->Current().Size() : out_->Size();
    ecrec_.CommentPosition = static_cast<uint32_t>(size - ecrec_.CommentLength);
    files_ = std::move(archiveList_);
    zipStamp_ = CurrentStamp();
    curDisk_ = multi_ ? volumes_->Disk() : 0;
    numDisks_ = curDisk_ + 1;
    recovery_ = false;
    SortMode = savedSortMode_;
    if (SortMode == ByName) {
        sortedFiles_ = std::move(nameList_);
    } else {
        nameList_.reset();
        RebuildView();
    }
    if (multi_) WriteCompanion();
}

void TVCLZip::AbandonOutput() noexcept {
    source_.reset();
    carrySource_.reset();
    if (dataTemp_) dataTemp_->Abort();
    dataTemp_.reset();
    if (out_) out_->Abort();
    if (volumes_) volumes_->Abort();
    nameList_.reset();
    archiveList_.reset();
    // The old directory is still the loaded one; give it back its view.
    SortMode = savedSortMode_;
    try {
        if (files_) RebuildView();
    } catch (...) {
    }
}

void TVCLZip::RestoreAfterZip() noexcept {
    try {
        deflater_.ReleaseBuffers();
    } catch (...) {
    }
    ahead_.clear();
    turn_ = SIZE_MAX;
    SortMode = savedSortMode_;
    KeepZipOpen = savedKeepZipOpen_;
    nameList_.reset();
    archiveList_.reset();
    newEcrec_.reset();
    source_.reset();
    carrySource_.reset();
    dataTemp_.reset();
    out_.reset();
    volumes_.reset();
    companion_.clear();
    current_ = nullptr;
    encrypting_ = false;
    try {
        CloseZipFile(false);
    } catch (...) {
    }
    busy_ = false;
    FilesList.clear();
}

void TVCLZip::DisposeSources() {
    if (!Dispose) return;
    const std::vector<std::string> sources = std::move(disposeList_);
    disposeList_.clear();
    for (const std::string& name : sources) {
        bool skip = false;
        if (OnDisposeFile) OnDisposeFile(this, name, skip);
        if (!skip) fs::DeleteFile(name);
    }
}

}  // namespace archive
