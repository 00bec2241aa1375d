// Base64: byte-identical to `openssl base64` for every length from 0 to 200 and for big inputs,
// fed whole, in pieces and byte by byte; decoding with and without line feeds; the output room
// at every boundary; errors, reuse after DoFinal and Reset.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "Base64Impl.h"
#include "QmSecCore/Base64.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/Message_t.h"
#include "support/Bytes.h"
#include "support/Command.h"
#include "support/Kat.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::Base64;
using QmSecCore::Base64Impl;
using QmXplArray::CharArray_t;
using QmXplMsg::IllegalArgumentError_t;
using namespace qmsec_test;

// Feeds the pieces, then DoFinal; returns everything written.
std::string Transform(const Base64& codec, const std::vector<std::string>& pieces) {
    CharArray_t out;
    int at = 0;
    for (const auto& p : pieces) at += codec.Update(p.data(), static_cast<int>(p.size()), out, at);
    at += codec.DoFinal(out, at);
    return Str(out, 0, at);
}
std::vector<std::string> Bytewise(const std::string& s) {
    std::vector<std::string> out;
    for (char c : s) out.emplace_back(1, c);
    return out;
}
std::string WithoutLineFeeds(std::string s) {
    s.erase(std::remove(s.begin(), s.end(), '\n'), s.end());
    return s;
}

TEST(Base64Test, IdenticalToTheOpensslCommandForLengthsUpTo200) {
    TempDir dir;
    std::mt19937 rng(31);
    std::vector<std::string> inputs;
    for (int n = 0; n <= 200; ++n) {
        inputs.push_back(RandomBytes(rng, static_cast<size_t>(n)));
        dir.Write(std::to_string(n) + ".bin", inputs.back());
    }
    CommandResult r = RunCommand("cd " + Quote(dir.Path()) +
                                 " && for i in $(seq 0 200); do openssl base64 -in $i.bin -out "
                                 "$i.b64 || exit 1; done");
    ASSERT_EQ(r.status, 0);
    Base64 encoder(Base64::eEncode), decoder(Base64::eDecode);  // reused text after text
    for (int n = 0; n <= 200; ++n) {
        SCOPED_TRACE(n);
        const std::string& data = inputs[static_cast<size_t>(n)];
        std::string expected = ReadFile(dir.File(std::to_string(n) + ".b64"));
        EXPECT_EQ(Transform(encoder, {data}), expected);
        EXPECT_EQ(Transform(encoder, RandomPieces(data, rng)), expected);
        EXPECT_EQ(Transform(encoder, Bytewise(data)), expected);
        EXPECT_EQ(Transform(Base64(Base64::eEncode), {data}), expected);
        EXPECT_EQ(Transform(decoder, {expected}), data);
        EXPECT_EQ(Transform(decoder, RandomPieces(expected, rng)), data);
        EXPECT_EQ(Transform(decoder, Bytewise(expected)), data);
        EXPECT_EQ(Transform(decoder, {WithoutLineFeeds(expected)}), data);
    }
}

TEST(Base64Test, BigInputsAgreeWithTheOpensslCommandBothWays) {
    TempDir dir;
    std::mt19937 rng(32);
    for (int n : {48 * 1000, 48 * 1000 + 1, (1 << 20) + 7}) {
        std::string data = RandomBytes(rng, static_cast<size_t>(n));
        std::string path = dir.Write("big.bin", data);
        CommandResult r = RunCommand("openssl base64 -in " + Quote(path));
        ASSERT_EQ(r.status, 0);
        CharArray_t out;
        EXPECT_EQ(Str(out, 0, Base64(Base64::eEncode).DoFinal(Arr(data), out)), r.output) << n;
        EXPECT_EQ(Transform(Base64(Base64::eEncode), RandomPieces(data, rng)), r.output) << n;
        std::string b64 = dir.Write("big.b64", r.output);
        CommandResult d = RunCommand("openssl base64 -d -in " + Quote(b64));
        ASSERT_EQ(d.status, 0);
        EXPECT_EQ(d.output, data);
        EXPECT_EQ(Transform(Base64(Base64::eDecode), RandomPieces(r.output, rng)), data) << n;
    }
}

TEST(Base64Test, LineFormat) {
    CharArray_t out;
    Base64 e(Base64::eEncode);
    EXPECT_EQ(Str(out, 0, e.DoFinal("abc", out)), "YWJj\n");
    EXPECT_EQ(e.DoFinal("", out), 0) << "no line feed for empty input";
    EXPECT_EQ(e.DoFinal(out), 0);
    std::string text = Str(out, 0, e.DoFinal(std::string(48, 'x').data(), 48, out));
    EXPECT_EQ(text.size(), 65u);
    EXPECT_EQ(text.find('\n'), 64u);
    text = Str(out, 0, e.DoFinal(std::string(49, 'x').data(), 49, out));
    EXPECT_EQ(text.size(), 70u);
    EXPECT_EQ(text.substr(64), "\neA==\n");
    // Decoding then encoding reproduces the text.
    CharArray_t bytes;
    int n = Base64(Base64::eDecode).DoFinal(Arr(text), bytes);
    EXPECT_EQ(Str(out, 0, e.DoFinal(bytes.GetData(), n, out)), text);
}

// The room reserved for output holds what OpenSSL writes (its terminating zero included) for
// every length, whatever is buffered from earlier calls. Each call writes into an array of
// exactly that room, so under the address sanitizer a write beyond it fails the test.
TEST(Base64Test, OutputRoomHoldsEveryLengthWhateverIsBuffered) {
    std::mt19937 rng(33);
    std::string source = RandomBytes(rng, 4000);
    for (int buffered = 0; buffered < 48; ++buffered) {
        for (int n = 0; n <= 200; ++n) {
            Base64 e(Base64::eEncode);
            CharArray_t scratch;
            e.Update(source.data(), buffered, scratch);
            CharArray_t out;
            int produced = e.Update(source.data() + buffered, n, out);
            ASSERT_EQ(out.GetSize(), n == 0 ? 0 : static_cast<int>(Base64Impl::EncodeRoom(n)));
            ASSERT_LT(produced, n == 0 ? 1 : out.GetSize()) << "room for the zero after it";
            ASSERT_EQ(produced, (buffered + n) / 48 * 65);
            CharArray_t last;
            ASSERT_LE(e.DoFinal(last), Base64Impl::kEncodeFinalRoom - 1);
            ASSERT_EQ(last.GetSize(), Base64Impl::kEncodeFinalRoom);
        }
    }
    std::string text;
    {
        CharArray_t out;
        text = Str(out, 0, Base64(Base64::eEncode).DoFinal(source.data(), 3000, out));
    }
    std::string flat = WithoutLineFeeds(text);
    for (const std::string* t : {&text, &flat}) {
        for (int buffered = 0; buffered < 80; ++buffered) {
            for (int n = 0; n <= 200; ++n) {
                Base64 d(Base64::eDecode);
                CharArray_t scratch;
                d.Update(t->data(), buffered, scratch);
                CharArray_t out;
                int produced = d.Update(t->data() + buffered, n, out);
                ASSERT_EQ(out.GetSize(), n == 0 ? 0 : static_cast<int>(Base64Impl::DecodeRoom(n)));
                ASSERT_LE(produced, out.GetSize());
                CharArray_t last;
                try {
                    ASSERT_LE(d.DoFinal(last), Base64Impl::kDecodeFinalRoom);
                } catch (const QmXplMsg::Exception_t&) {
                    // the text was cut inside a group of four: no output, the room stays
                }
                ASSERT_EQ(last.GetSize(), Base64Impl::kDecodeFinalRoom);
            }
        }
    }
    EXPECT_EQ(Base64Impl::EncodeRoom(0), 1);
    EXPECT_EQ(Base64Impl::EncodeRoom(48), 66);
    EXPECT_EQ(Base64Impl::EncodeRoom(49), 131);
    EXPECT_EQ(Base64Impl::DecodeRoom(0), 49);
    EXPECT_EQ(Base64Impl::DecodeRoom(7), 3 + 3 + 49);
    // Inputs whose room does not fit an array are refused before anything is written.
    CharArray_t big(1000);
    EXPECT_EQ(ThrownNumber<IllegalArgumentError_t>(
                  [&] { Base64(Base64::eEncode).Update(source.data(), INT_MAX / 4 * 3, big, 0); }),
              9);
    EXPECT_EQ(big.GetSize(), 1000);
}

TEST(Base64Test, InvalidInputFailsAndTheCodecStartsOver) {
    Base64 d(Base64::eDecode);
    CharArray_t out;
    EXPECT_EQ(ThrownNumber<QmXplIo::IOException_t>([&] { d.Update("YW@j", out); }), 10);
    try {
        d.Update("!!!!", out);
        FAIL();
    } catch (const QmXplIo::IOException_t& e) {
        EXPECT_EQ(
            e.GetMessageList().Get(0).GetText(),
            QmXplStr::String_t("Error during Base64 decoding operation (invalid Base64 input)."));
    }
    EXPECT_EQ(Str(out, 0, d.DoFinal("YWJj", out)), "abc");
    // Text that ends inside a group of four fails at the end, with Exception_t 13.
    d.Update("YWJ", out);
    try {
        d.DoFinal(out);
        FAIL();
    } catch (const QmXplMsg::Exception_t& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetNumber(), 13);
    }
    EXPECT_EQ(Str(out, 0, d.DoFinal("YWJjZA==", out)), "abcd");
    EXPECT_EQ(ThrownNumber<QmXplMsg::Exception_t>([&] { d.DoFinal("Y", out); }), 13);
    EXPECT_EQ(Str(out, 0, d.DoFinal("YQ==\n", out)), "a");
}

// OpenSSL's decoder stops at an end marker '-' and refuses data after padding only within one
// call; the codec remembers where the text ended, so every split gives the same result.
TEST(Base64Test, ATextDecodesTheSameHoweverItIsSplit) {
    const std::vector<std::string> texts = {
        "YWJj-ignored\x01 after the marker",
        "YWJjZA==\n \r\t",
        "YWJjZA==YWJj",
        "YWJjZA==\n=",
        "YWJjZA==\n-YWJj",
        "YWI=\n\n-\x02",
        "YW Jj\nZA\r\n==",
        "-YWJj",
        "YWJ-j",
        "YWJjZA=\n=\n",
        std::string("YWJj-\0\0", 7),
    };
    std::mt19937 rng(35);
    for (const auto& text : texts) {
        SCOPED_TRACE(Hex(text));
        Base64 d(Base64::eDecode);
        std::string whole;
        bool wholeOk = true;
        try {
            whole = Transform(d, {text});
        } catch (const QmXplMsg::Exception_t&) {
            wholeOk = false;
        }
        for (int round = 0; round < 30; ++round) {
            auto pieces = round == 0 ? Bytewise(text) : RandomPieces(text, rng, 5);
            try {
                EXPECT_EQ(Transform(d, pieces), whole);
                EXPECT_TRUE(wholeOk);
            } catch (const QmXplMsg::Exception_t&) {
                EXPECT_FALSE(wholeOk);
            }
        }
    }
    CharArray_t out;
    Base64 d(Base64::eDecode);
    EXPECT_EQ(Str(out, 0, d.DoFinal("YWJj-@@@", out)), "abc");
    d.Update("YWJjZA==", out);
    EXPECT_EQ(ThrownNumber<QmXplIo::IOException_t>([&] { d.Update("YWJj", out); }), 10);
    EXPECT_EQ(Str(out, 0, d.DoFinal("YWJjZA==\n", out)), "abcd") << "and it starts over";
}

TEST(Base64Test, ResetSwitchesModeAndDiscardsBufferedInput) {
    Base64 c(Base64::eEncode);
    CharArray_t out;
    EXPECT_EQ(c.Update("ab", out), 0);  // buffered
    c.Reset(Base64::eDecode);
    EXPECT_EQ(Str(out, 0, c.DoFinal("YWJj", out)), "abc");
    EXPECT_EQ(Str(out, 0, c.DoFinal("eHl6", out)), "xyz") << "still decoding after DoFinal";
    c.Update("YW", out);
    c.Reset(Base64::eEncode);
    EXPECT_EQ(Str(out, 0, c.DoFinal("xyz", out)), "eHl6\n");
    for (int value : {5, -1}) {  // every value but 0 decodes
        c.Reset(static_cast<Base64::OpMode>(value));
        EXPECT_EQ(Str(out, 0, c.DoFinal("eHl6", out)), "xyz") << value;
    }
}

TEST(Base64Test, TracesAndEmptyHandle) {
    TraceCapture capture("sec.core.base=9");
    Base64 e(Base64::eEncode);
    Base64 d(Base64::eDecode);
    CharArray_t out;
    e.DoFinal("x", out);
    for (const char* line :
         {"> Base64Impl Constructor", "> Base64Impl::Init() ",
          "Base64Impl: Operating in Encoding mode", "Base64Impl: Operating in Decoding mode",
          "> Base64Impl::Update()", "> Base64Impl::DoFinal()"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
    EXPECT_EQ(ThrownText<QmXplMsg::IllegalStateError_t>([] { Base64().Reset(Base64::eEncode); }),
              "Base64");
}

}  // namespace
