// The shape of one extraction run of TVCLUnZip (UnZip and TestArchive), shared by the files that carry it
// out: unzip.cpp (selection, decoding ahead, refusals, renames and the call) and extraction_phases.cpp
// (one entry, phase by phase). Private to the reader.
#pragma once

#include <climits>
#include <ctime>

#include <memory>
#include <string>
#include <vector>

#include "archive/fs/fs.h"
#include "archive/fs/scratch.h"
#include "archive/reader/decode_ahead.h"
#include "archive/reader/entry_io.h"
#include "archive/reader/vcl_unzip.h"
#include "archive/records/zip_header_info.h"

namespace archive::reader::extraction {

inline constexpr uint16_t kStrongEncryptionFlag = 0x0040;
inline constexpr uint32_t kCryptHeaderSize = 12;
inline constexpr const char* kLinkLeadsOut = "a folder on its way is a symbolic link that leads outside the destination folder";
inline constexpr const char* kNameTooLong = "its name is too long for the file system";
inline constexpr const char* kNotPlaced = "it could not be put in its place";
inline constexpr const char* kPartUndone = "another file of this all-or-nothing extraction could not be put in its place";

// An entry decoded whole into its scratch file, waiting to be renamed over its target.
struct StagedEntry {
    fs::ScratchFile scratch;
    fs::HeldFolder folder;  // where the target is
    std::string target;     // its name in that folder
    std::string fname;      // as the events tell it
    int index = 0;
    uint32_t attributes = 0;
    bool readOnly = false;  // made read-only once in place (the mark goes first)
};

// Whether a name (in a folder whose file system takes names of up to `nameMax` bytes) and its whole
// path can be had at all.
inline bool NameFits(const std::string& name, const std::string& path, long nameMax) {
    return static_cast<long>(name.size()) <= nameMax && path.size() < PATH_MAX;
}


}  // namespace archive::reader::extraction

namespace archive {

struct TVCLUnZip::Extraction {
    TVCLUnZip& z;
    const bool testOnly;
    codec::DecodeWorkspacePtr workspace = codec::MakeDecodeWorkspace();
    std::vector<uint8_t> inBuffer = std::vector<uint8_t>(reader::kBlockSize + 1);
    std::vector<uint8_t> outBuffer = std::vector<uint8_t>(reader::kBlockSize + 1);
    fs::HeldFolder root;  // DestDir, held (its path as the disk spells it: "" or ending with '/')
    // The folder of the last entry below DestDir, held, and its relative path.
    std::string lastRelative;
    fs::HeldFolder lastFolder;
    // The scratch files of the run: named after one locked and marked file per folder (fs/scratch.h).
    fs::ScratchRun scratchRun;
    // The archive read by position through a window, for a single archive (else its stream, disk by disk).
    std::unique_ptr<reader::ArchiveWindow> window;
    TStream* Source() { return window ? static_cast<TStream*>(window.get()) : z.zipStream_.get(); }
    // The last MS-DOS time converted, and what it gave (most entries of an archive share a few times).
    uint32_t lastDosTime = 0;
    std::time_t lastTime = -1;
    bool lastTimeKnown = false;
    std::time_t TimeOf(uint32_t dosTime);
    int numFiles = 0;
    int64_t totalBytes = 0;
    int64_t totalOut = 0;
    int written = 0;
    // AllOrNothing: the entries staged so far, and whether any selected entry failed.
    std::vector<reader::extraction::StagedEntry> staged;
    bool spoiled = false;

    // The data of the entry being processed.
    int64_t dataStart = 0;
    uint32_t localTime = 0;  // as the local header has it, for the password check of bit-3 entries

    // Entries decoded ahead on worker threads (none with one thread), and the next entry to look at.
    std::unique_ptr<reader::DecodeAhead> ahead;
    int aheadNext = 0;

    Extraction(TVCLUnZip& component, bool test) : z(component), testOnly(test) {}

    // Hands the entries from `from` on to the workers while there is room for them.
    void DecodeAheadFrom(int from);
    // Whether a worker may decode the entry ahead, as far as its central record tells: a plain entry,
    // deflated or stored, not encrypted, larger than one block.
    bool AheadCandidate(const TZipHeaderInfo& entry) const;
    // What decoding a candidate needs, when a worker may decode it ahead: its name usable, its data
    // apart from every other entry's.
    bool AheadEligible(const TZipHeaderInfo& entry, reader::AheadInputs& inputs);
    // Decodes the entry being processed: its job replayed when there is one, else here.
    reader::EntryDecode Decode(int index, bool encrypted, uint32_t compressed, reader::EntryOutput& output, uint32_t& crc,
                       uint64_t& bytes);

    void Select();
    // Where every local header (and the central directory) starts, for Overlaps().
    void CheckSpans();
    // Whether the entry's data (dataStart read) runs into the next local header or the directory, or
    // another central record names the same local header. The entry reaching into another's is the
    // one refused: each byte then belongs to one accepted entry at most, so nothing is decoded twice,
    // and a header damaged in one entry does not take the entry after it along.
    bool Overlaps(const TZipHeaderInfo& entry, int64_t start) const;
    std::vector<int64_t> headerOffsets;
    int64_t archiveSize = 0;
    // Skip reason 3 with its reason in words (SkipDetail) for an entry; folder entries are not counted.
    void Refuse(TRefusal kind, const std::string& why, const std::string& fname, int index, bool folderEntry);
    // One entry, in its phases (extraction_phases.cpp): judged (refused, or a folder entry done);
    // its target chosen and its folder made; its output opened (password, overwrite rule, scratch file);
    // its data decoded; and concluded (staged or put in place, or told as bad). Each phase but the
    // decoding may end the entry; Process runs them in order.
    struct EntryWork;
    struct Decoded {
        bool failed = false;  // nothing usable came out, whatever the CRC says
        uint32_t crc = 0;
        uint64_t bytes = 0;
    };
    void Process(int index, bool& retry);
    bool JudgeEntry(EntryWork& w);
    bool ChooseTarget(EntryWork& w);
    bool OpenOutput(EntryWork& w);
    Decoded DecodeData(EntryWork& w);
    void Conclude(EntryWork& w, const Decoded& decoded, bool& retry);
    bool ReadLocalHeader(const TZipHeaderInfo& entry);
    bool PasswordAccepted(int index);
    bool OverwriteAllowed(int index, std::string& fname, bool exists);
    void Skip(TSkipReason reason, const std::string& fname, int index, uint32_t size, TRefusal kind = TRefusal::None);
    // Renames an entry's scratch file over its target; false (and skip reason 3) when that fails.
    bool PutInPlace(reader::extraction::StagedEntry& entry);
    // The last steps of an entry in place: read-only when it should be, the scratch file let go.
    static void Finish(reader::extraction::StagedEntry& entry);
    // AllOrNothing, after the last entry: every staged file in place, or none.
    void CommitStaged();
    // Reads n bytes of the archive, continuing on the next disk of a multi-disk set.
    void ReadArchive(uint8_t* data, size_t n);
    TStream* NextDisk();
};

}  // namespace archive
