#include "archive/records/sorted_zip.h"

#include "archive/errors.h"
#include "archive/records/date_time.h"

namespace archive {

namespace {

constexpr int kMaxCapacity = 65534;

unsigned char Fold(unsigned char c) { return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 32) : c; }

double DateValue(uint32_t dos) {
    TDateTime value = 0;
    return DosToDateTime(dos, value) ? value : 0.0;
}

int Rate(const TZipHeaderInfo* e) {
    return PercentOf(static_cast<int64_t>(e->CompressedSize), static_cast<int64_t>(e->UncompressedSize));
}

}  // namespace

int CompareText(const std::string& a, const std::string& b) {
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        const unsigned char ca = Fold(static_cast<unsigned char>(a[i]));
        const unsigned char cb = Fold(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

TSortedZip::~TSortedZip() { Clear(); }

int TSortedZip::Compare(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const {
    switch (SortMode) {
        case ByName:
            return CompareText(a->StoredName(), b->StoredName());
        case ByFileName:
            return CompareText(a->FileName(), b->FileName());
        case ByDirectoryName:
            return CompareText(a->Directory(), b->Directory());
        case ByDate:
            return DateValue(b->DateTime) > DateValue(a->DateTime) ? 1 : -1;
        case ByCompressedSize:
            return static_cast<int64_t>(b->CompressedSize) - static_cast<int64_t>(a->CompressedSize) > 0 ? 1 : -1;
        case ByUnCompressedSize:
            return static_cast<int64_t>(b->UncompressedSize) - static_cast<int64_t>(a->UncompressedSize) > 0 ? 1
                                                                                                            : -1;
        case ByRate:
            return Rate(b) - Rate(a);
        case ByNone:
            if (a->DiskNumberStart != b->DiskNumberStart)
                return static_cast<int>(a->DiskNumberStart) - static_cast<int>(b->DiskNumberStart);
            if (a->LocalHeaderOffset == b->LocalHeaderOffset) return 0;
            return a->LocalHeaderOffset < b->LocalHeaderOffset ? -1 : 1;
    }
    return -1;
}

bool TSortedZip::Find(const TZipHeaderInfo* key, int& index) const {
    int lo = 0;
    int hi = Count() - 1;
    bool found = false;
    while (hi >= lo) {
        const int mid = (lo + hi) / 2;
        const int r = Compare(items_[static_cast<size_t>(mid)], key);
        if (r < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (r == 0) {
                found = true;
                if (duplicates_ != dupAccept) lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

int TSortedZip::IndexOf(const TZipHeaderInfo* key) const {
    int index = 0;
    return Find(key, index) ? index : -1;
}

void TSortedZip::Grow() {
    int delta = capacity_ > 8 ? 16 : (capacity_ > 4 ? 8 : 4);
    if (capacity_ + delta > kMaxCapacity) throw EListError(Format("List capacity out of bounds (%d)", capacity_ + delta));
    capacity_ += delta;
    items_.reserve(static_cast<size_t>(capacity_));
}

int TSortedZip::Add(TZipHeaderInfo* entry) {
    int index = 0;
    if (Find(entry, index)) {
        if (duplicates_ == dupIgnore) return -1;
        if (duplicates_ == dupError) throw EListError("Duplicate Object index");
    }
    if (Count() == capacity_) Grow();
    items_.insert(items_.begin() + index, entry);
    return index;
}

void TSortedZip::Put(int, TZipHeaderInfo*) { throw EListError("Cannot <Put> an Object in a sorted list!"); }

TZipHeaderInfo* TSortedZip::Items(int index) const {
    if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", index));
    return items_[static_cast<size_t>(index)];
}

void TSortedZip::Delete(int index) {
    TZipHeaderInfo* e = Extract(index);
    if (OwnsObjects) delete e;
}

TZipHeaderInfo* TSortedZip::Extract(int index) {
    TZipHeaderInfo* e = Items(index);
    items_.erase(items_.begin() + index);
    return e;
}

void TSortedZip::Clear() {
    if (OwnsObjects)
        for (TZipHeaderInfo* e : items_) delete e;
    items_.clear();
    capacity_ = 0;
    items_.shrink_to_fit();
}

}  // namespace archive
