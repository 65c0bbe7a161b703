// TVCLZip's properties, their couplings, Assign, the ZipName setter and the public Zip call.
// The operation itself is in zip_operation.cpp, the merge of an old archive in merge.cpp, one file's
// entry in per_file_step.cpp and the input/output routines in entry_io.cpp.
#include "archive/writer/vcl_zip.h"


#include "archive/errors.h"
#include "archive/writer/carry_over.h"
#include "archive/writer/output_file.h"
#include "archive/writer/volume_set.h"

namespace archive {

TVCLZip::TVCLZip(Host* host) : TVCLUnZip(host) {
    // The reader's multi-volume fields follow MultiZipInfo from the start.
    TVCLUnZip::SetMultiMode(multiZipInfo_.MultiMode);
    TVCLUnZip::SetCheckDiskLabels(multiZipInfo_.CheckDiskLabels);
}

TVCLZip::~TVCLZip() = default;

void TVCLZip::SetStorePaths(bool value) {
    if (value == storePaths_) return;
    storePaths_ = value;
    if (!value) {
        SetRelativePaths(false);
        SetStoreVolumes(false);
    }
}

void TVCLZip::SetRelativePaths(bool value) {
    if (value == relativePaths_) return;
    relativePaths_ = value;
    if (value) {
        SetStorePaths(true);
        Recurse = true;
    }
}

void TVCLZip::SetStoreVolumes(bool value) {
    if (value == storeVolumes_) return;
    storeVolumes_ = value;
    if (value) SetStorePaths(true);
}

void TVCLZip::SetMultiZipInfo(const TMultiZipInfo& value) {
    multiZipInfo_.Assign(value);
    TVCLUnZip::SetMultiMode(value.MultiMode);
    TVCLUnZip::SetCheckDiskLabels(value.CheckDiskLabels);
}

void TVCLZip::SetMultiMode(TMultiMode value) {
    multiZipInfo_.MultiMode = value;
    TVCLUnZip::SetMultiMode(value);
}

void TVCLZip::SetCheckDiskLabels(bool value) {
    multiZipInfo_.CheckDiskLabels = value;
    TVCLUnZip::SetCheckDiskLabels(value);
}

void TVCLZip::Assign(const TVCLZip& source) {
    if (&source == this) return;
    TVCLUnZip::Assign(source);
    PackLevel = source.PackLevel;
    Recurse = source.Recurse;
    Dispose = source.Dispose;
    // The plain fields, not the setters: the source's combination is already consistent.
    storePaths_ = source.storePaths_;
    relativePaths_ = source.relativePaths_;
    storeVolumes_ = source.storeVolumes_;
    ZipAction = source.ZipAction;
    SetMultiZipInfo(source.multiZipInfo_);
    Store83Names = source.Store83Names;
    TempPath = source.TempPath;
    SkipIfArchiveBitNotSet = source.SkipIfArchiveBitNotSet;
    ResetArchiveBitOnZip = source.ResetArchiveBitOnZip;
    ExcludeList = source.ExcludeList;
    NoCompressList = source.NoCompressList;
    AddDirEntriesOnRecurse = source.AddDirEntriesOnRecurse;
    VerifyArchive = source.VerifyArchive;
    CarryOverFrom = source.CarryOverFrom;
    CompressEveryFile = source.CompressEveryFile;
    NoteMaking = source.NoteMaking;
    OnStartZip = source.OnStartZip;
    OnStartZipInfo = source.OnStartZipInfo;
    OnEndZip = source.OnEndZip;
    OnDisposeFile = source.OnDisposeFile;
    OnDeleteEntry = source.OnDeleteEntry;
    OnNoSuchFile = source.OnNoSuchFile;
    OnZipComplete = source.OnZipComplete;
    OnUpdate = source.OnUpdate;
}

void TVCLZip::SetZipName(const std::string& value) {
    if (CompareText(value, zipName_) == 0) return;
    if (ecrec_.PendingChange) {
        // The changed comments live only in memory: store them in the archive they belong to before
        // the component lets go of it.
        FilesList.clear();
        RunZip();
        ecrec_.PendingChange = false;
    }
    TVCLUnZip::SetZipName(value);
}

int TVCLZip::Zip() {
    const int count = RunZip();
    if (OnZipComplete) OnZipComplete(this, count);
    return count;
}

void TVCLZip::SetArchiveComment(const std::string& comment) {
    ecrec_.SetComment(comment);
    ecrec_.PendingChange = true;
}

void TVCLZip::SetEntryComment(int index, const std::string& comment) {
    TSortedZip* view = View();
    if (!view || index < 0 || index >= view->Count()) throw EListError(Format("Index %d is out of range", index));
    view->Items(index)->SetComment(comment.empty() ? std::nullopt : std::optional<std::string>(comment));
    ecrec_.PendingChange = true;
}

}  // namespace archive
