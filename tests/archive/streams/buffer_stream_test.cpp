// The buffered streams: random mixes of reads, writes and seeks compared with an unbuffered stream,
// the seek rules (origin 2, invalid origins, seeking to where one stands), put-back, events, flushing at
// destruction, and a disk that fills up: every lost byte must show up in a count, an exception or Commit.
#include "archive/streams/buffer_stream.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "archive/errors.h"
#include "tests/support/test_support.h"

namespace archive {
namespace {

using testing_support::FileSizeLimit;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

// Buffer size for the streams made while alive.
class BufferSizeScope {
public:
    explicit BufferSizeScope(int size) : old_(BufferStreamSize()) { SetBufferStreamSize(size); }
    ~BufferSizeScope() { SetBufferStreamSize(old_); }

private:
    int old_;
};

// A memory stream that counts what reaches it.
class CountingStream : public TMemoryStream {
public:
    using TMemoryStream::TMemoryStream;
    int64_t Read(void* buffer, int64_t count) override {
        ++reads;
        return TMemoryStream::Read(buffer, count);
    }
    int64_t Write(const void* buffer, int64_t count) override {
        ++writes;
        return TMemoryStream::Write(buffer, count);
    }
    int reads = 0;
    int writes = 0;
};

std::string Str(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST(BufferStream, BehavesLikeTheUnbufferedStream) {
    // Every result of a random mix of operations must equal the same operation on a memory stream, for
    // buffer sizes that make refills, partial buffers and flushes frequent.
    for (int bufferSize : {1, 3, 16, 100, 8192}) {
        BufferSizeScope scope(bufferSize);
        const std::string initial = testing_support::RandomBytes(3000, 5);
        TMemoryStream reference(std::vector<uint8_t>(initial.begin(), initial.end()));
        TMemoryStream backing(std::vector<uint8_t>(initial.begin(), initial.end()));
        uint32_t state = 12345u + static_cast<uint32_t>(bufferSize);
        auto next = [&state](uint32_t bound) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            return state % bound;
        };
        {
            TS_BufferStream buffered(&backing);
            EXPECT_EQ(buffered.BufferSize(), bufferSize);
            for (int step = 0; step < 4000; ++step) {
                SCOPED_TRACE("buffer " + std::to_string(bufferSize) + " step " + std::to_string(step));
                switch (next(6)) {
                    case 0: {
                        const int64_t n = next(300);
                        std::string a(static_cast<size_t>(n), '\0'), b(static_cast<size_t>(n), '\0');
                        const int64_t ra = reference.Read(a.data(), n);
                        ASSERT_EQ(buffered.Read(b.data(), n), ra);
                        ASSERT_EQ(a.substr(0, static_cast<size_t>(ra)), b.substr(0, static_cast<size_t>(ra)));
                        break;
                    }
                    case 1: {
                        const std::string data = testing_support::RandomBytes(next(300), state);
                        const auto n = static_cast<int64_t>(data.size());
                        ASSERT_EQ(reference.Write(data.data(), n), n);
                        ASSERT_EQ(buffered.Write(data.data(), n), n);
                        break;
                    }
                    case 2: {
                        const int64_t to = static_cast<int64_t>(next(3600)) - 100;  // some before the start
                        ASSERT_EQ(buffered.Seek(to, soFromBeginning), reference.Seek(to, soFromBeginning));
                        break;
                    }
                    case 3: {
                        const int64_t by = static_cast<int64_t>(next(400)) - 200;
                        ASSERT_EQ(buffered.Seek(by, soFromCurrent), reference.Seek(by, soFromCurrent));
                        break;
                    }
                    case 4: {
                        // Origin 2 counts back from the end whatever the sign.
                        const int64_t back = next(200);
                        const int64_t off = next(2) ? back : -back;
                        ASSERT_EQ(buffered.Seek(off, soFromEnd), reference.Seek(-back, soFromEnd));
                        break;
                    }
                    case 5:
                        ASSERT_EQ(buffered.Size(), reference.Size());
                        ASSERT_EQ(buffered.Position(), reference.Position());
                        break;
                }
            }
        }  // destruction flushes what is pending
        EXPECT_EQ(Str(backing.Data()), Str(reference.Data())) << "buffer " << bufferSize;
    }
}

TEST(BufferStream, DefaultSizeAndScope) {
    EXPECT_EQ(BufferStreamSize(), 8192);
    TMemoryStream m;
    TS_BufferStream before(&m);
    {
        BufferSizeScope scope(512);
        TS_BufferStream during(&m);
        EXPECT_EQ(during.BufferSize(), 512);
        EXPECT_EQ(before.BufferSize(), 8192);  // taken at construction
        SetBufferStreamSize(0);
        EXPECT_EQ(BufferStreamSize(), 1);  // a buffer holds at least one byte
    }
    EXPECT_EQ(BufferStreamSize(), 8192);
}

TEST(BufferStream, SeekRules) {
    CountingStream m(std::vector<uint8_t>(20000, 7));
    TS_BufferStream s(&m);
    // Seeking to the logical position keeps the read-ahead: the source is read only once.
    uint8_t buf[16];
    s.ReadBuffer(buf, 10);
    EXPECT_EQ(m.reads, 1);
    EXPECT_EQ(s.Seek(10, soFromBeginning), 10);
    EXPECT_EQ(s.Seek(0, soFromCurrent), 10);
    s.ReadBuffer(buf, 10);
    EXPECT_EQ(m.reads, 1);
    // Inside the read-ahead, back or forth: served from it.
    EXPECT_EQ(s.Seek(3, soFromBeginning), 3);
    EXPECT_EQ(s.Seek(8000, soFromBeginning), 8000);
    s.ReadBuffer(buf, 10);
    EXPECT_EQ(m.reads, 1);
    EXPECT_EQ(s.Position(), 8010);
    // Elsewhere: the buffer is dropped and refilled.
    EXPECT_EQ(s.Seek(-22, soFromEnd), 19978);
    EXPECT_EQ(s.Seek(22, soFromEnd), 19978);
    s.ReadBuffer(buf, 10);
    EXPECT_EQ(m.reads, 2);
    EXPECT_EQ(s.Position(), 19988);
    // A seek before the start fails and leaves everything as it was.
    EXPECT_EQ(s.Seek(-100000, soFromCurrent), -1);
    EXPECT_EQ(s.Position(), 19988);
    s.ReadBuffer(buf, 12);
    EXPECT_EQ(m.reads, 2);
    for (int origin : {-1, 3, 7}) {
        try {
            s.Seek(0, origin);
            ADD_FAILURE() << "origin " << origin;
        } catch (const EStreamError& e) {
            EXPECT_EQ(std::string(e.what()), "Invalid seek origin (" + std::to_string(origin) + ")");
        }
    }
}

TEST(BufferStream, PutBack) {
    TMemoryStream m(std::vector<uint8_t>{'a', 'b', 'c', 'd'});
    TS_BufferStream s(&m);
    EXPECT_THROW(s.PutBack('x'), EStreamError);  // nothing read yet
    uint8_t c = 0;
    s.ReadBuffer(&c, 1);
    s.ReadBuffer(&c, 1);
    s.PutBack('X');
    EXPECT_EQ(s.Position(), 1);
    s.ReadBuffer(&c, 1);
    EXPECT_EQ(c, 'X');
    s.PutBack('1');
    s.PutBack('0');
    try {
        s.PutBack('z');
        FAIL() << "no overflow";
    } catch (const EStreamError& e) {
        EXPECT_STREQ(e.what(), "Putback overflow");
    }
    char rest[4] = {};
    EXPECT_EQ(s.Read(rest, 4), 4);
    EXPECT_EQ(std::string(rest, 4), "01cd");
    EXPECT_EQ(Str(m.Data()), "abcd");  // put-back bytes never reach the source
}

TEST(BufferStream, EventsAndFlushOnDestroy) {
    BufferSizeScope scope(8);
    CountingStream m;
    int fills = 0, flushes = 0;
    {
        TS_BufferStream s(&m);
        s.OnFillBuffer = [&](TS_BufferStream*) { ++fills; };
        s.OnFlushBuffer = [&](TS_BufferStream*) { ++flushes; };
        s.WriteBuffer("0123456789", 10);  // one full buffer goes out, two bytes wait
        EXPECT_EQ(flushes, 1);
        EXPECT_EQ(m.Size(), 8);
        EXPECT_EQ(s.Size(), 10);  // pending bytes count
        EXPECT_TRUE(s.Written());
        s.SetPosition(0);  // flushes the rest
        EXPECT_EQ(m.Size(), 10);
        char buf[10];
        s.ReadBuffer(buf, 10);
        EXPECT_EQ(fills, 2);
        s.SetPosition(10);
        s.WriteBuffer("ab", 2);
        EXPECT_EQ(m.Size(), 10);
    }
    EXPECT_EQ(Str(m.Data()), "0123456789ab");  // the destructor wrote the last two
}

TEST(LFNFileStream, OpensWritesAndReads) {
    TempDir dir;
    const std::string path = dir / "x.zip";
    {
        TLFNFileStream out(path, fmCreate, true);
        EXPECT_TRUE(out.FlushOnDestroy);
        EXPECT_EQ(out.FileName(), path);
        EXPECT_EQ(out.Handle(), out.File().Handle());
        const std::string data = testing_support::RandomBytes(50000, 2);
        out.WriteBuffer(data.data(), 50000);
        out.SetPosition(4);
        out.WriteBuffer("HEAD", 4);  // rewriting a header in place
        EXPECT_TRUE(out.Commit(true));
    }
    std::string want = testing_support::RandomBytes(50000, 2);
    want.replace(4, 4, "HEAD");
    EXPECT_EQ(ReadFile(path), want);

    TLFNFileStream in(path, fmOpenRead | fmShareDenyWrite, true);
    EXPECT_FALSE(in.FlushOnDestroy);  // nothing to flush on a stream opened for reading
    std::string back(50000, '\0');
    in.ReadBuffer(back.data(), 50000);
    EXPECT_EQ(back, want);

    struct Case {
        uint16_t mode;
        bool flush, want;
    };
    for (const Case& c : {Case{fmOpenWrite, true, true}, Case{fmOpenReadWrite | fmShareExclusive, true, true},
                          Case{fmOpenRead | fmShareExclusive, true, false}, Case{fmOpenReadWrite, false, false}}) {
        TLFNFileStream s(path, c.mode, c.flush);
        EXPECT_EQ(s.FlushOnDestroy, c.want) << "mode " << c.mode;
    }
    EXPECT_THROW(TLFNFileStream(dir / "missing.zip", fmOpenRead), EFOpenError);
}

TEST(LFNFileStream, FullDiskIsNeverReportedAsSuccess) {
    // /dev/full: the first bytes fit in the buffer, so only Commit can tell.
    {
        TLFNFileStream s("/dev/full", fmOpenWrite);
        EXPECT_EQ(s.Write("abc", 3), 3);
        EXPECT_FALSE(s.Commit(false));
        EXPECT_FALSE(s.Commit(false));  // and stays failed
    }
    // A write that fills the buffer reports how much of it reached the file.
    {
        TLFNFileStream s("/dev/full", fmOpenWrite);
        const std::string data(20000, 'x');
        EXPECT_EQ(s.Write(data.data(), 20000), 0);
        EXPECT_THROW(s.WriteBuffer(data.data(), 20000), EWriteError);
    }
    // Pending bytes that cannot be written make a seek fail rather than vanish.
    {
        TLFNFileStream s("/dev/full", fmOpenWrite);
        s.WriteBuffer("abc", 3);
        try {
            s.Seek(0, soFromBeginning);
            FAIL() << "seek succeeded";
        } catch (const EStreamError& e) {
            EXPECT_STREQ(e.what(), "\nSeek error");
        }
    }
    // ... and a read.
    {
        TLFNFileStream s("/dev/full", fmOpenReadWrite);
        s.WriteBuffer("abc", 3);
        char c;
        EXPECT_THROW(s.Read(&c, 1), EWriteError);
    }
}

TEST(LFNFileStream, PartialWriteCountsExactly) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no per-process file size limit to fill the disk with";
#endif
    TempDir dir;
    const std::string data = testing_support::RandomBytes(30000, 4);
    struct Case {
        int64_t room;       // bytes the disk takes
        int64_t first;      // written (and buffered) before
        int64_t second;     // the write whose count is checked
        int64_t want;       // what it reports
    };
    const Case cases[] = {
        {10000, 0, 20000, 10000},  // second buffer goes out short: 8192 + 1808
        {10000, 8192, 8192, 1808},
        {8192, 0, 8192, 8192},     // exactly fits
        {8191, 0, 8192, 8191},     // one byte short of an exact fill must not read as success
        {50, 100, 8092, 0},        // earlier bytes were lost too: nothing of this call arrived
        {5000, 3000, 5192, 2000},  // 3000 earlier, then 2000 of this call
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("room " + std::to_string(c.room) + " first " + std::to_string(c.first));
        const std::string path = dir / "out";
        TLFNFileStream s(path, fmCreate);
        FileSizeLimit limit(static_cast<uint64_t>(c.room));
        if (c.first) {
            EXPECT_EQ(s.Write(data.data(), c.first), c.first);
        }
        EXPECT_EQ(s.Write(data.data() + c.first, c.second), c.want);
        const bool everything = c.first + c.second <= c.room;
        EXPECT_EQ(s.Commit(false), everything);
        EXPECT_EQ(ReadFile(path), data.substr(0, static_cast<size_t>(std::min(c.room, c.first + c.second))));
    }
}

}  // namespace
}  // namespace archive
