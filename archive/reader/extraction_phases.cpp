// One entry of an extraction, phase by phase: judge it, choose its target, open its output, decode its
// data, conclude. See extraction.h for the run they belong to and unzip.cpp for what each promises
// (nothing written outside DestDir, a target replaced only by a whole entry, all or nothing).
#include <memory>
#include <string>

#include "archive/errors.h"
#include "archive/reader/destination.h"
#include "archive/reader/extraction.h"
#include "archive/records/date_time.h"
#include "archive/streams/buffer_stream.h"

namespace archive {

using namespace reader::extraction;
using reader::EntryDecode;
using reader::EntryOutput;

// What the phases of one entry hand on to each other.
struct TVCLUnZip::Extraction::EntryWork {
    EntryWork(int i, TZipHeaderInfo& e) : index(i), entry(e) {}
    int index;
    TZipHeaderInfo& entry;
    bool folderEntry = false;
    std::string usable;     // the stored folder as used below DestDir (UsableFolder)
    std::string relative;   // the folder made below DestDir: `usable` with RecreateDirs, else ""
    fs::HeldFolder held;    // the target's folder, held once it is there
    std::string fname;      // the target as the events tell it
    std::string target;     // its name in `held`
    bool encrypted = false;
    fs::HeldFolder::Item existing;
    fs::ScratchFile temp;   // the output, beside the target
    std::unique_ptr<THandleStream> out;  // the scratch file's own descriptor: nothing buffered, nothing duplicated
};

void TVCLUnZip::Extraction::Process(int index, bool& retry) {
    retry = false;
    TZipHeaderInfo& entry = *z.View()->Items(index);
    z.work_ = entry;
    EntryWork w(index, entry);
    if (!JudgeEntry(w)) return;
    if (!ChooseTarget(w)) return;
    if (!OpenOutput(w)) return;
    const Decoded decoded = DecodeData(w);
    Conclude(w, decoded, retry);
}

// Refused (overlapping data, a name that leads out or holds control characters, a link on the way out,
// a method we do not read), or a folder entry made: the entry is done.
bool TVCLUnZip::Extraction::JudgeEntry(EntryWork& w) {
    const TZipHeaderInfo& entry = w.entry;
    w.folderEntry = entry.FileName().empty();
    if (!w.folderEntry) ReadLocalHeader(entry);

    if (!w.folderEntry && Overlaps(entry, dataStart)) {
        Refuse(TRefusal::Overlap, "its data overlaps another entry's (a possible zip bomb)", entry.StoredName(), w.index,
               w.folderEntry);
        return false;
    }
    const auto usable = reader::UsableFolder(z.rootDir_, entry.Directory(), entry.FileName());
    if (!usable) {
        const std::string why = reader::NameRefusal(z.rootDir_, entry.Directory(), entry.FileName());
        Refuse(why == reader::kNameHoldsControls ? TRefusal::ControlCharacters : TRefusal::UnsafeName, why,
               entry.StoredName(), w.index, w.folderEntry);
        return false;
    }
    w.usable = *usable;
    if (testOnly && w.folderEntry) return false;
    // The folder, held when it is there, checked for links that lead out of DestDir (made below).
    w.relative = z.RecreateDirs ? w.usable : std::string();
    if (!testOnly) {
        if (w.relative.empty()) {
            w.held = root;
        } else if (w.relative == lastRelative && lastFolder.Valid()) {
            w.held = lastFolder;
        } else if (fs::FolderBeneath(z.destDir_, w.relative, false, w.held) == fs::BeneathResult::LeavesDestination) {
            Refuse(TRefusal::LinkLeadsOut, kLinkLeadsOut,
                   reader::DestinationFolder(z.destDir_, z.RecreateDirs, w.usable) + entry.FileName(), w.index,
                   w.folderEntry);
            return false;
        }
    }
    if (w.folderEntry) {
        if (!w.held.Valid() && fs::FolderBeneath(z.destDir_, w.relative, true, w.held) != fs::BeneathResult::Ok)
            Refuse(TRefusal::FolderNotMade, "its folder cannot be made", w.held.Path(), w.index, true);
        return false;
    }
    if (!reader::DecodableMethod(entry.Method)) {
        // Not damaged, only of a kind we do not read: refused for that, before a password is asked for
        // (AES entries are encrypted too) or a folder is made.
        z.messageText_ = "Unknown Compression Method";
        z.host().MessageBox("Zip Error", z.messageText_, Buttons::Ok);
        Refuse(TRefusal::MethodNotSupported, reader::UnsupportedMethodText(entry.Method),
               testOnly ? entry.StoredName()
                        : reader::DestinationFolder(z.destDir_, z.RecreateDirs, w.usable) + entry.FileName(),
               w.index, false);
        return false;
    }
    return true;
}

// The caller's say (OnStartUnZip may skip the entry or name another file), a name the file system can
// take, and the folder made below DestDir without following links.
bool TVCLUnZip::Extraction::ChooseTarget(EntryWork& w) {
    w.fname = testOnly ? w.entry.StoredName() : w.held.Path() + w.entry.FileName();
    const std::string formed = w.fname;
    bool skip = false;
    if (z.OnStartUnZip) z.OnStartUnZip(&z, w.index, w.fname, skip);
    if (skip) return false;
    if (testOnly) return true;

    if (w.fname != formed) {
        // The caller chose another name: its folder is the caller's, taken as its path leads.
        const std::string parent = fs::ExtractFilePath(w.fname);
        if (!parent.empty() && !fs::DirectoryExists(parent)) fs::ForceDirectories(parent);
        w.held = fs::HeldFolder::Open(parent);
        w.target = fs::ExtractFileName(w.fname);
        if (!NameFits(w.target, w.fname, w.held.NameMax())) {
            Refuse(TRefusal::NameTooLong, kNameTooLong, w.fname, w.index, false);
            return false;
        }
        return true;
    }
    w.target = w.entry.FileName();
    // A name the file system cannot take is refused before its folder is made.
    if (!NameFits(w.target, w.fname, (w.held.Valid() ? w.held : root).NameMax())) {
        Refuse(TRefusal::NameTooLong, kNameTooLong, w.fname, w.index, false);
        return false;
    }
    if (!w.held.Valid() && !w.relative.empty()) {
        switch (fs::FolderBeneath(z.destDir_, w.relative, true, w.held)) {
            case fs::BeneathResult::Ok: break;
            case fs::BeneathResult::LeavesDestination:
                Refuse(TRefusal::LinkLeadsOut, kLinkLeadsOut, w.fname, w.index, false);
                return false;
            case fs::BeneathResult::CannotCreate:
                Refuse(TRefusal::FolderNotMade, "its folder cannot be made", w.fname, w.index, false);
                return false;
        }
    }
    if (!w.relative.empty()) {
        lastRelative = w.relative;
        lastFolder = w.held;
    }
    return true;
}

// The password, the overwrite rule, and the scratch file beside the target that takes the output: the
// target itself is only replaced once the entry proved whole.
bool TVCLUnZip::Extraction::OpenOutput(EntryWork& w) {
    TZipHeaderInfo& work = z.work_;
    w.encrypted = work.IsEncrypted() || (work.Flags & kStrongEncryptionFlag);
    if (w.encrypted && !PasswordAccepted(w.index)) {
        Skip(skBadPassword, w.entry.StoredName(), w.index, work.UncompressedSize);
        return false;
    }
    if (testOnly) return true;

    w.existing = w.held.Find(w.target);
    const std::string asked = w.fname;
    if (!OverwriteAllowed(w.index, w.fname, w.existing.exists)) {
        Skip(skNotOverwritten, w.fname, w.index, work.UncompressedSize);
        return false;
    }
    if (w.fname != asked) {  // changed in OnPromptForOverwrite: the caller's name, as above
        w.held = fs::HeldFolder::Open(fs::ExtractFilePath(w.fname));
        w.existing = w.held.Find(fs::ExtractFileName(w.fname));
    }
    if (w.existing.folder || (w.existing.readOnly && !z.ReplaceReadOnly)) {
        Skip(skCreateFailed, w.fname, w.index, work.UncompressedSize,
             w.existing.folder ? TRefusal::FolderInTheWay : TRefusal::ReadOnlyTarget);
        return false;
    }
    w.target = w.existing.name;
    w.temp = fs::ScratchFile::CreateIn(w.held, scratchRun);
    if (!w.temp.Valid()) {
        Skip(skCreateFailed, w.fname, w.index, work.UncompressedSize, TRefusal::CannotWrite);
        return false;
    }
    w.out = std::make_unique<THandleStream>(w.temp.Handle());
    return true;
}

// The data through the decoder into the output (or nowhere, in a test), with the progress events. Any
// exception but a decoder's "more than declared" ends UnZip; the scratch file goes with it.
TVCLUnZip::Extraction::Decoded TVCLUnZip::Extraction::DecodeData(EntryWork& w) {
    const TZipHeaderInfo& work = z.work_;
    const uint32_t cryptHeader = w.encrypted ? kCryptHeaderSize : 0;
    const uint32_t compressed = work.CompressedSize - cryptHeader;
    EntryOutput output(outBuffer.data());
    output.Start(w.out.get(), work.UncompressedSize);
    uint64_t fileBytes = 0;
    output.OnBlock = [&](size_t n) {
        fileBytes += n;
        totalOut += static_cast<int64_t>(n);
        if (z.OnFilePercentDone) z.OnFilePercentDone(&z, PercentOf(static_cast<int64_t>(fileBytes), work.UncompressedSize));
        if (z.OnTotalPercentDone) z.OnTotalPercentDone(&z, PercentOf(totalOut, totalBytes));
    };

    Decoded decoded;
    try {
        switch (Decode(w.index, w.encrypted, compressed, output, decoded.crc, decoded.bytes)) {
            case EntryDecode::Ok:
            case EntryDecode::DataError: break;  // the CRC decides
            case EntryDecode::OutOfMemory:
                z.messageText_ = "*** inflate out of memory ***";
                z.host().MessageBox("Error", z.messageText_, Buttons::Ok);
                break;
            case EntryDecode::UnknownMethod:
                z.messageText_ = "Unknown Compression Method";
                z.host().MessageBox("Zip Error", z.messageText_, Buttons::Ok);
                decoded.failed = true;  // nothing decoded is never a good entry, whatever its CRC says
                break;
        }
    } catch (const EBiggerThanUncompressed&) {
        decoded.failed = true;
    }
    // The output step wrote every block whole (or raised): only the disk's own buffers may be left.
    if (w.out && z.FlushFilesOnClose && !w.out->FlushToDisk()) throw EWriteError("Stream write error");
    w.out.reset();
    return decoded;
}

std::time_t TVCLUnZip::Extraction::TimeOf(uint32_t dosTime) {
    if (!lastTimeKnown || dosTime != lastDosTime) {
        lastTime = fs::TimeFromDos(dosTime);
        lastDosTime = dosTime;
        lastTimeKnown = true;
    }
    return lastTime;
}

// A whole entry is staged (all or nothing) or put in place; a bad one goes, and is told as a wrong
// password (which may be retried with another), a wrong size or a wrong CRC.
void TVCLUnZip::Extraction::Conclude(EntryWork& w, const Decoded& decoded, bool& retry) {
    const TZipHeaderInfo& work = z.work_;
    // A short entry is no more whole than one with a wrong CRC.
    const bool sizeRight = decoded.bytes == work.UncompressedSize;
    if (!decoded.failed && decoded.crc == work.Crc32 && sizeRight) {
        if (!testOnly) {
            // Through the descriptor; read-only waits until the file is in place and without its mark.
            fs::SetFileTimeOf(w.temp.Handle(), TimeOf(NormalizeDosDateTime(work.DateTime)));
            const uint32_t attributes = work.ExternalAttributes;
            if (z.RetainAttributes)
                fs::SetAttributesOf(w.temp.Handle(), w.target, attributes & ~fs::faReadOnly, w.temp.Mode());
            StagedEntry staging{std::move(w.temp), std::move(w.held), w.target, w.fname, w.index, attributes,
                                z.RetainAttributes && (attributes & fs::faReadOnly)};
            if (z.AllOrNothing) {
                staged.push_back(std::move(staging));
                return;
            }
            if (!PutInPlace(staging)) return;
            Finish(staging);
        }
        if (z.OnEndUnZip) z.OnEndUnZip(&z, w.index, w.fname);
        ++written;
        return;
    }

    w.temp.Discard();  // the bad output goes; the previous file stays
    if (w.encrypted) {
        bool handled = false;
        if (z.OnBadPassword) {
            std::string answer = z.Password;
            z.OnBadPassword(&z, w.index, answer);
            if (answer != z.Password) {
                z.Password = answer;
                retry = true;
                handled = true;
            }
        }
        if (!handled) {
            bool ignored = false;
            z.skipKind_ = TRefusal::Password;
            if (z.OnSkippingFile) z.OnSkippingFile(&z, skBadPassword, w.entry.StoredName(), w.index, ignored);
            z.skipKind_ = TRefusal::None;
        }
    } else if (!decoded.failed && decoded.crc == work.Crc32 && !sizeRight && z.OnBadSize) {
        z.OnBadSize(&z, static_cast<int64_t>(decoded.bytes), work.UncompressedSize, w.index);
    } else if (z.OnBadCRC) {
        z.OnBadCRC(&z, decoded.crc, work.Crc32, w.index);
    }
    if (!retry) {
        --numFiles;
        spoiled = true;
    }
}

}  // namespace archive
