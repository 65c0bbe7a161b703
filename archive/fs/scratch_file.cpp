// What a scratch file object does the same on every system: it adopts a file made in a held folder,
// it moves, and it is discarded with its object (the system-bound steps are in scratch.cpp and win32/scratch.cpp).
#include <utility>

#include "archive/fs/scratch.h"

namespace archive::fs {

ScratchFile::ScratchFile(ScratchFile&& other) noexcept
    : folder_(std::move(other.folder_)),
      name_(std::move(other.name_)),
      path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      marked_(std::exchange(other.marked_, false)),
      placed_(std::exchange(other.placed_, false)),
      mode_(std::exchange(other.mode_, -1)),
      anchor_(std::move(other.anchor_)) {}

ScratchFile& ScratchFile::operator=(ScratchFile&& other) noexcept {
    if (this != &other) {
        Discard();
        folder_ = std::move(other.folder_);
        name_ = std::move(other.name_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        marked_ = std::exchange(other.marked_, false);
        placed_ = std::exchange(other.placed_, false);
        mode_ = std::exchange(other.mode_, -1);
        anchor_ = std::move(other.anchor_);
    }
    return *this;
}

ScratchFile::~ScratchFile() { Discard(); }


ScratchFile ScratchFile::Adopted(const HeldFolder& folder, std::string name, int fd, bool marked) {
    ScratchFile file;
    file.folder_ = folder;
    file.path_ = folder.Path() + name;
    file.name_ = std::move(name);
    file.fd_ = fd;
    file.marked_ = marked;
    return file;
}

}  // namespace archive::fs
