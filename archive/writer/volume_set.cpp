#include "archive/writer/volume_set.h"

#include <algorithm>
#include <vector>

#include "archive/errors.h"
#include "archive/fs/fs.h"

namespace archive::writer {

namespace {
constexpr int64_t kCopyPiece = 16000;
}  // namespace

VolumeSet::VolumeSet(const std::string& zipName, int64_t firstRoom, int64_t room)
    : zipName_(zipName), firstRoom_(firstRoom), room_(room) {
    if (firstRoom_ <= 0 || room_ <= 0) {
        throw EFileTooLarge(Format("Volume sizes must be positive (first %lld, others %lld bytes)",
                                   static_cast<long long>(firstRoom_), static_cast<long long>(room_)));
    }
    NextVolume();
}

std::string VolumeSet::VolumeName(const std::string& zipName, int n) {
    return fs::ChangeFileExt(zipName, Format(".%3.3d", n));
}

int64_t VolumeSet::RoomLeft() {
    const int64_t room = volumes_.size() == 1 ? firstRoom_ : room_;
    return std::max<int64_t>(0, room - Current().Position());
}

void VolumeSet::NextVolume() {
    if (!volumes_.empty()) Current().Finish();  // a full volume goes to the disk at once
    const int n = static_cast<int>(volumes_.size()) + 1;
    if (n > 999) throw EFileTooLarge("A multi-volume archive cannot have more than 999 volumes");
    volumes_.push_back(std::make_unique<OutputFile>(VolumeName(zipName_, n)));
}

void VolumeSet::Reserve(int64_t n) {
    if (RoomLeft() >= n) return;
    if (n > room_) {
        throw EFileTooLarge(Format("A record of %lld bytes does not fit in a volume of %lld bytes",
                                   static_cast<long long>(n), static_cast<long long>(room_)));
    }
    NextVolume();
}

void VolumeSet::CopyAcross(const std::function<int64_t(void*, int64_t)>& source, int64_t n,
                           const std::function<void(int64_t)>& afterPiece) {
    std::vector<uint8_t> buffer(kCopyPiece);
    while (n > 0) {
        if (RoomLeft() == 0) NextVolume();
        const int64_t want = std::min({n, kCopyPiece, RoomLeft()});
        const int64_t got = source(buffer.data(), want);
        if (got != want) throw EReadError("Stream read error");
        Current().Put(buffer.data(), static_cast<size_t>(got));
        n -= got;
        if (afterPiece) afterPiece(got);
    }
}

void VolumeSet::Commit() {
    for (auto& v : volumes_) v->Finish();
    for (auto& v : volumes_) v->Commit();
}

void VolumeSet::Abort() noexcept {
    for (auto& v : volumes_) v->Abort();
}

std::vector<std::string> VolumeSet::FinalNames() const {
    std::vector<std::string> names;
    for (const auto& v : volumes_) names.push_back(v->FinalName());
    return names;
}

}  // namespace archive::writer
