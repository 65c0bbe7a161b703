// The end record: its bytes, the empty archive, finding it (also inside a comment that contains the
// signature, and not at all where it cannot be), comments, Assign and Clear.
#include "archive/records/end_central.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/records/little_endian.h"
#include "archive/streams/stream.h"

namespace archive {
namespace {

std::string Bytes(TMemoryStream& m) { return std::string(m.Data().begin(), m.Data().end()); }
TMemoryStream FromBytes(const std::string& s) { return TMemoryStream(std::vector<uint8_t>(s.begin(), s.end())); }

std::string Record(uint16_t total, uint32_t size, uint32_t offset, const std::string& comment) {
    TEndCentral e;
    e.EntriesThisDisk = e.TotalEntries = total;
    e.CentralSize = size;
    e.CentralOffset = offset;
    e.SetComment(comment);
    TMemoryStream m;
    e.Write(m);
    return Bytes(m);
}

// A record followed by comment bytes taken as they are (zero bytes included).
std::string WithRawComment(std::string record, const std::string& comment) {
    PutU16(reinterpret_cast<uint8_t*>(record.data()) + 20, static_cast<uint16_t>(comment.size()));
    return record + comment;
}

TEST(EndCentral, EmptyArchiveIs22Bytes) {
    TEndCentral e;
    TMemoryStream m;
    e.Write(m);
    EXPECT_EQ(Bytes(m), std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    EXPECT_EQ(e.RecordSize(), 22u);

    // Read back; and a zero-byte file is an archive with no entries too, whatever the record held.
    TEndCentral r;
    r.TotalEntries = 9;
    r.CentralOffset = 1234;
    EXPECT_TRUE(r.Locate(m));
    EXPECT_EQ(r.TotalEntries, 0);
    r.TotalEntries = 9;
    r.CentralOffset = 1234;
    TMemoryStream empty;
    EXPECT_TRUE(r.Locate(empty));
    EXPECT_EQ(r.TotalEntries, 0);
    EXPECT_EQ(r.CentralOffset, 0u);
}

TEST(EndCentral, FieldsAndComment) {
    const std::string rec = Record(3, 150, 4000, "backup of 2024");
    ASSERT_EQ(rec.size(), 22u + 14u);
    const auto* p = reinterpret_cast<const uint8_t*>(rec.data());
    EXPECT_EQ(GetU16(p + 8), 3);
    EXPECT_EQ(GetU16(p + 10), 3);
    EXPECT_EQ(GetU32(p + 12), 150u);
    EXPECT_EQ(GetU32(p + 16), 4000u);
    EXPECT_EQ(GetU16(p + 20), 14);
    EXPECT_EQ(rec.substr(22), "backup of 2024");

    TMemoryStream m = FromBytes(std::string(4000 + 150, 'd') + rec);
    TEndCentral r;
    ASSERT_TRUE(r.Locate(m));
    EXPECT_EQ(r.TotalEntries, 3);
    EXPECT_EQ(r.EntriesThisDisk, 3);
    EXPECT_EQ(r.CentralSize, 150u);
    EXPECT_EQ(r.CentralOffset, 4000u);
    EXPECT_EQ(r.CommentLength, 14);
    EXPECT_EQ(r.CommentPosition, static_cast<uint32_t>(m.Size() - 14));
    EXPECT_FALSE(r.Comment().has_value());  // read on demand by the reader
}

TEST(EndCentral, LocateCases) {
    const std::string real = Record(1, 46, 100, "");
    // A fake record inside the comment claims 7 entries.
    const std::string withFake = WithRawComment(real, Record(7, 1, 2, "") + "tail");
    struct Case {
        std::string bytes;
        bool found;
        uint16_t total;
        const char* what;
    };
    const Case cases[] = {
        {std::string(100, 'x') + real, true, 1, "record at the end"},
        {std::string(100, 'x') + withFake, true, 7, "the last signature wins, even inside the comment"},
        {std::string(100, 'x') + Record(1, 46, 100, "abPK\x05\x06"), true, 1,
         "a signature less than 22 bytes from the end is not looked at"},
        {std::string(21, 'x'), false, 0, "non-empty and shorter than a record"},
        {std::string(5000, 'x'), false, 0, "no signature"},
        {real + std::string(65536, 'z'), false, 0, "more than 65557 bytes from the end"},
        {std::string(10, 'q') + real + std::string(65535, 'z'), true, 1, "exactly at the search limit"},
    };
    for (const auto& c : cases) {
        TMemoryStream m = FromBytes(c.bytes);
        TEndCentral r;
        EXPECT_EQ(r.Locate(m), c.found) << c.what;
        if (c.found) {
            EXPECT_EQ(r.TotalEntries, c.total) << c.what;
        }
    }
}

TEST(EndCentral, CommentBytesMatchTheirLength) {
    // The record always holds as many comment bytes as it claims: a comment with a zero byte ends
    // there (padded), and a comment that was never loaded is not simply left out.
    TEndCentral withZero;
    withZero.SetComment(std::string("ab\0cd", 5));
    TEndCentral notLoaded;
    notLoaded.CommentLength = 6;
    for (TEndCentral* e : {&withZero, &notLoaded}) {
        TMemoryStream m;
        e->Write(m);
        EXPECT_EQ(m.Size(), static_cast<int64_t>(e->RecordSize()));
    }
    TMemoryStream m;
    withZero.Write(m);
    EXPECT_EQ(Bytes(m).substr(22), "ab   ");

    TEndCentral e;
    e.SetComment("x");
    e.SetComment("");
    EXPECT_FALSE(e.Comment().has_value());
    EXPECT_EQ(e.CommentLength, 0);
    e.SetComment(std::string(70000, 'c'));
    EXPECT_EQ(e.CommentLength, 65535);
}

TEST(EndCentral, AssignAndClear) {
    TEndCentral a;
    a.ThisDisk = 2;
    a.CentralStartDisk = 1;
    a.TotalEntries = 5;
    a.CentralOffset = 77;
    a.CommentPosition = 500;
    a.SetComment("hello");
    TEndCentral b = a;
    EXPECT_EQ(b.ThisDisk, 2);
    EXPECT_EQ(b.CentralStartDisk, 1);
    EXPECT_EQ(b.TotalEntries, 5);
    EXPECT_EQ(b.CentralOffset, 77u);
    EXPECT_EQ(b.CommentPosition, 500u);
    EXPECT_EQ(b.Comment(), std::optional<std::string>("hello"));
    // A comment not in memory: the length is copied, the text stays absent.
    TEndCentral c;
    c.CommentLength = 12;
    b.Assign(c);
    EXPECT_EQ(b.CommentLength, 12);
    EXPECT_FALSE(b.Comment().has_value());
    b.PendingChange = true;
    b.Clear();
    EXPECT_EQ(b.CommentLength, 0);
    EXPECT_EQ(b.Signature, 0x06054b50u);
    EXPECT_FALSE(b.PendingChange);
}

}  // namespace
}  // namespace archive
