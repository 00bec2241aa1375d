#include <gtest/gtest.h>

#include <random>
#include <string>

#include "QmXpl/BufferedInputStream_t.h"
#include "QmXpl/BufferedOutputStream_t.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/TraceObj_t.h"
#include "support/Bytes.h"
#include "support/Streams.h"
#include "support/TempDir.h"

using namespace QmXplIo;
using qmsec_test::Arr;
using qmsec_test::RecordingOutputImpl;
using qmsec_test::ScriptedInputImpl;
using qmsec_test::Str;

namespace {

std::string ReadAllFrom(const InputStream_t& in, std::mt19937& rng, int maxRead) {
    std::string out;
    std::string buf(static_cast<size_t>(maxRead), '\0');
    std::uniform_int_distribution<int> size(1, maxRead);
    for (;;) {
        int n = in.Read(buf.data(), size(rng));
        if (n < 0) break;
        out.append(buf.data(), static_cast<size_t>(n));
    }
    return out;
}

std::string ReadExactly(const InputStream_t& in, int len) {
    std::string out(static_cast<size_t>(len), '\0');
    int n = 0;
    while (n < len) {
        int got = in.Read(out.data() + n, len - n);
        if (got < 0) break;
        n += got;
    }
    out.resize(static_cast<size_t>(n));
    return out;
}

// Bodies that move data one byte at a time through the fast paths, as the library's
// scrambling streams do.
class XorInImpl : public BufferedInputStreamImpl_t {
  public:
    XorInImpl(const InputStream_t& in, int size) : BufferedInputStreamImpl_t(in, size) {}
    int Read(char* buf, int len) override {
        int j = 0;
        for (; j < len; ++j) {
            int b = ReadBuffered();
            if (b < 0) break;
            buf[j] = static_cast<char>(b ^ 0x5A);
        }
        return j == 0 ? -1 : j;
    }
};
class XorIn : public BufferedInputStream_t {
  public:
    XorIn(const InputStream_t& in, int size) : BufferedInputStream_t(new XorInImpl(in, size)) {}
};
class XorOutImpl : public BufferedOutputStreamImpl_t {
  public:
    XorOutImpl(const OutputStream_t& out, int size) : BufferedOutputStreamImpl_t(out, size) {}
    void Write(const char* buf, int len) override {
        for (int j = 0; j < len; ++j) WriteBuffered(buf[j] ^ 0x5A);
    }
};
class XorOut : public BufferedOutputStream_t {
  public:
    XorOut(const OutputStream_t& out, int size)
        : BufferedOutputStream_t(new XorOutImpl(out, size)) {}
};

}  // namespace

TEST(BufferedInputStreamTest, PeekLeavesBytesUnread) {
    std::string data = "abcdefghijklmnopqrstuvwxyz0123456789";
    // The wrapped stream gives 3 bytes at a time and answers every other read with 0 bytes.
    InputStream_t raw(new ScriptedInputImpl(data, 3, true));
    BufferedInputStream_t in(raw, 16);

    EXPECT_EQ(in.Peek(), 'a');
    EXPECT_EQ(in.Peek(), 'a');
    EXPECT_EQ(in.Read(), 'a');

    char peek[16] = {};
    ASSERT_EQ(in.Peek(peek, 10), 10);  // needs several reads of the wrapped stream
    EXPECT_EQ(std::string(peek, 10), "bcdefghijk");
    EXPECT_EQ(ReadExactly(in, 10), "bcdefghijk");

    // Part of the buffer is consumed; a peek of 14 must move the rest to the front and fill up.
    EXPECT_EQ(ReadExactly(in, 2), "lm");
    ASSERT_EQ(in.Peek(peek, 14), 14);
    EXPECT_EQ(std::string(peek, 14), "nopqrstuvwxyz0");
    // More than the buffer holds: as much as it holds.
    ASSERT_EQ(in.Peek(peek, 100), 16);
    EXPECT_EQ(std::string(peek, 16), "nopqrstuvwxyz012");

    std::mt19937 rng(7);
    EXPECT_EQ(ReadAllFrom(in, rng, 5), "nopqrstuvwxyz0123456789");
    EXPECT_EQ(in.Peek(), -1);
    EXPECT_EQ(in.Peek(peek, 4), -1);
    EXPECT_EQ(in.Peek(peek, 0), 0);
}

TEST(BufferedInputStreamTest, PeekNearTheEndGivesWhatIsLeft) {
    InputStream_t raw(new ScriptedInputImpl("xyz", 1, false));
    BufferedInputStream_t in(raw, 8);
    char peek[8];
    ASSERT_EQ(in.Peek(peek, 8), 3);
    EXPECT_EQ(std::string(peek, 3), "xyz");
    EXPECT_EQ(in.Available(), 3);
    EXPECT_EQ(in.Read(), 'x');
    EXPECT_EQ(in.Available(), 2);
}

TEST(BufferedInputStreamTest, RandomReadSizesReturnEveryByteInOrder) {
    std::mt19937 rng(20261208);
    for (int bufSize : {1, 7, 4096, 8192}) {
        for (bool stutter : {false, true}) {
            std::string data = qmsec_test::RandomBytes(rng, 300 * 1024 + 17);
            InputStream_t raw(
                new ScriptedInputImpl(data, 1 + static_cast<int>(rng() % 20000), stutter));
            BufferedInputStream_t in(raw, bufSize);
            std::string got = ReadAllFrom(in, rng, 64 * 1024);
            ASSERT_EQ(got.size(), data.size()) << "buffer " << bufSize;
            ASSERT_TRUE(got == data) << "buffer " << bufSize;
        }
    }
}

TEST(BufferedInputStreamTest, LargeReadsBypassAnEmptyBuffer) {
    std::mt19937 rng(3);
    std::string data = qmsec_test::RandomBytes(rng, 20000);
    auto* raw = new ScriptedInputImpl(data, 100000, false);
    InputStream_t rawHandle(raw);
    BufferedInputStream_t in(rawHandle, 1024);
    std::string buf(8192, '\0');

    // Empty buffer, request >= its size: straight into the caller's memory.
    ASSERT_EQ(in.Read(buf.data(), 4096), 4096);
    ASSERT_EQ(raw->requests.size(), 1u);
    EXPECT_EQ(raw->requests[0], 4096);
    EXPECT_EQ(buf.substr(0, 4096), data.substr(0, 4096));

    // A small request fills the buffer with one read of its size.
    ASSERT_EQ(in.Read(buf.data(), 10), 10);
    ASSERT_EQ(raw->requests.size(), 2u);
    EXPECT_EQ(raw->requests[1], 1024);
    EXPECT_EQ(buf.substr(0, 10), data.substr(4096, 10));

    // A large request while bytes are buffered gets those first, without another wrapped read.
    ASSERT_EQ(in.Read(buf.data(), 4096), 1014);
    EXPECT_EQ(raw->requests.size(), 2u);
    EXPECT_EQ(buf.substr(0, 1014), data.substr(4106, 1014));
}

TEST(BufferedInputStreamTest, AvailableCloseAndErrors) {
    auto* raw = new ScriptedInputImpl(std::string(100, 'q'), 10, false);
    InputStream_t rawHandle(raw);
    BufferedInputStream_t in(rawHandle, 32);
    EXPECT_EQ(in.Available(), 100);
    EXPECT_EQ(in.Read(), 'q');  // buffer holds 9 more, wrapped stream 90
    EXPECT_EQ(in.Available(), 99);
    in.Close();
    EXPECT_EQ(raw->closes, 1);
    in.Close();  // harmless
    EXPECT_EQ(raw->closes, 1);
    char c;
    EXPECT_THROW(in.Read(&c, 1), IOException_t);
    EXPECT_THROW(in.Read(), IOException_t);
    EXPECT_THROW(in.Peek(), IOException_t);
    EXPECT_THROW(in.Available(), IOException_t);

    EXPECT_THROW(BufferedInputStream_t(rawHandle, 0), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(BufferedInputStream_t(InputStream_t(), 8), QmXplMsg::IllegalArgumentError_t);
    BufferedInputStream_t empty;
    EXPECT_THROW(empty.Peek(), QmXplMsg::IllegalStateError_t);
    BufferedInputStream_t one(CharArrayInputStream_t(Arr("a")));
    EXPECT_THROW(one.Peek(nullptr, 3), QmXplMsg::IllegalArgumentError_t);
}

TEST(BufferedOutputStreamTest, RandomWriteSizesArriveInOrder) {
    std::mt19937 rng(11);
    for (int bufSize : {1, 5, 4096, 8192}) {
        std::string data = qmsec_test::RandomBytes(rng, 400 * 1024 + 3);
        CharArrayOutputStream_t sink;
        BufferedOutputStream_t out(sink, bufSize);
        std::uniform_int_distribution<size_t> size(1, 64 * 1024);
        for (size_t pos = 0; pos < data.size();) {
            size_t n = std::min(size(rng), data.size() - pos);
            if (n == 1 && (rng() & 1))
                out.Write(static_cast<unsigned char>(data[pos]));
            else
                out.Write(data.data() + pos, static_cast<int>(n));
            pos += n;
        }
        out.Close();
        ASSERT_TRUE(Str(sink.ToCharArray()) == data) << "buffer " << bufSize;
    }
}

TEST(BufferedOutputStreamTest, LargeWritesBypassAndFlushOrder) {
    auto* rec = new RecordingOutputImpl;
    OutputStream_t sink(rec);
    BufferedOutputStream_t out(sink, 1024);
    out.Write("0123456789", 10);
    EXPECT_TRUE(rec->writeSizes.empty());  // still buffered
    std::string big(5000, 'B');
    out.Write(big.data(), 5000);
    // The buffered bytes go first, then the large block in one piece.
    ASSERT_EQ(rec->writeSizes.size(), 2u);
    EXPECT_EQ(rec->writeSizes[0], 10);
    EXPECT_EQ(rec->writeSizes[1], 5000);
    out.Write("tail", 4);
    EXPECT_EQ(rec->flushes, 0);
    out.Flush();
    EXPECT_EQ(rec->flushes, 1);
    EXPECT_EQ(rec->data, "0123456789" + big + "tail");
    out.Write("end", 3);
    out.Close();
    EXPECT_EQ(rec->data, "0123456789" + big + "tailend");
    EXPECT_EQ(rec->closes, 1);
    out.Close();  // harmless
    EXPECT_EQ(rec->closes, 1);
    EXPECT_THROW(out.Write("x", 1), IOException_t);
    EXPECT_THROW(out.Write('x'), IOException_t);
    EXPECT_THROW(out.Flush(), IOException_t);
}

TEST(BufferedOutputStreamTest, BufferedBytesReachTheWrappedStreamWithoutClose) {
    auto* rec = new RecordingOutputImpl;
    OutputStream_t sink(rec);
    {
        BufferedOutputStream_t out(sink, 1024);
        out.Write("kept", 4);
    }
    EXPECT_EQ(rec->data, "kept");
    EXPECT_EQ(rec->closes, 0);
}

TEST(BufferedOutputStreamTest, CloseLeavesTheWrappedStreamUnfinishedWhenWritingFails) {
    auto* rec = new RecordingOutputImpl;
    rec->failAfter = 0;
    OutputStream_t sink(rec);
    BufferedOutputStream_t out(sink, 64);
    out.Write("abc", 3);
    EXPECT_THROW(out.Close(), IOException_t);
    // The bytes never arrived: finishing the stream below would make a short output look whole.
    EXPECT_EQ(rec->closes, 0);
    EXPECT_THROW(out.Write("x", 1), IOException_t);
}

TEST(BufferedStreamTest, DerivedBodiesMoveBytesThroughTheFastPaths) {
    std::mt19937 rng(5);
    for (int bufSize : {1, 3, 8192}) {
        std::string data = qmsec_test::RandomBytes(rng, 100 * 1024 + 1);
        CharArrayOutputStream_t sink;
        XorOut out(sink, bufSize);
        std::uniform_int_distribution<size_t> size(1, 9000);
        for (size_t pos = 0; pos < data.size();) {
            size_t n = std::min(size(rng), data.size() - pos);
            out.Write(data.data() + pos, static_cast<int>(n));
            pos += n;
        }
        out.Close();
        std::string scrambled = Str(sink.ToCharArray());
        ASSERT_EQ(scrambled.size(), data.size());
        EXPECT_EQ(static_cast<unsigned char>(scrambled[0]),
                  static_cast<unsigned char>(data[0] ^ 0x5A));

        InputStream_t raw(new ScriptedInputImpl(scrambled, 777, true));
        XorIn in(raw, bufSize);
        EXPECT_EQ(in.Peek(), static_cast<unsigned char>(scrambled[0]));  // raw bytes of the buffer
        ASSERT_TRUE(ReadAllFrom(in, rng, 5000) == data) << "buffer " << bufSize;
        in.Close();
        char c;
        EXPECT_THROW(in.Read(&c, 1), IOException_t);  // the fast path sees the closed state
        EXPECT_THROW(out.Write("x", 1), IOException_t);
    }
}

TEST(BufferedOutputStreamTest, ALossAtDestructionIsTraced) {
    QmXplTrc::MemoryTraceSink_t sink;
    QmXplTrc::TraceSink_i* previous = QmXplTrc::TraceConfig_t::SetSink(&sink);
    QmXplTrc::TraceConfig_t::Configure("qmxpl.io=2");
    {
        auto* rec = new RecordingOutputImpl;
        rec->failAfter = 0;
        BufferedOutputStream_t out(OutputStream_t(rec), 64);
        out.Write("lost", 4);
    }  // a destructor cannot throw: the failure goes to the trace
    QmXplTrc::TraceConfig_t::Configure("qmxpl.io=0");
    QmXplTrc::TraceConfig_t::SetSink(previous);
    bool found = false;
    for (const std::string& t : sink.GetTexts())
        found = found || (t.find("bytes lost at destruction") != std::string::npos &&
                          t.find("simulated failure") != std::string::npos);
    EXPECT_TRUE(found);
}
