// The filter bases route single bytes and skips through the derived body's block operations.
#include <gtest/gtest.h>

#include <string>

#include "QmXpl/BufferedOutputStream_t.h"
#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/FilterInputStream_t.h"
#include "QmXpl/FilterOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "support/Bytes.h"
#include "support/Streams.h"
#include "support/TempDir.h"

using namespace QmXplIo;
using qmsec_test::Arr;
using qmsec_test::Str;

namespace {

// Transforming bodies that override only the block operation, as the library's do.
class PlusOneInputImpl : public FilterInputStreamImpl_t {
  public:
    using FilterInputStreamImpl_t::FilterInputStreamImpl_t;
    int Read(char* buf, int len) override {
        int n = in_.Read(buf, len);
        for (int i = 0; i < n; ++i) buf[i] = static_cast<char>(buf[i] + 1);
        return n;
    }
};

class PlusOneInput : public FilterInputStream_t {
  public:
    explicit PlusOneInput(const InputStream_t& in)
        : FilterInputStream_t(new PlusOneInputImpl(in)) {}
};

class PlusOneOutputImpl : public FilterOutputStreamImpl_t {
  public:
    using FilterOutputStreamImpl_t::FilterOutputStreamImpl_t;
    void Write(const char* buf, int len) override {
        std::string t(buf, static_cast<size_t>(len));
        for (char& c : t) c = static_cast<char>(c + 1);
        out_.Write(t.data(), len);
    }
};

class PlusOneOutput : public FilterOutputStream_t {
  public:
    explicit PlusOneOutput(const OutputStream_t& out)
        : FilterOutputStream_t(new PlusOneOutputImpl(out)) {}
};

}  // namespace

TEST(FilterStreamTest, SingleByteAndSkipGoThroughTheDerivedBlockRead) {
    CharArrayInputStream_t raw(Arr("abcdef"));
    PlusOneInput in(raw);
    EXPECT_EQ(in.Read(), 'b');
    // Skipping consumes through the transformation: the position moves past "bc" of the source.
    EXPECT_EQ(in.Skip(2), 2);
    char buf[8];
    ASSERT_EQ(in.Read(buf, sizeof buf), 3);
    EXPECT_EQ(std::string(buf, 3), "efg");
    EXPECT_EQ(in.Read(), -1);
}

TEST(FilterStreamTest, SingleByteWriteGoesThroughTheDerivedBlockWrite) {
    CharArrayOutputStream_t sink;
    PlusOneOutput out(sink);
    out.Write('a');
    out.Write("bc", 2);
    out.Write(static_cast<int>('y'));
    out.Close();
    EXPECT_EQ(Str(sink.ToCharArray()), "bcdz");
}

TEST(FilterStreamTest, PassThroughFilterForwardsEverything) {
    auto* rec = new qmsec_test::RecordingOutputImpl;
    OutputStream_t sink(rec);
    FilterOutputStream_t out(sink);
    out.Write('x');
    out.Write("yz", 2);
    out.Close();
    EXPECT_EQ(rec->data, "xyz");
    EXPECT_EQ(rec->closes, 1);
    EXPECT_GE(rec->flushes, 1);

    CharArrayInputStream_t raw(Arr("0123456789"));
    FilterInputStream_t in(raw);
    EXPECT_EQ(in.Available(), 10);
    EXPECT_EQ(in.Read(), '0');
    EXPECT_EQ(in.Skip(5), 5);
    EXPECT_EQ(in.Read(), '6');
    EXPECT_EQ(in.Skip(100), 3);
    EXPECT_EQ(in.Read(), -1);
}

TEST(FilterStreamTest, ClosingAChainTwiceIsHarmless) {
    // A pass-through filter over a buffer over a recording stream: the second Close must not
    // flush the closed buffer below (which would throw) nor close the bottom again.
    auto* rec = new qmsec_test::RecordingOutputImpl;
    OutputStream_t sink(rec);
    FilterOutputStream_t out(BufferedOutputStream_t(sink, 8));
    out.Write("abc", 3);
    out.Close();
    EXPECT_NO_THROW(out.Close());
    EXPECT_EQ(rec->data, "abc");
    EXPECT_EQ(rec->closes, 1);
    EXPECT_THROW(out.Write("d", 1), IOException_t);  // the closed buffer below refuses
}

namespace {

// A sink whose flush fails, as a full disk below a buffered filter would.
class FailingFlushImpl : public OutputStreamImpl_t {
  public:
    void Write(const char*, int) override {}
    void Flush() override {
        throw IOException_t(QmXplMsg::CreateWarn_t(QmXplStr::String_t("flush failed")));
    }
    void Close() override { ++closes; }
    int closes = 0;
};

}  // namespace

TEST(FilterStreamTest, AFailedFlushDoesNotFinishTheStreamBelow) {
    auto* sink = new FailingFlushImpl;
    OutputStream_t bottom(sink);
    PlusOneOutput out(bottom);
    out.Write("abc", 3);
    EXPECT_THROW(out.Close(), IOException_t);
    // Closing would finish an incomplete output (an atomic file would publish it).
    EXPECT_EQ(sink->closes, 0);
}
