// TVCLUnZip: the non-visual component that opens a ZIP archive, loads its central directory into a list of
// TZipHeaderInfo entries, keeps that directory cached between calls, and extracts selected entries.
// It is the base of the writer TVCLZip, which inherits every property, event and operation here.
//
// States: no archive (ZipName empty or not yet read); directory loaded with the archive closed; directory
// loaded with the archive open (during an operation, or permanently with KeepZipOpen). A new ZipName goes
// back to the first state; a failed read clears everything, ZipName included.
//
// The directory is re-read only when the archive file changed since it was read. The calls run on the
// caller's thread and raise their events synchronously from inside; UnZip and TestArchive may decode
// entries ahead on worker threads (DecompressionThreads), which changes nothing the caller sees. Message
// boxes, the file dialogs of the setters, the busy cursor and the message pump go through the Host
// (archive/host.h).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <set>
#include <vector>

#include "archive/codec/crypt.h"
#include "archive/host.h"
#include "archive/records/date_time.h"
#include "archive/records/end_central.h"
#include "archive/records/sorted_zip.h"
#include "archive/records/zip_header_info.h"
#include "archive/streams/buffer_stream.h"
#include "archive/streams/stream.h"

namespace archive {

enum TUZOverwriteMode { Prompt = 0, Always = 1, Never = 2, ifNewer = 3, ifOlder = 4 };
enum TIncompleteZipMode { izAssumeMulti = 0, izAssumeBad = 1, izAssumeNotAZip = 2 };
enum TMultiMode { mmNone = 0, mmSpan = 1, mmBlocks = 2 };
enum TSkipReason { skBadPassword = 0, skNotOverwritten = 1, skOpenFailed = 2, skCreateFailed = 3 };

// Why an entry was skipped, as a kind, for callers that word their own reports: the name leads outside
// the destination or holds control characters, a folder on its way is a link leading out, its data
// overlaps another entry's, its folder or (for the file system) its name cannot be had, its method is
// not one we decode, a folder or a read-only file stands where it goes, it cannot be written, its
// rename failed, another file of its all-or-nothing extraction failed, or its password.
enum class TRefusal {
    None, UnsafeName, ControlCharacters, LinkLeadsOut, Overlap, FolderNotMade, NameTooLong, MethodNotSupported,
    FolderInTheWay, ReadOnlyTarget, CannotWrite, NotPlaced, PartUndone, Password
};

class TVCLUnZip;

// Event types. Sender first; answers come back through references.
using TStartUnzipInfo = std::function<void(TVCLUnZip* Sender, int NumFiles, int64_t TotalBytes, bool& StopNow)>;
using TFilePercentDone = std::function<void(TVCLUnZip* Sender, int Percent)>;
using TTotalPercentDone = std::function<void(TVCLUnZip* Sender, int Percent)>;
using TStartUnZipEvent = std::function<void(TVCLUnZip* Sender, int FileIndex, std::string& FName, bool& Skip)>;
using TEndUnZipEvent = std::function<void(TVCLUnZip* Sender, int FileIndex, const std::string& FName)>;
using TPromptForOverwrite =
    std::function<void(TVCLUnZip* Sender, bool& OverWriteIt, int FileIndex, std::string& FName)>;
using TSkippingFile = std::function<void(TVCLUnZip* Sender, TSkipReason Reason, const std::string& FName,
                                         int FileIndex, bool& Retry)>;
using TBadPassword = std::function<void(TVCLUnZip* Sender, int FileIndex, std::string& NewPassword)>;
using TBadCRC = std::function<void(TVCLUnZip* Sender, uint32_t CalcCRC, uint32_t StoredCRC, int FileIndex)>;
using TBadSize = std::function<void(TVCLUnZip* Sender, int64_t Decoded, int64_t Declared, int FileIndex)>;
using TIncompleteZip = std::function<void(TVCLUnZip* Sender, TIncompleteZipMode& IncompleteMode)>;
using TGetNextDisk = std::function<void(TVCLUnZip* Sender, int NextDisk, std::string& FName)>;
using TUnZipComplete = std::function<void(TVCLUnZip* Sender, int FileCount)>;
using TGetNextBuffer = std::function<void(TVCLUnZip* Sender, char*& Buffer, const std::string& FName,
                                          int AmountUsed, int BufferNum, bool& Quit)>;

class TVCLUnZip {
public:
    // host: message boxes, dialogs, cursor and message pump; nullptr uses NullHost().
    explicit TVCLUnZip(Host* host = nullptr);
    virtual ~TVCLUnZip();
    TVCLUnZip(const TVCLUnZip&) = delete;
    TVCLUnZip& operator=(const TVCLUnZip&) = delete;

    // ---- published properties ---------------------------------------------------------------------
    int ThisVersion() const { return 220; }
    void SetThisVersion(int) {}  // read-only in effect

    const std::string& ZipName() const { return zipName_; }
    // Same name ignoring case: nothing happens. A name ending with "?" opens the host's file dialog
    // (EUserCanceled "User canceled setting zip file name." when cancelled). Otherwise the loaded
    // directory is discarded and the archive closed.
    virtual void SetZipName(const std::string& value);

    const std::string& DestDir() const { return destDir_; }
    // "?" opens the host's folder dialog (EUserCanceled "User canceled Set Desination Directory");
    // one trailing '/' is removed.
    void SetDestDir(const std::string& value);

    const std::string& RootDir() const { return rootDir_; }
    // Empty clears; otherwise a trailing '/' is appended when missing.
    void SetRootDir(const std::string& value);

    TZipSortMode SortMode = ByNone;
    bool RecreateDirs = false;
    TUZOverwriteMode OverwriteMode = Prompt;
    std::vector<std::string> FilesList;
    bool DoAll = false;
    TIncompleteZipMode IncompleteZipMode = izAssumeMulti;
    bool KeepZipOpen = false;
    bool DoProcessMessages = true;
    bool RetainAttributes = true;
    bool ReplaceReadOnly = false;
    bool FlushFilesOnClose = false;
    // Every selected entry is first decoded into a scratch file beside its target; only when all of them
    // proved whole (CRC and size) are they renamed over their targets. When any selected entry fails
    // (damaged data, a refused name, a target that cannot be written), none of the targets changes, and
    // the entries that were good raise no OnEndUnZip and are not counted.
    bool AllOrNothing = false;
    // Worker threads that decode entries ahead during UnZip and TestArchive (0: one per core, at most
    // 16; 1: none, everything on the caller's thread). Events, files and results are the same for every
    // value; an extraction holds at most 16 MiB of output decoded ahead of the file being written.
    void SetDecompressionThreads(unsigned threads) { decompressionThreads_ = threads; }
    unsigned DecompressionThreads() const;

    // ---- published events -------------------------------------------------------------------------
    TStartUnzipInfo OnStartUnZipInfo;
    TFilePercentDone OnFilePercentDone;
    TTotalPercentDone OnTotalPercentDone;
    TStartUnZipEvent OnStartUnZip;
    TEndUnZipEvent OnEndUnZip;
    TPromptForOverwrite OnPromptForOverwrite;
    TSkippingFile OnSkippingFile;
    TBadPassword OnBadPassword;
    TBadCRC OnBadCRC;
    // An entry whose CRC matched but whose decoded length differs from its declared size. Without a
    // handler it goes to OnBadCRC, like any other damaged entry.
    TBadSize OnBadSize;
    TIncompleteZip OnInCompleteZip;
    TGetNextDisk OnGetNextDisk;  // the constructor installs the built-in disk request
    TUnZipComplete OnUnZipComplete;
    TGetNextBuffer OnGetNextBuffer;  // published, never raised

    // ---- public members ---------------------------------------------------------------------------
    std::string Password;
    virtual TMultiMode MultiMode() const { return multiMode_; }
    virtual void SetMultiMode(TMultiMode value) { multiMode_ = value; }
    virtual bool CheckDiskLabels() const { return checkDiskLabels_; }
    virtual void SetCheckDiskLabels(bool value) { checkDiskLabels_ = value; }

    // Entries loaded (0 when no directory is loaded).
    int Count() const;
    // By position in the current view; EListError "Index %d is out of range" outside 0..Count-1.
    std::string EntryName(int index);
    TDateTime EntryDateTime(int index);
    std::string EntryComment(int index);
    std::string ArchiveComment();
    // The whole header of an entry (sizes, method, CRC, attributes), same index rule.
    const TZipHeaderInfo& EntryInfo(int index) const;

    // Loads the directory if needed (see the .cpp for the rules on incomplete archives).
    void ReadCentralDirectory();
    // Extracts the entries FilesList selects (every entry with DoAll); returns the number written with a
    // matching CRC. FilesList is empty afterwards in every case.
    int UnZip();
    // Decodes the entries FilesList selects (every entry with DoAll) and checks their CRC without writing
    // anything: the same selection, passwords, events and counts as UnZip, with FName the stored name.
    int TestArchive();
    // Why the entry last refused through OnSkippingFile with skCreateFailed was refused, in words
    // ("its name leads outside the destination folder", ...); valid during that event.
    const std::string& SkipDetail() const { return skipDetail_; }
    // The same as a kind (TRefusal::None outside the event, and for a file merely not overwritten).
    TRefusal SkipKind() const { return skipKind_; }

    void Assign(const TVCLUnZip& source);

    Host& host() const { return *host_; }
    void SetHost(Host* host);

    // The component's message text (captions and texts of its message boxes).
    const std::string& MessageText() const { return messageText_; }

protected:
    // ---- directory handling shared with the writer ------------------------------------------------
    // Opening and refreshing: open the archive when it is not open, re-read the directory when none is
    // loaded or the archive changed since it was read.
    void OpenAndRefresh();
    // Reads the central directory from the open archive (locating the end record, the .zfc companion,
    // the incomplete-archive modes, the recovery scan, multi-disk requests).
    void ReadZipDirectory();
    // Closes the archive stream; unless `force`, only when KeepZipOpen is False.
    void CloseZipFile(bool force);
    // Clearing the component: close even with KeepZipOpen, discard the directory, clear the end record
    // and recovery flag, date stamp 0, one disk, mmNone, ZipName empty.
    void ClearZip();
    // Frees the entry view (when separate) and the master list.
    void DiscardDirectory();
    // The entry view for SortMode: the master list for ByNone, else a non-owning sorted copy.
    void RebuildView();
    // Switches to 1-based disk n of a multi-disk archive (EUserCanceled "User canceled loading new disk.").
    void RequestDisk(int n);
    // Reads an entry's file comment / the archive comment into memory when not yet there.
    void LoadEntryComment(TZipHeaderInfo& entry);
    void LoadArchiveComment();
    // The archive's current change stamp (last-write time, and size), compared with zipStamp_.
    struct ArchiveStamp {
        int64_t mtimeNs = 0;
        int64_t size = -1;
        bool operator==(const ArchiveStamp&) const = default;
    };
    ArchiveStamp CurrentStamp() const;

    TSortedZip* View() const { return sortedFiles_ ? sortedFiles_.get() : files_.get(); }

    // The disk request installed by the constructor: prompts for spanned disks, otherwise names disk n
    // of a block set X.zip -> X.00n.
    static void BuiltInGetNextDisk(TVCLUnZip* Sender, int NextDisk, std::string& FName);

    Host* host_;
    std::string zipName_;
    std::string destDir_;
    std::string rootDir_;
    std::unique_ptr<TLFNFileStream> zipStream_;  // the archive, or none
    std::unique_ptr<TSortedZip> files_;          // master list in archive order (owning), or none
    std::unique_ptr<TSortedZip> sortedFiles_;    // separate view when SortMode is not ByNone (non-owning)
    TEndCentral ecrec_;
    ArchiveStamp zipStamp_;                      // taken when the directory was last read
    int curDisk_ = 0;
    int numDisks_ = 1;
    TZipHeaderInfo work_;                        // the entry being extracted
    bool recovery_ = false;                      // the directory came from the recovery scan
    std::set<int64_t> sharedOffsets_;            // disk << 32 | offset of local headers named twice
    std::string skipDetail_;
    TRefusal skipKind_ = TRefusal::None;
    codec::TraditionalCipher cipher_;
    uint32_t runningCrc_ = 0xFFFFFFFF;
    std::string messageText_;
    TMultiMode multiMode_ = mmNone;
    bool checkDiskLabels_ = true;
    std::string lastDiskName_;                   // multi-disk: the file that held the end record
    unsigned decompressionThreads_ = 0;

private:
    struct Extraction;
    friend struct Extraction;
    void ReadZipDirectoryOnce();
    // Recovery scan over the local headers; false when no local header signature was found.
    bool RecoveryScan();
    // Reads the central records of the directory from `dir` (archive or companion); in recovery mode
    // they only complete the scanned entries of the same name.
    void ReadCentralRecords(TStream*& dir, bool companion);
    // Runs the recovery scan, or clears the component and raises EBadZipFile when it fails.
    void RecoverOrFail();
    // Raised on a missing or broken directory: OnInCompleteZip, then the mode decides.
    void NotifyIncomplete();
    int RunExtraction(bool testOnly);
};

}  // namespace archive
