// VolumeSet: the files of a multi-volume archive in block mode, "<name>.001", "<name>.002", ...
//
// Each volume holds at most its room: FirstBlockSize bytes for the first, BlockSize for every later one.
// Headers are never split: a record that does not fit in the room left starts the next volume. Entry data
// is copied across volumes in pieces of at most 16000 bytes, switching whenever a volume is full.
//
// Every volume is an OutputFile: written under a temporary name beside its final name and renamed only
// when the whole set is complete, so a failed or cancelled operation leaves no volume behind and replaces
// none of an older set.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "archive/writer/output_file.h"

namespace archive::writer {

class VolumeSet {
public:
    VolumeSet(const std::string& zipName, int64_t firstRoom, int64_t room);

    // "<name>.NNN" of 1-based volume n.
    static std::string VolumeName(const std::string& zipName, int n);

    OutputFile& Current() { return *volumes_.back(); }
    int Disk() const { return static_cast<int>(volumes_.size()) - 1;  }
    int Count() const { return static_cast<int>(volumes_.size()); }
    int64_t RoomLeft();

    // Starts the next volume when fewer than n bytes are left on the current one. A record larger than an
    // empty volume can hold raises EFileTooLarge.
    void Reserve(int64_t n);
    void NextVolume();

    // Copies n bytes read from `source` across volumes in pieces of at most 16000 bytes; afterPiece(bytes)
    // runs after each piece (progress, message pump).
    void CopyAcross(const std::function<int64_t(void*, int64_t)>& source, int64_t n,
                    const std::function<void(int64_t)>& afterPiece);

    // Flushes every volume to the disk and renames it into place.
    void Commit();
    void Abort() noexcept;

    const std::string& ZipName() const { return zipName_; }
    std::vector<std::string> FinalNames() const;

private:
    std::string zipName_;
    int64_t firstRoom_;
    int64_t room_;
    std::vector<std::unique_ptr<OutputFile>> volumes_;
};

}  // namespace archive::writer
