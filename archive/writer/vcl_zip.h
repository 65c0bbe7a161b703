// TVCLZip: the non-visual component that writes ZIP archives. It derives from the reader TVCLUnZip and
// keeps using its directory handling: the archive being rebuilt is read through it, and after a
// successful Zip the directory the component holds is that of the new archive.
//
// One Zip call: expand FilesList into files and folder entries; when ZipName exists, merge the old
// archive (carry entries over unchanged, replace or keep those that match a listed file); add the rest
// (local header, data, the local header rewritten in place with CRC and sizes); write the central
// directory and the end record. Events run synchronously on the caller's thread, in this order:
// OnNoSuchFile (expansion), OnUpdate and the per-file events of replacements (merge), OnStartZipInfo,
// per file OnStartZip, OnFilePercentDone/OnTotalPercentDone (one each per piece read), OnEndZip or
// OnSkippingFile, then OnDisposeFile per source once the archive is in place, last OnZipComplete.
//
// What this writer guarantees beyond that:
//  - the archive is written to a temporary file in the folder of ZipName and renamed to ZipName only
//    after it is complete and flushed to the disk. A failure of any kind (an exception, a full disk, a
//    cancel) deletes the temporary file and leaves an existing archive exactly as it was;
//  - every write is checked, the final flush included: a full disk raises ENotEnoughRoom;
//  - with VerifyArchive (the default) the flushed archive is read back from the disk before it takes its
//    name: every entry must decode with its CRC and size, and the directory must list exactly what was
//    written; otherwise EArchiveCheckFailed, and the archive is treated like any other failure;
//  - a source file of 4 GiB or more, or an archive that would pass 4 GiB - 1 bytes, raises EFileTooLarge
//    instead of being written with truncated 32-bit fields.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/codec/crypt.h"
#include "archive/codec/deflate.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/end_central.h"
#include "archive/records/sorted_zip.h"
#include "archive/records/zip_header_info.h"
#include "archive/select/file_list.h"
#include "archive/streams/stream.h"
#include "archive/writer/multi_zip_info.h"

namespace archive {

namespace writer {
class CarryOverSource;
class OutputFile;
class VolumeSet;
}  // namespace writer

enum TUpdateAction { uaReplacing = 0, uaKeeping = 1 };

class TVCLZip;

// Event types. Sender first; answers come back through references.
using TStartZipEvent =
    std::function<void(TVCLZip* Sender, const std::string& FName, TZipHeaderInfo& ZipHeader, bool& Skip)>;
using TStartZipInfo = std::function<void(TVCLZip* Sender, int NumFiles, int64_t TotalBytes,
                                         TEndCentral& EndCentralRecord, bool& StopNow)>;
// Sizes are 64-bit here so that an archive near 4 GiB reports its true size.
using TEndZipFileEvent = std::function<void(TVCLZip* Sender, const std::string& FName, int64_t UncompressedSize,
                                            int64_t CompressedSize, int64_t CurrentZipSize)>;
using TDisposeEvent = std::function<void(TVCLZip* Sender, const std::string& FName, bool& Skip)>;
using TDeleteEvent = std::function<void(TVCLZip* Sender, const std::string& FName, bool& Skip)>;
using TNoSuchFileEvent = std::function<void(TVCLZip* Sender, const std::string& FName)>;
using TZipComplete = std::function<void(TVCLZip* Sender, int FileCount)>;
using TUpdateEvent = std::function<void(TVCLZip* Sender, TUpdateAction UDAction, int FileIndex)>;

class TVCLZip : public TVCLUnZip, private codec::DeflateIO {
public:
    explicit TVCLZip(Host* host = nullptr);
    ~TVCLZip() override;

    // ---- published properties ---------------------------------------------------------------------
    int PackLevel = 6;  // 0 stores every file; 1..9 Deflate levels (values outside are clamped)
    bool Recurse = false;
    bool Dispose = false;  // delete each source once the archive is complete and in place

    // StorePaths off also turns RelativePaths and StoreVolumes off; RelativePaths on also turns StorePaths
    // and Recurse on; StoreVolumes on also turns StorePaths on. Each only when the value changes.
    bool StorePaths() const { return storePaths_; }
    void SetStorePaths(bool value);
    bool RelativePaths() const { return relativePaths_; }
    void SetRelativePaths(bool value);
    bool StoreVolumes() const { return storeVolumes_; }
    void SetStoreVolumes(bool value);

    TZipAction ZipAction = zaUpdate;

    // The setter copies. The reader's MultiMode and CheckDiskLabels are those of MultiZipInfo.
    TMultiZipInfo& MultiZipInfo() { return multiZipInfo_; }
    const TMultiZipInfo& MultiZipInfo() const { return multiZipInfo_; }
    void SetMultiZipInfo(const TMultiZipInfo& value);

    bool Store83Names = false;  // no short names on this platform: acts as off
    // Folder for the scratch files of multi-volume writing (empty or missing: the system's). The archive
    // itself is always written beside ZipName, so that putting it in place is one atomic rename.
    std::string TempPath;
    bool SkipIfArchiveBitNotSet = false;
    bool ResetArchiveBitOnZip = false;
    std::vector<std::string> ExcludeList;
    std::vector<std::string> NoCompressList;
    bool AddDirEntriesOnRecurse = false;
    // Read the finished archive back before it is put in place (single archives; volume sets are not).
    bool VerifyArchive = true;
    // An earlier archive whose unchanged entries are copied instead of compressed again (see
    // writer/carry_over.h): a file whose stored name and size equal an entry's that this writer made at
    // this PackLevel is compared with the entry as it decodes, and where every byte is equal the entry's
    // compressed data is copied; the headers are the file's, as always. The archive is byte for byte the
    // one compressing every file would make. Empty, or an archive that cannot be read: none. Not used
    // with a password or for a multi-volume set.
    std::string CarryOverFrom;
    // Compress every file even with CarryOverFrom set.
    bool CompressEveryFile = false;
    // A new archive says in its comment how its entries were compressed (writer::MakingNote), so that a
    // later Zip may carry them over; only when it gets no comment of its own.
    bool NoteMaking = false;

    // ---- published events -------------------------------------------------------------------------
    TStartZipEvent OnStartZip;
    TStartZipInfo OnStartZipInfo;
    TEndZipFileEvent OnEndZip;
    TDisposeEvent OnDisposeFile;
    TDeleteEvent OnDeleteEntry;  // published, never raised
    TNoSuchFileEvent OnNoSuchFile;
    TZipComplete OnZipComplete;
    TUpdateEvent OnUpdate;

    // ---- reader members the writer overrides ------------------------------------------------------
    TMultiMode MultiMode() const override { return multiZipInfo_.MultiMode; }
    void SetMultiMode(TMultiMode value) override;
    bool CheckDiskLabels() const override { return multiZipInfo_.CheckDiskLabels; }
    void SetCheckDiskLabels(bool value) override;

    // A name equal to the current one (ignoring case) changes nothing. Otherwise, when a comment change is
    // pending, the current archive is first rebuilt (FilesList emptied, no OnZipComplete) so the changed
    // comments are stored; then the reader's setter runs.
    void SetZipName(const std::string& value) override;

    // ---- operations -------------------------------------------------------------------------------
    // Runs the whole operation and raises OnZipComplete with the number of entries added (replaced and
    // new ones; carried-over entries do not count). An exception reaches the caller without
    // OnZipComplete, with the old archive untouched and no temporary file left behind.
    int Zip();

    // Changes of the loaded directory's comments; the next rebuild (at the latest the next change of
    // ZipName) writes them.
    void SetArchiveComment(const std::string& comment);
    void SetEntryComment(int index, const std::string& comment);

    // Whether the archive at `archivePath` holds exactly the files that Zip would store now from
    // FilesList with the current settings: an entry of the same stored name for each of them and no other
    // entry, each decoding whole to exactly the file's bytes (its time and attributes are not compared).
    // FilesList stays as it is; no event is raised. False when the archive cannot be read. A cancel
    // request is honoured (EUserCanceled); a file that cannot be read makes the answer false.
    bool ArchiveHoldsFiles(const std::string& archivePath);

    // Asks the running operation to stop: the next write raises EUserCanceled "User Aborted Operation".
    void CancelOperation() { cancelRequested_ = true; }
    bool Busy() const { return busy_; }

    using TVCLUnZip::Assign;
    void Assign(const TVCLZip& source);

    // ---- the input and output routines (the stored path and the compressor use them) --------------
    // Up to count bytes of the current file; folds them into the CRC and raises the progress events.
    unsigned ReadEntryData(uint8_t* buffer, unsigned count) override;
    // Encrypts (with a password), writes, checks the write, lets the host pump its messages and honours
    // a cancel request.
    void WriteArchiveData(const uint8_t* buffer, size_t n) override;
    // The compressor's read-ahead: ReadEntryData split into the read and the rest (see DeflateIO).
    bool CanReadAhead() const override { return true; }
    uint64_t ExpectedEntrySize() const override { return current_ ? current_->UncompressedSize : 0; }
    size_t FetchEntryData(uint8_t* buffer, size_t count) override;
    void AccountEntryData(const uint8_t* buffer, unsigned n) override;
    void WaitingForWorkers() override;

    // Worker threads of the compressor (0: one per core, 1: none). Archives are the same for every value.
    void SetCompressionThreads(unsigned threads) { deflater_.SetThreads(threads); }
    // Test hook: files whose data a worker compressed ahead of their turn, played back (since construction).
    unsigned FilesCompressedAhead() const { return deflater_.AheadReplays(); }
    // Test hook: files of the last Zip whose entries were carried over from CarryOverFrom.
    unsigned FilesCarriedOver() const { return carried_; }

private:
    // zip_operation.cpp
    int RunZip();
    SelectionSettings Settings() const;
    void ExpandList();
    void OpenOutput();
    void TakeOverEndRecord();
    void AddFiles();
    void WriteCentralDirectory();
    void PutInPlace();
    void CheckWritten();
    void WriteCompanion();
    void InstallNewDirectory();
    void AbandonOutput() noexcept;
    void RestoreAfterZip() noexcept;
    void DisposeSources();
    void AddEntry(std::unique_ptr<TZipHeaderInfo> entry, const std::string* source);

    // merge.cpp
    void MergeExisting();
    void CarryOver(std::unique_ptr<TZipHeaderInfo> entry);

    // compress_ahead.cpp
    // Before the turn of FilesList[current]: small files after it go to the compressor's workers.
    void PlanAhead(size_t current);
    // At a file's turn: its data compressed ahead and played back, when it still reads the same.
    bool DeflateAhead(const std::string& fname, int level, codec::DeflateResult& result);

    // carry_over_step.cpp
    // At a file's turn, after its local header: its entry's data copied from the carry-over source when
    // the file equals a candidate entry there (compressed with `method`); false when it does not, and
    // the file is then read again from its start without showing its progress twice.
    bool CarryOver(TZipHeaderInfo& entry, uint16_t method);
    // The stored name Zip gives the file (or folder, ending in '/') `fname` with the current settings.
    std::string StoredNameOf(const std::string& fname) const;

    // per_file_step.cpp
    // The entry's data stored or deflated (ahead of its turn where a worker did it), method and flags set.
    void CompressEntryData(const std::string& fname, TZipHeaderInfo& entry);
    bool ZipOneFile(const std::string& fname, TZipHeaderInfo& entry);
    bool OpenSource(const std::string& fname, int64_t& size);
    void WriteEncryptionHeader();
    void StoreData();
    void FinishEntryData(TZipHeaderInfo& entry, int64_t headerOffset);
    std::string LocalHeaderBytes(TZipHeaderInfo& entry, int64_t offset);
    std::string ScratchFolder() const;

    // entry_io.cpp
    void PutRaw(const void* data, size_t n);
    void PumpMessages();
    int64_t ReadSource(uint8_t* buffer, int64_t count);
    int64_t ArchivePosition() const;
    int64_t ArchiveSize() const;
    void CopyDataAcrossVolumes();

    // ---- settings with couplings --------------------------------------------------------------------
    bool storePaths_ = false;
    bool relativePaths_ = false;
    bool storeVolumes_ = false;
    TMultiZipInfo multiZipInfo_;

    // ---- state of one Zip call --------------------------------------------------------------------
    codec::Deflater deflater_;
    struct Planned {
        std::string fname;
        int level = 0;
        std::shared_ptr<codec::AheadJob> job;
    };
    std::map<size_t, Planned> ahead_;  // by index in FilesList
    size_t aheadNext_ = 0;             // the next index PlanAhead looks at
    size_t turn_ = SIZE_MAX;           // index in FilesList of the file being added, if any
    bool fetchFailed_ = false;  // FetchEntryData: a read failed after handing out some bytes
    std::unique_ptr<writer::OutputFile> out_;        // single-file archive
    std::unique_ptr<writer::VolumeSet> volumes_;     // multi-volume archive
    std::unique_ptr<writer::OutputFile> dataTemp_;   // multi-volume: the current file's data
    std::string companion_;                  // multi-volume: the directory and end record for "<name>.zfc"
    SelectionSettings settings_;             // the selection settings, taken when Zip starts
    bool multi_ = false;
    bool updating_ = false;
    bool busy_ = false;
    bool cancelRequested_ = false;
    std::unique_ptr<TSortedZip> nameList_;     // ByName, refuses duplicates, not owning
    std::unique_ptr<TSortedZip> archiveList_;  // ByNone, archive order, owning
    std::unique_ptr<TEndCentral> newEcrec_;
    TZipHeaderInfo* current_ = nullptr;       // the entry being written
    std::unique_ptr<TFileStream> source_;     // its source file
    uint32_t crc_ = 0xFFFFFFFF;
    int64_t fileBytes_ = 0;     // per-file count for OnFilePercentDone (grows only with a handler)
    int64_t entryRead_ = 0;     // bytes of the current file actually read
    int64_t entryWritten_ = 0;  // bytes of the current entry's data written
    int64_t credited_ = 0;      // bytes of the current file whose progress a comparison already showed
    std::unique_ptr<writer::CarryOverSource> carrySource_;
    unsigned carried_ = 0;
    int64_t bytesToDo_ = 0;
    int64_t bytesDone_ = 0;
    int64_t bytesWritten_ = 0;
    int lastTotalPercent_ = -1;  // last figure OnTotalPercentDone was given in this operation
    int added_ = 0;
    std::vector<std::string> disposeList_;
    TZipSortMode savedSortMode_ = ByNone;
    bool savedKeepZipOpen_ = false;
    bool encrypting_ = false;
    codec::TraditionalCipher encryptor_;
    std::vector<uint8_t> scratch_;
};

}  // namespace archive
