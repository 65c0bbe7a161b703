// One entry's records: names and their lengths, the exact bytes of local and central records, reading
// them back (also across a disk boundary), short and wrong input, and non-ASCII names.
#include "archive/records/zip_header_info.h"

#include <gtest/gtest.h>

#include <string>

#include "archive/codepage/codepage.h"
#include "archive/errors.h"
#include "archive/records/little_endian.h"
#include "archive/streams/stream.h"
#include "tests/support/test_support.h"

namespace archive {
namespace {

std::string Bytes(TMemoryStream& m) { return std::string(m.Data().begin(), m.Data().end()); }

TMemoryStream FromBytes(const std::string& s) { return TMemoryStream(std::vector<uint8_t>(s.begin(), s.end())); }

uint16_t U16(const std::string& s, size_t at) { return GetU16(reinterpret_cast<const uint8_t*>(s.data()) + at); }
uint32_t U32(const std::string& s, size_t at) { return GetU32(reinterpret_cast<const uint8_t*>(s.data()) + at); }

TZipHeaderInfo Readme() {
    TZipHeaderInfo e;
    e.SetDirectory("DB");
    e.SetFileName("Readme.TXT");
    e.Method = 0;
    e.DateTime = 0x58B16D2Eu;
    e.Crc32 = 0xCBF43926u;
    e.CompressedSize = 9;
    e.UncompressedSize = 9;
    e.InternalAttributes = 0;
    e.ExternalAttributes = 0x21;
    return e;
}

TEST(ZipHeaderInfo, NameParts) {
    struct Case {
        const char* dir;
        const char* file;
        std::string stored;
        uint16_t length;
        bool utf8;
    };
    const Case cases[] = {
        {"DB", "Readme.TXT", "DB/Readme.TXT", 13, false},
        {"DB/", "Readme.TXT", "DB/Readme.TXT", 13, false},
        {"", "Readme.TXT", "Readme.TXT", 10, false},
        {"DB", "", "DB/", 3, false},                        // a folder entry
        {"", "", "", 0, false},
        {"a/b", "caf\xC3\xA9.txt", "a/b/caf\x82.txt", 12, false},  // é is one CP437 byte
        {"", "Gr\xC3\xBC\xC3\x9F" "e_\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt", "Gr\xC3\xBC\xC3\x9F" "e_\xD1\x82\xD0\xB5\xD1\x81\xD1\x82.txt",
         20, true},
    };
    for (const auto& c : cases) {
        TZipHeaderInfo e;
        e.SetDirectory(c.dir);
        e.SetFileName(c.file);
        EXPECT_EQ(e.ArchiveNameBytes(), c.stored) << c.file;
        EXPECT_EQ(e.FileNameLength, c.length) << c.file;
        EXPECT_EQ((e.Flags & codepage::kUtf8NameFlag) != 0, c.utf8) << c.file;
    }
    // Version made by: MS-DOS (host 0) for CP437 names; a UTF-8 name makes it NTFS (host 11), which other
    // tools read bit 11 for; a host already set stays.
    {
        TZipHeaderInfo cp, u, unix;
        cp.SetFileName("caf\xC3\xA9.txt");
        EXPECT_EQ(cp.VersionMadeBy, 20);
        u.SetFileName("\xD1\x82.txt");
        EXPECT_EQ(u.VersionMadeBy, 0x0B14);
        TMemoryStream m;
        u.WriteCentral(m);
        EXPECT_EQ(U16(Bytes(m), 4), 0x0B14);
        unix.VersionMadeBy = 0x0314;
        unix.SetFileName("\xD1\x82.txt");
        EXPECT_EQ(unix.VersionMadeBy, 0x0314);
    }
    // Setting the folder part back to empty shortens the length to the file name part.
    TZipHeaderInfo e;
    e.SetDirectory("DB");
    e.SetFileName("Readme.TXT");
    e.SetDirectory("");
    EXPECT_EQ(e.Directory(), "");
    EXPECT_EQ(e.FileNameLength, 10);
}

TEST(ZipHeaderInfo, LocalRecordBytesAndReadBack) {
    TZipHeaderInfo e = Readme();
    TMemoryStream m;
    m.WriteBuffer("xyz", 3);  // the record starts where the stream stands
    e.WriteLocal(m);
    EXPECT_EQ(e.LocalHeaderOffset, 3u);
    const std::string b = Bytes(m).substr(3);
    ASSERT_EQ(b.size(), 30u + 13u);
    EXPECT_EQ(b.substr(0, 4), std::string("PK\x03\x04", 4));
    EXPECT_EQ(U16(b, 4), 20);           // version needed
    EXPECT_EQ(U16(b, 6), 0);            // flags
    EXPECT_EQ(U16(b, 8), 0);            // method
    EXPECT_EQ(U16(b, 10), 0x6D2E);      // time first
    EXPECT_EQ(U16(b, 12), 0x58B1);      // then date
    EXPECT_EQ(U32(b, 14), 0xCBF43926u);
    EXPECT_EQ(U32(b, 18), 9u);
    EXPECT_EQ(U32(b, 22), 9u);
    EXPECT_EQ(U16(b, 26), 13);
    EXPECT_EQ(U16(b, 28), 0);
    EXPECT_EQ(b.substr(30), "DB/Readme.TXT");

    m.WriteBuffer("DATA", 4);
    m.SetPosition(3);
    TZipHeaderInfo r;
    r.CentralExtraLength = 5;  // kept: a local record has no central extra field
    ASSERT_TRUE(r.ReadLocal(m));
    EXPECT_EQ(m.Position(), 3 + 43);  // just after the name
    EXPECT_EQ(r.Directory(), "DB/");
    EXPECT_EQ(r.FileName(), "Readme.TXT");
    EXPECT_EQ(r.FileNameLength, 13);
    EXPECT_EQ(r.LocalHeaderOffset, 3u);
    EXPECT_EQ(r.VersionMadeBy, 0);
    EXPECT_EQ(r.ExternalAttributes, 0u);
    EXPECT_EQ(r.CentralRecordOffset, 0u);
    EXPECT_EQ(r.CentralExtraLength, 5);
    EXPECT_EQ(r.DateTime, e.DateTime);
    EXPECT_EQ(r.Crc32, e.Crc32);
    EXPECT_EQ(r.LocalRecordSize(), 43u);
}

TEST(ZipHeaderInfo, FolderEntryCentralRecord) {
    TZipHeaderInfo e;
    e.SetDirectory("DB");
    e.Method = 0;
    e.Crc32 = 0;
    e.InternalAttributes = 0;
    TMemoryStream m;
    e.WriteCentral(m);
    const std::string b = Bytes(m);
    ASSERT_EQ(b.size(), 46u + 3u);
    EXPECT_EQ(b.substr(0, 4), std::string("PK\x01\x02", 4));
    EXPECT_EQ(U16(b, 4), 20);      // made by: MS-DOS attributes
    EXPECT_EQ(U16(b, 10), 0);      // stored
    EXPECT_EQ(U32(b, 16), 0u);     // CRC
    EXPECT_EQ(U32(b, 20), 0u);
    EXPECT_EQ(U32(b, 24), 0u);
    EXPECT_EQ(U16(b, 28), 3);
    EXPECT_EQ(U16(b, 30), 0);      // never an extra field
    EXPECT_EQ(U32(b, 38), 0x20u);  // the default attribute word
    EXPECT_EQ(b.substr(46), "DB/");
}

TEST(ZipHeaderInfo, CentralRecordRoundTrip) {
    TZipHeaderInfo e = Readme();
    e.SetComment(std::string("a comment"));
    e.DiskNumberStart = 2;
    e.LocalHeaderOffset = 0x01020304u;
    TMemoryStream m;
    m.WriteBuffer("PREFIX", 6);
    e.WriteCentral(m);
    EXPECT_EQ(m.Size(), 6 + static_cast<int64_t>(e.CentralRecordSize()));
    m.WriteBuffer("PK\x05\x06", 4);

    m.SetPosition(6);
    TZipHeaderInfo r;
    r.LocalExtraLength = 7;  // kept: a central record does not carry it
    TStream* s = &m;
    ASSERT_TRUE(r.ReadCentral(s));
    EXPECT_EQ(s, &m);
    EXPECT_EQ(m.Position(), 6 + 46 + 13 + 9);  // after the comment
    EXPECT_EQ(r.StoredName(), "DB/Readme.TXT");
    EXPECT_EQ(r.CommentLength, 9);
    EXPECT_FALSE(r.Comment().has_value());  // loaded on demand
    EXPECT_EQ(r.CentralRecordOffset, 6u);
    EXPECT_EQ(r.LocalHeaderOffset, 0x01020304u);
    EXPECT_EQ(r.DiskNumberStart, 2);
    EXPECT_EQ(r.ExternalAttributes, 0x21u);
    EXPECT_EQ(r.InternalAttributes, 0);
    EXPECT_EQ(r.LocalExtraLength, 7);
    EXPECT_FALSE(r.ReadCentral(s));  // the end record follows
    EXPECT_EQ(m.Position(), 6 + 46 + 13 + 9);
}

TEST(ZipHeaderInfo, CommentBytesMatchTheirLength) {
    // However the comment stands in memory, the record holds exactly the bytes its length claims.
    TZipHeaderInfo e = Readme();
    e.SetComment(std::string("twelve bytes"));
    TZipHeaderInfo notLoaded;
    notLoaded.Assign(e);
    notLoaded.SetComment(std::nullopt);
    notLoaded.CommentLength = 12;  // as after reading a central record
    for (TZipHeaderInfo* x : {&e, &notLoaded}) {
        TMemoryStream m;
        x->WriteCentral(m);
        EXPECT_EQ(m.Size(), static_cast<int64_t>(x->CentralRecordSize()));
        TZipHeaderInfo second = Readme();
        second.WriteCentral(m);
        m.SetPosition(0);
        TStream* s = &m;
        TZipHeaderInfo r;
        ASSERT_TRUE(r.ReadCentral(s));
        ASSERT_TRUE(r.ReadCentral(s)) << "the record after it is found where it belongs";
    }
}

TEST(ZipHeaderInfo, NamesFromOtherTools) {
    struct Case {
        std::string stored;
        uint16_t flags;
        const char* dir;
        const char* file;
    };
    const Case cases[] = {
        {"DB\\x.txt", 0, "DB/", "x.txt"},                             // a stored backslash is a separator
        {"a/b/c/", 0, "a/b/c/", ""},
        {"caf\x82.txt", 0, "", "caf\xC3\xA9.txt"},                    // CP437
        {"caf\xC3\xA9.txt", 0x0800, "", "caf\xC3\xA9.txt"},           // UTF-8 by bit 11
        {"\xD1\x82/\xFF", 0x0800, "\xD1\x82/", "\xFF"},               // invalid UTF-8 under bit 11 kept as is
    };
    for (const auto& c : cases) {
        TZipHeaderInfo w;
        w.Flags = c.flags;
        TMemoryStream m;
        w.WriteCentral(m);
        // Patch the name in: the setters would convert it.
        std::string b = Bytes(m);
        b[28] = static_cast<char>(c.stored.size());
        b += c.stored;
        TMemoryStream in = FromBytes(b);
        TStream* s = &in;
        TZipHeaderInfo r;
        ASSERT_TRUE(r.ReadCentral(s));
        EXPECT_EQ(r.Directory(), c.dir);
        EXPECT_EQ(r.FileName(), c.file);
        EXPECT_EQ(r.FileNameLength, c.stored.size());
        // Written again, the name comes out as it was read (with '/' for '\').
        std::string again = c.stored;
        for (char& ch : again)
            if (ch == '\\') ch = '/';
        EXPECT_EQ(r.ArchiveNameBytes(), again);
    }
}

TEST(ZipHeaderInfo, ShortAndWrongInputLeavesStreamWhereItWas) {
    TZipHeaderInfo e = Readme();
    TMemoryStream whole;
    e.WriteCentral(whole);
    const std::string rec = Bytes(whole);
    TMemoryStream local;
    e.WriteLocal(local);
    const std::string loc = Bytes(local);
    struct Case {
        std::string bytes;
        bool central;
        const char* what;
    };
    const Case cases[] = {
        {"", true, "nothing"},
        {rec.substr(0, 45), true, "45 of 46 bytes"},
        {rec.substr(0, 50), true, "name cut short"},
        {"PK\x03\x04" + rec.substr(4), true, "local signature where a central one belongs"},
        {loc.substr(0, 29), false, "29 of 30 bytes"},
        {loc.substr(0, 35), false, "local name cut short"},
        {rec, false, "central signature where a local one belongs"},
    };
    for (const auto& c : cases) {
        TMemoryStream m = FromBytes("ab" + c.bytes);
        m.SetPosition(2);
        TZipHeaderInfo r;
        TStream* s = &m;
        EXPECT_FALSE(c.central ? r.ReadCentral(s) : r.ReadLocal(m)) << c.what;
        EXPECT_EQ(m.Position(), 2) << c.what;
    }
}

TEST(ZipHeaderInfo, CentralRecordCompletedFromNextDisk) {
    TZipHeaderInfo e = Readme();
    TMemoryStream whole;
    e.WriteCentral(whole);
    const std::string rec = Bytes(whole);
    for (size_t cut : {size_t{0}, size_t{4}, size_t{20}, size_t{45}}) {
        TMemoryStream disk1 = FromBytes(rec.substr(0, cut));
        TMemoryStream disk2 = FromBytes(rec.substr(cut));
        int calls = 0;
        TStream* s = &disk1;
        TZipHeaderInfo r;
        ASSERT_TRUE(r.ReadCentral(s, [&]() -> TStream* {
            ++calls;
            return &disk2;
        })) << "cut " << cut;
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(s, &disk2);
        EXPECT_EQ(r.StoredName(), "DB/Readme.TXT");
    }
    // A short piece that does not start with the signature is no record: no disk is asked for.
    TMemoryStream junk = FromBytes("PK\x01");
    TStream* s = &junk;
    TZipHeaderInfo r;
    EXPECT_FALSE(r.ReadCentral(s, []() -> TStream* {
        ADD_FAILURE() << "asked for a disk";
        return nullptr;
    }));
}

TEST(ZipHeaderInfo, OffsetBeyond32BitsIsRefused) {
    TMemoryStream m;
    m.SetPosition(int64_t{1} << 32);
    TZipHeaderInfo e = Readme();
    EXPECT_THROW(e.WriteLocal(m), EFileTooLarge);
    EXPECT_EQ(m.Size(), 0);
}

TEST(ZipHeaderInfo, AssignCopiesEverything) {
    TZipHeaderInfo a = Readme();
    a.SetComment(std::string("note"));
    a.State = 2;
    a.MatchFlag = true;
    a.Selected = true;
    a.LocalExtraLength = 4;
    TZipHeaderInfo b;
    b.Assign(a);
    TMemoryStream ma, mb;
    a.WriteCentral(ma);
    b.WriteCentral(mb);
    EXPECT_EQ(Bytes(ma), Bytes(mb));
    EXPECT_EQ(b.Comment(), a.Comment());
    EXPECT_EQ(b.State, 2);
    EXPECT_TRUE(b.MatchFlag && b.Selected);
    EXPECT_EQ(b.LocalExtraLength, 4);
}

}  // namespace
}  // namespace archive
