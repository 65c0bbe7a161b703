// The sorted entry list: each sort key's order, the duplicates rules, the text comparison, the capacity
// limit and the refused operations.
#include "archive/records/sorted_zip.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/errors.h"

namespace archive {
namespace {

TZipHeaderInfo* Entry(const std::string& dir, const std::string& name) {
    auto* e = new TZipHeaderInfo;
    e->SetDirectory(dir);
    e->SetFileName(name);
    return e;
}

TZipHeaderInfo* At(uint16_t disk, uint32_t offset) {
    auto* e = new TZipHeaderInfo;
    e->DiskNumberStart = disk;
    e->LocalHeaderOffset = offset;
    return e;
}

constexpr uint32_t Dos(int y, int mo, int d) {
    return (static_cast<uint32_t>(y - 1980) << 25) | (static_cast<uint32_t>(mo) << 21) | (static_cast<uint32_t>(d) << 16);
}

// Adds the entries in order and returns the tags (file names) of the list.
std::vector<std::string> Order(TSortedZip& list, const std::vector<TZipHeaderInfo*>& entries) {
    for (auto* e : entries) EXPECT_GE(list.Add(e), 0);
    std::vector<std::string> out;
    for (int i = 0; i < list.Count(); ++i) out.push_back(list[i]->FileName());
    return out;
}

TZipHeaderInfo* Tagged(TZipHeaderInfo* e, const std::string& tag) {
    e->SetFileName(tag);
    return e;
}

TEST(SortedZip, ByNoneIsArchiveOrder) {
    TSortedZip list(dupError);
    EXPECT_EQ(list.SortMode, ByNone);
    EXPECT_TRUE(list.OwnsObjects);
    const auto order = Order(list, {Tagged(At(1, 0), "d1@0"), Tagged(At(0, 0), "0"), Tagged(At(0, 120), "120"),
                                    Tagged(At(0, 57), "57")});
    EXPECT_EQ(order, (std::vector<std::string>{"0", "57", "120", "d1@0"}));
}

TEST(SortedZip, ByNameDuplicateRules) {
    {
        TSortedZip list(dupAccept);
        list.SortMode = ByName;
        auto* first = Entry("db", "A.txt");
        auto* second = Entry("DB", "a.TXT");
        EXPECT_EQ(list.Compare(first, second), 0);
        list.Add(first);
        EXPECT_EQ(list.Add(second), 0);  // the later one comes first
        EXPECT_EQ(list[0], second);
        EXPECT_EQ(list[1], first);
    }
    {
        TSortedZip list(dupIgnore);
        list.SortMode = ByName;
        list.Add(Entry("db", "A.txt"));
        TZipHeaderInfo* dup = Entry("DB", "a.TXT");
        EXPECT_EQ(list.Add(dup), -1);  // silently dropped; still ours
        EXPECT_EQ(list.Count(), 1);
        delete dup;
    }
    {
        TSortedZip list(dupError);
        list.SortMode = ByName;
        list.Add(Entry("db", "A.txt"));
        TZipHeaderInfo* dup = Entry("DB", "a.TXT");
        try {
            list.Add(dup);
            ADD_FAILURE() << "accepted";
        } catch (const EListError& e) {
            EXPECT_STREQ(e.what(), "Duplicate Object index");
        }
        EXPECT_EQ(list.Count(), 1);
        delete dup;
    }
}

TEST(SortedZip, TextComparison) {
    struct Case {
        std::string a, b;
        int sign;
    };
    const Case cases[] = {
        {"abc", "ABC", 0},  {"abc", "abd", -1}, {"abc", "abcd", -1},  // a prefix comes first
        {"A_", "AZ", 1},    {"a_", "az", 1},                           // '_' after every letter
        {"a~", "A{", 1},    {"\xC3\xA9", "\xC3\x89", 1},               // no folding beyond a-z
        {"", "", 0},        {"", "a", -1},
    };
    for (const auto& c : cases) {
        const int r = CompareText(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign) << c.a << " vs " << c.b;
        const int back = CompareText(c.b, c.a);
        EXPECT_EQ((back > 0) - (back < 0), -c.sign) << c.b << " vs " << c.a;
    }
}

TEST(SortedZip, KeysOtherThanName) {
    {
        TSortedZip list(dupAccept);
        list.SortMode = ByFileName;
        EXPECT_EQ(Order(list, {Entry("z/", "b"), Entry("a/", "C"), Entry("", "a")}),
                  (std::vector<std::string>{"a", "b", "C"}));
    }
    {
        TSortedZip list(dupAccept);
        list.SortMode = ByDirectoryName;
        list.Add(Entry("b/", "1"));
        list.Add(Entry("", "2"));
        list.Add(Entry("A/", "3"));
        EXPECT_EQ(list[0]->FileName(), "2");
        EXPECT_EQ(list[1]->FileName(), "3");
        EXPECT_EQ(list[2]->FileName(), "1");
    }
}

TEST(SortedZip, ByDateNewestFirstEqualDatesInInsertionOrder) {
    TSortedZip list(dupError);  // never equal, so never refused
    list.SortMode = ByDate;
    auto dated = [](uint32_t dos, const char* tag) {
        auto* e = Entry("", tag);
        e->DateTime = dos;
        return e;
    };
    const auto order = Order(list, {dated(Dos(2020, 1, 1), "old"), dated(Dos(2024, 5, 1), "new1"),
                                    dated(Dos(2024, 5, 1), "new2"), dated(Dos(2024, 2, 31), "invalid"),
                                    dated(Dos(2024, 5, 1), "new3")});
    // A date that does not exist counts as 0, older than everything.
    EXPECT_EQ(order, (std::vector<std::string>{"new1", "new2", "new3", "old", "invalid"}));
}

TEST(SortedZip, BySizesLargestFirst) {
    for (TZipSortMode mode : {ByCompressedSize, ByUnCompressedSize}) {
        TSortedZip list(dupError);
        list.SortMode = mode;
        auto sized = [mode](uint32_t size, const char* tag) {
            auto* e = Entry("", tag);
            (mode == ByCompressedSize ? e->CompressedSize : e->UncompressedSize) = size;
            return e;
        };
        const auto order = Order(list, {sized(10, "10a"), sized(3000000000u, "3G"), sized(10, "10b"), sized(0, "0")});
        EXPECT_EQ(order, (std::vector<std::string>{"3G", "10a", "10b", "0"})) << mode;
    }
}

TEST(SortedZip, ByRate) {
    auto rated = [](uint32_t compressed, uint32_t uncompressed, const char* tag) {
        auto* e = Entry("", tag);
        e->CompressedSize = compressed;
        e->UncompressedSize = uncompressed;
        return e;
    };
    TSortedZip list(dupAccept);
    list.SortMode = ByRate;
    TZipHeaderInfo* a = rated(1, 8, "12%");   // 12.5 rounds to 12
    TZipHeaderInfo* b = rated(12, 100, "also 12%");
    EXPECT_EQ(list.Compare(a, b), 0);         // equal rates compare equal
    const auto order = Order(list, {a, rated(3, 8, "38%"), b, rated(5, 0, "none"), rated(900, 100, "capped")});
    EXPECT_EQ(order, (std::vector<std::string>{"capped", "38%", "also 12%", "12%", "none"}));
}

TEST(SortedZip, UnknownKeyAndRefusedOperations) {
    TSortedZip list(dupAccept);
    list.SortMode = static_cast<TZipSortMode>(42);
    TZipHeaderInfo x, y;
    EXPECT_EQ(list.Compare(&x, &y), -1);

    list.SortMode = ByNone;
    list.Add(At(0, 50));
    EXPECT_EQ(list.Insert(0, At(0, 90)), 1);  // the index is ignored
    try {
        list.Put(0, nullptr);
        FAIL() << "put accepted";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "Cannot <Put> an Object in a sorted list!");
    }
    EXPECT_THROW(list.Items(2), EListError);
    EXPECT_THROW(list.Items(-1), EListError);
    TZipHeaderInfo key;
    key.LocalHeaderOffset = 90;
    EXPECT_EQ(list.IndexOf(&key), 1);
    key.LocalHeaderOffset = 91;
    EXPECT_EQ(list.IndexOf(&key), -1);
    TZipHeaderInfo* out = list.Extract(0);  // not freed
    EXPECT_EQ(out->LocalHeaderOffset, 50u);
    delete out;
    list.Delete(0);
    EXPECT_EQ(list.Count(), 0);
}

TEST(SortedZip, CapacityGrowsAndStopsAt65520) {
    TSortedZip list(dupError);
    std::vector<int> capacities;
    for (uint32_t i = 0; i < 65520; ++i) {
        list.Add(At(0, i));
        if (capacities.empty() || capacities.back() != list.Capacity()) capacities.push_back(list.Capacity());
    }
    EXPECT_EQ((std::vector<int>(capacities.begin(), capacities.begin() + 5)), (std::vector<int>{4, 8, 16, 32, 48}));
    EXPECT_EQ(list.Capacity(), 65520);
    TZipHeaderInfo* extra = At(0, 70000);
    try {
        list.Add(extra);
        FAIL() << "entry 65521 accepted";
    } catch (const EListError& e) {
        EXPECT_STREQ(e.what(), "List capacity out of bounds (65536)");
    }
    EXPECT_EQ(list.Count(), 65520);
    EXPECT_EQ(list.Last()->LocalHeaderOffset, 65519u);
    delete extra;
}

}  // namespace
}  // namespace archive
