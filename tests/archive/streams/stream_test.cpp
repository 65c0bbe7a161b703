// The plain streams: opening files in each mode and the errors of failed opens, full-count helpers,
// copying, seeking, the memory stream, and a disk that fills up.
#include "archive/streams/stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "archive/errors.h"
#include "tests/support/test_support.h"

namespace archive {
namespace {

using testing_support::FileSizeLimit;
using testing_support::MakeDirs;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string ReadAll(TStream& s) {
    std::string out(static_cast<size_t>(s.Size()), '\0');
    s.SetPosition(0);
    s.ReadBuffer(out.data(), static_cast<int64_t>(out.size()));
    return out;
}

TEST(FileStream, OpenModes) {
    TempDir dir;
    const std::string path = dir / "a.bin";
    WriteFile(path, "0123456789");
    struct Case {
        uint16_t mode;
        bool canRead, canWrite;
    };
    const Case cases[] = {
        {fmOpenRead, true, false},
        {fmOpenRead | fmShareDenyWrite, true, false},  // share bits are accepted and ignored
        {fmOpenWrite, false, true},
        {fmOpenWrite | fmShareExclusive, false, true},
        {fmOpenReadWrite | fmShareDenyNone, true, true},
    };
    for (const auto& c : cases) {
        TFileStream f(path, c.mode);
        EXPECT_EQ(f.FileName(), path);
        EXPECT_GE(f.Handle(), 0);
        EXPECT_EQ(f.Size(), 10);
        char buf[4] = {};
        EXPECT_EQ(f.Read(buf, 4), c.canRead ? 4 : 0) << "mode " << c.mode;
        f.SetPosition(0);
        EXPECT_EQ(f.Write("ab", 2), c.canWrite ? 2 : 0) << "mode " << c.mode;
        WriteFile(path, "0123456789");
    }
    // Opening is not exclusive: a second stream on the same file works (no mandatory locks).
    TFileStream a(path, fmOpenRead | fmShareExclusive);
    TFileStream b(path, fmOpenReadWrite | fmShareExclusive);
    EXPECT_EQ(ReadAll(a), "0123456789");
}

TEST(FileStream, CreateTruncatesAndReadsBack) {
    TempDir dir;
    const std::string path = dir / "new.bin";
    WriteFile(path, std::string(1000, 'x'));
    {
        TFileStream f(path, fmCreate);
        EXPECT_EQ(f.Size(), 0);
        f.WriteBuffer("hello", 5);
        EXPECT_EQ(f.Position(), 5);
        EXPECT_EQ(ReadAll(f), "hello");  // fmCreate is for reading too
    }
    EXPECT_EQ(ReadFile(path), "hello");
}

TEST(FileStream, FailedOpensNameFileAndCause) {
    TempDir dir;
    MakeDirs(dir / "folder");
    struct Case {
        std::string name;
        uint16_t mode;
        bool create;  // EFCreateError rather than EFOpenError
        std::string cause;
    };
    const Case cases[] = {
        {dir / "missing.zip", fmOpenRead, false, std::strerror(ENOENT)},
        {dir / "missing.zip", fmOpenReadWrite, false, std::strerror(ENOENT)},
        {dir / "no/such/dir/x.zip", fmCreate, true, std::strerror(ENOENT)},
        {dir / "folder", fmOpenRead, false, std::strerror(EISDIR)},
        {dir / "folder", fmCreate, true, std::strerror(EISDIR)},
        {dir / "folder", 3, false, std::strerror(EINVAL)},  // both access bits: no such mode
    };
    for (const auto& c : cases) {
        const std::string want = (c.create ? "Cannot create file \"" : "Cannot open file \"") + c.name + "\". " + c.cause;
        try {
            TFileStream f(c.name, c.mode);
            ADD_FAILURE() << "opened " << c.name << " mode " << c.mode;
        } catch (const EFCreateError& e) {
            EXPECT_TRUE(c.create) << c.name;
            EXPECT_EQ(std::string(e.what()), want);
        } catch (const EFOpenError& e) {
            EXPECT_FALSE(c.create) << c.name;
            EXPECT_EQ(std::string(e.what()), want);
        }
    }
}

TEST(FileStream, SeekOrigins) {
    TempDir dir;
    WriteFile(dir / "s", "abcdefghij");
    TFileStream f(dir / "s", fmOpenRead);
    EXPECT_EQ(f.Seek(3, soFromBeginning), 3);
    EXPECT_EQ(f.Seek(2, soFromCurrent), 5);
    EXPECT_EQ(f.Seek(-4, soFromEnd), 6);
    char c = 0;
    f.ReadBuffer(&c, 1);
    EXPECT_EQ(c, 'g');
    EXPECT_EQ(f.Seek(-1, soFromBeginning), -1);
    EXPECT_EQ(f.Position(), 7);  // a failed seek does not move
    EXPECT_THROW(f.Seek(0, 3), EStreamError);
}

TEST(FileStream, FullDiskShowsAsShortWrite) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no per-process file size limit to fill the disk with";
#endif
    // /dev/full fails every write with ENOSPC.
    TFileStream full("/dev/full", fmOpenWrite);
    EXPECT_EQ(full.Write("abc", 3), 0);
    EXPECT_EQ(errno, ENOSPC);
    try {
        full.WriteBuffer("abc", 3);
        FAIL() << "no error";
    } catch (const EWriteError& e) {
        EXPECT_STREQ(e.what(), "Stream write error");
    }

    // A disk with 10000 bytes left: a larger write moves exactly what fits and says so.
    TempDir dir;
    TFileStream f(dir / "big", fmCreate);
    const std::string data = testing_support::RandomBytes(25000, 1);
    {
        FileSizeLimit limit(10000);
        EXPECT_EQ(f.Write(data.data(), 25000), 10000);
        EXPECT_EQ(f.Write(data.data(), 1), 0);
    }
    EXPECT_EQ(ReadFile(dir / "big"), data.substr(0, 10000));
}

TEST(Stream, ReadBufferRaisesOnShortRead) {
    TMemoryStream m(std::vector<uint8_t>{1, 2, 3});
    uint8_t buf[4];
    try {
        m.ReadBuffer(buf, 4);
        FAIL() << "no error";
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    m.SetPosition(0);
    m.ReadBuffer(buf, 0);  // nothing asked, nothing raised
    m.ReadBuffer(buf, 3);
    EXPECT_EQ(buf[2], 3);
}

TEST(Stream, CopyFrom) {
    const std::string text = testing_support::TextBytes(200000, 9);
    TMemoryStream src(std::vector<uint8_t>(text.begin(), text.end()));
    src.SetPosition(1234);

    // Count 0: all of the source from its start, wherever it stood.
    TMemoryStream all;
    EXPECT_EQ(all.CopyFrom(src, 0), 200000);
    EXPECT_EQ(std::string(all.Data().begin(), all.Data().end()), text);

    // A count: from where the source stands.
    src.SetPosition(100);
    TMemoryStream part;
    EXPECT_EQ(part.CopyFrom(src, 70000), 70000);
    EXPECT_EQ(std::string(part.Data().begin(), part.Data().end()), text.substr(100, 70000));

    // More than the source holds.
    src.SetPosition(199990);
    TMemoryStream tooMuch;
    EXPECT_THROW(tooMuch.CopyFrom(src, 11), EReadError);
}

TEST(MemoryStream, SeekReadWrite) {
    TMemoryStream m;
    m.WriteBuffer("abc", 3);
    EXPECT_EQ(m.Seek(5, soFromBeginning), 5);
    m.WriteBuffer("x", 1);  // past the end: the gap reads as zeros
    EXPECT_EQ(std::string(m.Data().begin(), m.Data().end()), std::string("abc\0\0x", 6));
    EXPECT_EQ(m.Seek(-2, soFromEnd), 4);
    EXPECT_EQ(m.Seek(-10, soFromCurrent), -1);
    EXPECT_EQ(m.Position(), 4);
    char buf[8];
    EXPECT_EQ(m.Read(buf, 8), 2);
    EXPECT_EQ(m.Read(buf, 8), 0);
    m.SetPosition(100);
    EXPECT_EQ(m.Read(buf, 8), 0);
    EXPECT_EQ(m.Size(), 6);
}

}  // namespace
}  // namespace archive
