// TraceText renderings, GetMsg/GetCombinedMsg, and the cost and safety rules of tracing.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "QmSecCoreTrc/TraceText.h"
#include "QmSecCoreTrc/Tracer.h"
#include "QmXpl/Message_t.h"
#include "Throw.h"
#include "Trace.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCoreTrc::TraceText;
using AsHex = QmSecCoreTrc::TraceText::AsHex;

std::string Render(auto&& value) {
    TraceText t;
    t << value;
    return t.GetMsg();
}

TEST(TraceTextTest, SixteenBitTextIsEscaped) {
    const unsigned short text[] = {'a', '&', 'b', 0xE9, 0x20AC, 0};
    EXPECT_EQ(Render(static_cast<const unsigned short*>(text)), "a&amp;b&E9;&20AC;");
    EXPECT_EQ(Render(static_cast<unsigned short>(0x7F)), "\x7F");
    EXPECT_EQ(Render(static_cast<unsigned short>(0x80)), "&80;");
    EXPECT_EQ(Render(static_cast<unsigned short>(0xFF)), "&FF;");
    EXPECT_EQ(Render(static_cast<unsigned short>(0x100)), "&0100;");
    EXPECT_EQ(Render(static_cast<unsigned short>('&')), "&amp;");
}

TEST(TraceTextTest, ArraysPointersAndNumbers) {
    const char bytes[] = {0x01, static_cast<char>(0xAB), static_cast<char>(0xFF)};
    EXPECT_EQ(Render(QmXplArray::CharArray_t(bytes, 3)), "{01 AB FF}");
    EXPECT_EQ(Render(QmXplArray::CharArray_t()), "{}");
    const unsigned short units[] = {0x41, 0x20AC};
    EXPECT_EQ(Render(QmXplArray::UTF16CharArray_t(units, 2)), "{0041 20AC}");
    EXPECT_EQ(Render(QmXplArray::UTF16CharArray_t()), "{}");
    EXPECT_EQ(Render(reinterpret_cast<const void*>(0xBEEF)), "0xBEEF");
    EXPECT_EQ(Render(true), "true");
    EXPECT_EQ(Render(false), "false");
    EXPECT_EQ(Render(-42), "-42");
    EXPECT_EQ(Render(static_cast<const char*>(nullptr)), "");
}

TEST(TraceTextTest, AsHexKeepsTheValuesOwnBits) {
    EXPECT_EQ(Render(AsHex(static_cast<short>(-1))), "{FFFF}");
    EXPECT_EQ(Render(AsHex(static_cast<signed char>(-1))), "{FF}");
    EXPECT_EQ(Render(AsHex(255)), "{FF}");
    EXPECT_EQ(Render(AsHex(256)), "{0100}");
    EXPECT_EQ(Render(AsHex(65536)), "{00010000}");
    EXPECT_EQ(Render(AsHex(-1)), "{FFFFFFFF}");
    EXPECT_EQ(AsHex(static_cast<short>(-2)).Value(), 0xFFFEu);
}

TEST(TraceTextTest, StringsInTheSystemEncoding) {
    QmXplStr::String_t s("caf\xC3\xA9");
    EXPECT_EQ(Render(s), "caf\xC3\xA9");
    EXPECT_EQ(Render(QmXplStr::UTF8_t(s)), "caf\xC3\xA9");
    EXPECT_EQ(Render(QmXplStr::MBS_t(s)), "caf\xC3\xA9");
}

TEST(TraceTextTest, MessagesAndExceptionsOnOneLineWithDetails) {
    QmXplMsg::Message_t m = QmSecCore::detail::CatalogMessage(21) << "a.txt";
    m.AddDetail(QmXplMsg::CreateWarn_t(QmXplStr::String_t("disk full")));
    EXPECT_EQ(Render(m), "[sec.core 21] Could not read file 'a.txt'. (disk full)");
    QmXplMsg::RuntimeException_t e(m);
    EXPECT_EQ(Render(e), "[sec.core 21] Could not read file 'a.txt'. (disk full)");
}

TEST(TraceTextTest, GetMsgJoinsPiecesAndIsStable) {
    TraceText t;
    EXPECT_STREQ(t.GetMsg(), "");
    t << "x=" << 5 << "!";
    EXPECT_STREQ(t[0], "x=");
    EXPECT_STREQ(t[1], "5");
    EXPECT_STREQ(t[2], "!");
    EXPECT_STREQ(t.GetMsg(), "x=5!");
    EXPECT_STREQ(t.GetMsg(), "x=5!");
    EXPECT_STREQ(t[1], "");  // joined into the first node
    t << "?";
    EXPECT_STREQ(t.GetMsg(), "x=5!?");
}

TEST(TraceTextTest, CombinedMessageReplacesNumberedPieces) {
    TraceText t;
    t << "%1 of %2"
      << "3"
      << "7";
    EXPECT_STREQ(t.GetCombinedMsg(), "3 of 7");
    TraceText u;
    u << "%12|%x|%0|%9|%"
      << "one";
    // "%12": piece 1 then "2"; "%x": a non-digit is piece 0, the pattern itself; "%9" is absent.
    EXPECT_STREQ(u.GetCombinedMsg(), "one2|%12|%x|%0|%9|%|%12|%x|%0|%9|%||%");
}

TEST(TraceTextTest, IndexBeyondTheLastNodeIsEmpty) {
    TraceText t;
    EXPECT_STREQ(t[0], "");
    EXPECT_STREQ(t[5], "");
    EXPECT_STREQ(t[-1], "");
    t << "a";
    EXPECT_STREQ(t[1], "");
}

// A value whose rendering would be observable.
struct Noisy {
    int* renders;
};
QmSecCoreTrc::TraceText& operator<<(QmSecCoreTrc::TraceText& t, const Noisy& n) {
    ++*n.renders;
    return t << "noisy";
}

TEST(TracingTest, DisabledLevelComposesNothing) {
    qmsec_test::TraceCapture capture("sec.core.base=0x8");  // bit 3 only: level 9 is off
    int renders = 0;
    QMSEC_TRACE(QmSecCoreTrc::kCoreArea.init, QmSecCoreTrc::kLevelProc, Noisy{&renders});
    EXPECT_EQ(renders, 0);
    EXPECT_TRUE(capture.Texts().empty());
    QmXplTrc::TraceConfig_t::Configure("sec.core.base=9");
    QMSEC_TRACE(QmSecCoreTrc::kCoreArea.init, QmSecCoreTrc::kLevelProc, Noisy{&renders} << " on");
    EXPECT_EQ(renders, 1);
    EXPECT_EQ(capture.Texts(), std::vector<std::string>{"noisy on"});
}

class ThrowingSink : public QmXplTrc::TraceSink_i {
  public:
    void Write(const QmXplTrc::TraceRecord_t&) override { throw std::runtime_error("sink broken"); }
};

TEST(TracingTest, FailingSinkNeverChangesAnOutcome) {
    qmsec_test::TraceCapture capture;
    ThrowingSink broken;
    QmXplTrc::TraceSink_i* previous = QmXplTrc::TraceConfig_t::SetSink(&broken);
    EXPECT_NO_THROW(QMSEC_TRACE(QmSecCoreTrc::kCoreArea.operation, 25, "line"));
    { QMSEC_BLOCK(QmSecCoreTrc::kCoreArea.proc, "Block()"); }
    // The thrown exception is the library's, not the sink's.
    EXPECT_THROW(QMSEC_THROW_MSG(QmSecCoreTrc::kCoreArea, QmXplMsg::IllegalArgumentError_t, 40, ),
                 QmXplMsg::IllegalArgumentError_t);
    QmXplTrc::TraceConfig_t::SetSink(previous);
}

TEST(TracingTest, ThrowLineGoesToTheAreasOperationObjectWithSourcePosition) {
    qmsec_test::TraceCapture capture("sec.core.io=2");
    try {
        QMSEC_THROW_MSG(QmSecCoreTrc::kIoArea, QmXplMsg::IllegalArgumentError_t, 74, << 24);
    } catch (const QmXplMsg::IllegalArgumentError_t& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 74);
    }
    auto records = capture.Records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text,
              "Throwing exception 'QmXplMsg::IllegalArgumentError_t': [sec.core 74] Key is not "
              "long enough "
              "for selected algorithm. Expected length is 24.");
    EXPECT_EQ(records[0].area, "sec.core.io");
    EXPECT_EQ(records[0].category, 7);
    EXPECT_EQ(records[0].level, 2u);
    EXPECT_EQ(records[0].file, "TraceText_test.cpp");
    EXPECT_GT(records[0].line, 0);
}

TEST(TracerTest, ThirteenObjectsWithTheirAreasAndCategories) {
    using QmSecCoreTrc::Tracer;
    struct {
        QmXplTrc::TraceObj_t& obj;
        const char* area;
        int category;
    } expected[] = {
        {Tracer::GetAuthTracerOperation(), "sec.core.auth", 7},
        {Tracer::GetAuthTracerInit(), "sec.core.auth", 5},
        {Tracer::GetAuthTracerProc(), "sec.core.auth", 3},
        {Tracer::GetCoreTracerOperation(), "sec.core.base", 7},
        {Tracer::GetCoreTracerInit(), "sec.core.base", 5},
        {Tracer::GetCoreTracerProc(), "sec.core.base", 3},
        {Tracer::GetIoTracerOperation(), "sec.core.io", 7},
        {Tracer::GetIoTracerInit(), "sec.core.io", 5},
        {Tracer::GetIoTracerProc(), "sec.core.io", 3},
        {Tracer::GetSslTracerOperation(), "sec.core.ssl", 7},
        {Tracer::GetSslTracerInit(), "sec.core.ssl", 5},
        {Tracer::GetSslTracerProc(), "sec.core.ssl", 3},
        {Tracer::GetExTracer(), "sec.core.exception", 2},
    };
    std::set<const QmXplTrc::TraceObj_t*> distinct;
    for (auto& e : expected) {
        EXPECT_EQ(e.obj.GetArea(), e.area);
        EXPECT_EQ(e.obj.GetCategory(), e.category);
        distinct.insert(&e.obj);
    }
    EXPECT_EQ(distinct.size(), 13u);
    EXPECT_EQ(&Tracer::GetCoreTracerProc(), &QmSecCoreTrc::kCoreArea.proc.Get());
}

}  // namespace
