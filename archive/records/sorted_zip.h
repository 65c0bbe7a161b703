// TSortedZip: a list of TZipHeaderInfo kept in the order of one of eight sort keys, with a rule for
// entries equal to one already present (ignore, accept, refuse) and binary-search insertion.
//
// Text comparisons fold a-z to A-Z and nothing else, byte by byte; a prefix sorts first. ByNone is
// archive order (disk, then local-header offset). ByDate, ByCompressedSize and ByUnCompressedSize never
// compare equal, so an entry equal in key goes after the existing ones.
// The list grows by 4, 8, then 16 places; a capacity above 65534 is refused, so it holds at most 65520
// entries.
#pragma once

#include <vector>

#include "archive/records/zip_header_info.h"

namespace archive {

enum TZipSortMode : int {
    ByName = 0,
    ByFileName = 1,
    ByDirectoryName = 2,
    ByDate = 3,
    ByCompressedSize = 4,
    ByUnCompressedSize = 5,
    ByRate = 6,
    ByNone = 7,
};

enum TDuplicates { dupIgnore = 0, dupAccept = 1, dupError = 2 };

class TSortedZip {
public:
    explicit TSortedZip(TDuplicates duplicates = dupIgnore) : duplicates_(duplicates) {}
    ~TSortedZip();
    TSortedZip(const TSortedZip&) = delete;
    TSortedZip& operator=(const TSortedZip&) = delete;

    TZipSortMode SortMode = ByNone;
    bool OwnsObjects = true;
    TDuplicates Duplicates() const { return duplicates_; }

    // Inserts at the position Find gives, subject to the duplicates rule. Returns the position, or -1 when
    // an equal entry made the ignore rule drop it (the caller still owns it then). Refusal raises
    // EListError "Duplicate Object index"; a full list raises EListError; the entry is not inserted.
    int Add(TZipHeaderInfo* entry);
    // The index is ignored: entries always go where Find puts them.
    int Insert(int index, TZipHeaderInfo* entry) { (void)index; return Add(entry); }
    // Refused: EListError "Cannot <Put> an Object in a sorted list!".
    void Put(int index, TZipHeaderInfo* entry);

    // Binary search; `index` is where the key belongs.
    bool Find(const TZipHeaderInfo* key, int& index) const;
    // Position of an equal entry, or -1.
    int IndexOf(const TZipHeaderInfo* key) const;
    int Compare(const TZipHeaderInfo* a, const TZipHeaderInfo* b) const;

    int Count() const { return static_cast<int>(items_.size()); }
    int Capacity() const { return capacity_; }
    TZipHeaderInfo* Items(int index) const;
    TZipHeaderInfo* operator[](int index) const { return Items(index); }
    TZipHeaderInfo* First() const { return Items(0); }
    TZipHeaderInfo* Last() const { return Items(Count() - 1); }

    // Removes and (when owning) frees.
    void Delete(int index);
    // Removes without freeing; returns the entry.
    TZipHeaderInfo* Extract(int index);
    void Clear();

private:
    void Grow();

    TDuplicates duplicates_;
    std::vector<TZipHeaderInfo*> items_;
    int capacity_ = 0;
};

// The text comparison of the sort keys: bytes, a-z folded to A-Z, a prefix first.
int CompareText(const std::string& a, const std::string& b);

}  // namespace archive
