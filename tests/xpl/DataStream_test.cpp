#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/DataInputStream_t.h"
#include "QmXpl/DataOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "support/Bytes.h"
#include "support/Streams.h"
#include "support/TempDir.h"

using namespace QmXplIo;
using qmsec_test::Arr;
using qmsec_test::Str;
using QmXplStr::String_t;

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

template <class F>
std::string Written(F write) {
    CharArrayOutputStream_t sink;
    DataOutputStream_t out(sink);
    write(out);
    out.Close();
    return Str(sink.ToCharArray());
}

std::string Utf(const String_t& s) {
    return Hex(Written([&](const DataOutputStream_t& out) { out.WriteJavaUTF(s); }));
}

DataInputStream_t Reader(const std::string& bytes) {
    return DataInputStream_t(CharArrayInputStream_t(Arr(bytes)));
}

// The modified UTF-8 of a UTF-16 text, as the Java class library defines it, written here from
// that definition so that the stream's encoder is checked against a second implementation.
std::string ReferenceJavaUtf(const std::u16string& s) {
    std::string body;
    for (char16_t u : s) {
        if (u >= 0x0001 && u <= 0x007F) {
            body.push_back(static_cast<char>(u));
        } else if (u <= 0x07FF) {
            body.push_back(static_cast<char>(0xC0 | ((u >> 6) & 0x1F)));
            body.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            body.push_back(static_cast<char>(0xE0 | ((u >> 12) & 0x0F)));
            body.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            body.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
    std::string out;
    out.push_back(static_cast<char>((body.size() >> 8) & 0xFF));
    out.push_back(static_cast<char>(body.size() & 0xFF));
    return out + body;
}

std::u16string RandomText(std::mt19937& rng, int maxUnits) {
    std::u16string s;
    int n = static_cast<int>(rng() % static_cast<unsigned>(maxUnits + 1));
    while (static_cast<int>(s.size()) < n) {
        switch (rng() % 6) {
            case 0:
                s.push_back(0);
                break;
            case 1:
                s.push_back(static_cast<char16_t>(1 + rng() % 0x7F));
                break;
            case 2:
                s.push_back(static_cast<char16_t>(0x80 + rng() % 0x780));
                break;
            case 3:
                s.push_back(static_cast<char16_t>(0x800 + rng() % (0xD800 - 0x800)));
                break;
            case 4: {
                uint32_t cp = 0x10000 + rng() % 0x100000;  // beyond the BMP: a surrogate pair
                s.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
                s.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
                break;
            }
            default:
                s.push_back(static_cast<char16_t>(0xE000 + rng() % 0x2000));
        }
    }
    return s;
}

}  // namespace

TEST(DataStreamTest, JavaUtfByteVectors) {
    EXPECT_EQ(Utf(String_t("")), "00 00");
    EXPECT_EQ(Utf(String_t::Null), "00 00");
    EXPECT_EQ(Utf(String_t("A")), "00 01 41");
    EXPECT_EQ(Utf(String_t("\xC3\xA9")), "00 02 C3 A9");                // é
    EXPECT_EQ(Utf(String_t(std::u16string(1, u'\0'))), "00 02 C0 80");  // NUL
    EXPECT_EQ(Utf(String_t(u"\u007F\u0080")), "00 03 7F C2 80");
    EXPECT_EQ(Utf(String_t(u"\u07FF\u0800")), "00 05 DF BF E0 A0 80");
    EXPECT_EQ(Utf(String_t(u"\uFFFF")), "00 03 EF BF BF");
    EXPECT_EQ(Utf(String_t("\xE2\x82\xAC")), "00 03 E2 82 AC");               // €
    EXPECT_EQ(Utf(String_t("\xF0\x9F\x98\x80")), "00 06 ED A0 BD ED B8 80");  // 😀
    EXPECT_EQ(Utf(String_t(std::u16string(u"a\0b", 3))), "00 04 61 C0 80 62");
}

TEST(DataStreamTest, IntegerAndBooleanByteVectors) {
    auto hex = [](auto write) { return Hex(Written(write)); };
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt32(1); }), "00 00 00 01");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt32(-2); }), "FF FF FF FE");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt32(0x12345678); }), "12 34 56 78");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt32(INT32_MIN); }), "80 00 00 00");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt16(-1); }), "FF FF");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt16(0x1234); }), "12 34");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt64(0x0102030405060708LL); }),
              "01 02 03 04 05 06 07 08");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) { o.WriteInt64(-1); }),
              "FF FF FF FF FF FF FF FF");
    EXPECT_EQ(hex([](const DataOutputStream_t& o) {
                  o.WriteBoolean(true);
                  o.WriteBoolean(false);
                  o.WriteByte(0x1FF);
                  o.WriteByte(-128);
              }),
              "01 00 FF 80");

    DataInputStream_t in =
        Reader(std::string("\x00\x00\x00\x01\xFF\xFF\xFF\xFE\x80\x00"
                           "\x01\x02\x03\x04\x05\x06\x07\x08"
                           "\x00\x01\x02\xFF\x7F\x80\xFF",
                           25));
    EXPECT_EQ(in.ReadInt32(), 1);
    EXPECT_EQ(in.ReadInt32(), -2);
    EXPECT_EQ(in.ReadInt16(), INT16_MIN);
    EXPECT_EQ(in.ReadInt64(), 0x0102030405060708LL);
    EXPECT_FALSE(in.ReadBoolean());
    EXPECT_TRUE(in.ReadBoolean());
    EXPECT_TRUE(in.ReadBoolean());  // any non-zero byte is true
    EXPECT_TRUE(in.ReadBoolean());
    EXPECT_EQ(in.ReadByte(), 127);
    EXPECT_EQ(in.ReadByte(), -128);
    EXPECT_EQ(in.ReadUnsignedByte(), 255);
    EXPECT_THROW(in.ReadByte(), EOFException_t);
}

TEST(DataStreamTest, RandomValuesRoundTrip) {
    std::mt19937 rng(42);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::u16string> texts;
        std::vector<int64_t> numbers;
        CharArrayOutputStream_t sink;
        DataOutputStream_t out(sink);
        for (int i = 0; i < 40; ++i) {
            std::u16string t = RandomText(rng, 300);
            int64_t v = static_cast<int64_t>((uint64_t{rng()} << 32) | rng());
            texts.push_back(t);
            numbers.push_back(v);
            out.WriteJavaUTF(String_t(t));
            out.WriteInt64(v);
            out.WriteInt32(static_cast<int32_t>(v));
            out.WriteInt16(static_cast<int>(v));
            out.WriteBoolean((v & 1) != 0);
        }
        out.Close();
        DataInputStream_t in = Reader(Str(sink.ToCharArray()));
        for (int i = 0; i < 40; ++i) {
            String_t got = in.ReadJavaUTF();
            ASSERT_EQ(got.Str(), texts[static_cast<size_t>(i)]);
            ASSERT_FALSE(got.IsNull());
            EXPECT_EQ(in.ReadInt64(), numbers[static_cast<size_t>(i)]);
            EXPECT_EQ(in.ReadInt32(), static_cast<int32_t>(numbers[static_cast<size_t>(i)]));
            EXPECT_EQ(in.ReadInt16(), static_cast<int16_t>(numbers[static_cast<size_t>(i)]));
            EXPECT_EQ(in.ReadBoolean(), (numbers[static_cast<size_t>(i)] & 1) != 0);
        }
        EXPECT_THROW(in.ReadInt32(), EOFException_t);
        // The text bytes agree with the reference encoder, text by text.
        for (size_t i = 0; i < texts.size(); ++i)
            ASSERT_EQ(Utf(String_t(texts[i])), Hex(ReferenceJavaUtf(texts[i])));
    }
}

TEST(DataStreamTest, TextsBeyond65535BytesAreRefusedBeforeWriting) {
    struct Case {
        std::u16string text;
        bool fits;
    } cases[] = {
        {std::u16string(65535, u'a'), true},
        {std::u16string(65536, u'a'), false},
        {std::u16string(21845, u'\u0800'), true},  // 3 bytes each: 65535
        {std::u16string(21845, u'\u0800') + u"a", false},
        {std::u16string(32767, u'\0') + u"a", true},  // NUL takes 2 bytes
        {std::u16string(32768, u'\0'), false},
    };
    for (const Case& c : cases) {
        CharArrayOutputStream_t sink;
        DataOutputStream_t out(sink);
        out.WriteInt32(7);
        if (c.fits) {
            out.WriteJavaUTF(String_t(c.text));
            EXPECT_EQ(sink.GetSize(), 4 + 2 + 65535);
            DataInputStream_t in = Reader(Str(sink.ToCharArray()));
            EXPECT_EQ(in.ReadInt32(), 7);
            EXPECT_TRUE(in.ReadJavaUTF().Str() == c.text);
        } else {
            EXPECT_THROW(out.WriteJavaUTF(String_t(c.text)), IOException_t);
            EXPECT_EQ(sink.GetSize(), 4);  // nothing of the text was written
        }
    }
}

TEST(DataStreamTest, EndInsideAValueIsEof) {
    EXPECT_THROW(Reader("").ReadInt32(), EOFException_t);
    EXPECT_THROW(Reader("\x01\x02\x03").ReadInt32(), EOFException_t);
    EXPECT_THROW(Reader("\x01").ReadInt16(), EOFException_t);
    EXPECT_THROW(Reader(std::string(7, '\x01')).ReadInt64(), EOFException_t);
    EXPECT_THROW(Reader("").ReadBoolean(), EOFException_t);
    EXPECT_THROW(Reader(std::string(1, '\0')).ReadJavaUTF(), EOFException_t);
    EXPECT_THROW(Reader(std::string("\x00\x05"
                                    "abc",
                                    5))
                     .ReadJavaUTF(),
                 EOFException_t);
    char buf[4];
    EXPECT_THROW(Reader("abc").ReadFully(buf, 4), EOFException_t);
    DataInputStream_t ok = Reader("abcd");
    ok.ReadFully(buf, 4);
    EXPECT_EQ(std::string(buf, 4), "abcd");
    EXPECT_THROW(ok.ReadFully(nullptr, 1), QmXplMsg::IllegalArgumentError_t);

    // A reader over a stream that trickles one byte at a time (with empty reads between)
    // still assembles whole values.
    std::string bytes = Written([](const DataOutputStream_t& o) {
        o.WriteInt64(-5);
        o.WriteJavaUTF(String_t("trickled \xF0\x9F\x98\x80"));
    });
    DataInputStream_t slow(InputStream_t(new qmsec_test::ScriptedInputImpl(bytes, 1, true)));
    EXPECT_EQ(slow.ReadInt64(), -5);
    EXPECT_EQ(slow.ReadJavaUTF(), String_t("trickled \xF0\x9F\x98\x80"));
}

TEST(DataStreamTest, InvalidModifiedUtf8BecomesReplacementCharacters) {
    auto decode = [](const std::string& body) {
        std::string bytes;
        bytes.push_back(static_cast<char>(body.size() >> 8));
        bytes.push_back(static_cast<char>(body.size() & 0xFF));
        return Reader(bytes + body).ReadJavaUTF().Str();
    };
    EXPECT_EQ(decode("\xFF"), u"\uFFFD");
    EXPECT_EQ(decode("a\x80z"), u"a\uFFFDz");  // stray continuation byte
    EXPECT_EQ(decode("a\xC3"), u"a\uFFFD");    // lead byte at the end
    EXPECT_EQ(decode("\xC3z"), u"\uFFFDz");    // lead byte without continuation
    EXPECT_EQ(decode("\xE2\x82"), u"\uFFFD");  // three-byte form cut short
    EXPECT_EQ(decode("\xE2\x82z"), u"\uFFFDz");
    EXPECT_EQ(decode("\xC1\x81"), u"\uFFFD");      // overlong 'A'
    EXPECT_EQ(decode("\xC0\xAF"), u"\uFFFD");      // overlong '/'
    EXPECT_EQ(decode("\xE0\x80\xAF"), u"\uFFFD");  // overlong '/'
    EXPECT_EQ(decode("\xC0\x80"), std::u16string(1, u'\0'));
    EXPECT_EQ(decode("\xF0\x9F\x98\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");      // not modified UTF-8
    EXPECT_EQ(decode("\xED\xA0\xBD"), std::u16string(1, char16_t{0xD83D}));  // lone surrogate kept

    // Random bytes never break the reader, and what it reads can be written again.
    std::mt19937 rng(99);
    for (int i = 0; i < 2000; ++i) {
        std::string body = qmsec_test::RandomBytes(rng, rng() % 64);
        std::u16string text = decode(body);
        EXPECT_LE(text.size(), body.size());
        std::string again =
            Written([&](const DataOutputStream_t& o) { o.WriteJavaUTF(String_t(text)); });
        EXPECT_EQ(Reader(again).ReadJavaUTF().Str(), text);
    }
}
