// Lazily allocated, reused working memory of the decompressors (see decode_workspace.h).
#include "archive/codec/decode_workspace.h"

#include <cstring>
#include <new>

namespace archive::codec {

namespace {
constexpr std::align_val_t kAlign{64};
}

DecodeWorkspace::~DecodeWorkspace() {
    for (Area& a : areas_) {
        if (a.data) ::operator delete(a.data, kAlign);
    }
}

void* DecodeWorkspace::Block(Slot slot, size_t bytes, bool* fresh) {
    Area& a = areas_[static_cast<int>(slot)];
    if (fresh) *fresh = false;
    if (a.data && a.size >= bytes) return a.data;
    if (failAllocations) return nullptr;
    void* p = ::operator new(bytes, kAlign, std::nothrow);
    if (!p) return nullptr;
    std::memset(p, 0, bytes);
    if (a.data) ::operator delete(a.data, kAlign);
    a.data = p;
    a.size = bytes;
    if (fresh) *fresh = true;
    return p;
}

void DecodeWorkspaceDeleter::operator()(DecodeWorkspace* w) const { delete w; }

DecodeWorkspacePtr MakeDecodeWorkspace() { return DecodeWorkspacePtr(new DecodeWorkspace()); }

}  // namespace archive::codec
