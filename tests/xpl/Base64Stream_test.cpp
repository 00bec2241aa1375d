#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>

#include "QmXpl/Base64InputStream_t.h"
#include "QmXpl/Base64OutputStream_t.h"
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

// Base64 as RFC 4648 defines it, accumulating bits, then cut into 64-character lines that each
// end with a line feed: the text of `openssl base64`.
std::string Reference(const std::string& data) {
    static const char a[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string flat;
    unsigned acc = 0;
    int bits = 0;
    for (unsigned char c : data) {
        acc = (acc << 8) | c;
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            flat.push_back(a[(acc >> bits) & 63]);
        }
    }
    if (bits > 0) flat.push_back(a[(acc << (6 - bits)) & 63]);
    while (flat.size() % 4 != 0) flat.push_back('=');
    std::string lines;
    for (size_t i = 0; i < flat.size(); i += 64) lines += flat.substr(i, 64) + "\n";
    return lines;
}

std::string Encode(const std::string& data, size_t piece) {
    CharArrayOutputStream_t sink;
    Base64OutputStream_t out(sink);
    for (size_t pos = 0; pos < data.size(); pos += piece)
        out.Write(data.data() + pos, static_cast<int>(std::min(piece, data.size() - pos)));
    out.Close();
    return Str(sink.ToCharArray());
}

std::string Decode(const std::string& text, int readSize = 4096) {
    Base64InputStream_t in(CharArrayInputStream_t(Arr(text)));
    std::string out(static_cast<size_t>(readSize), '\0'), got;
    for (int n; (n = in.Read(out.data(), readSize)) >= 0;)
        got.append(out.data(), static_cast<size_t>(n));
    return got;
}

std::string OpenSslBase64(const qmsec_test::TempDir& dir, const std::string& data) {
    std::string in = dir / "in.bin";
    qmsec_test::WriteFile(in, data);
    std::string cmd = "openssl base64 -in '" + in + "' 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "<popen failed>";
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    int status = pclose(p);
    return status == 0 ? out : "<openssl failed>";
}

}  // namespace

TEST(Base64StreamTest, MatchesOpenSslAndAReferenceForLengths0To200) {
    qmsec_test::TempDir dir;
    bool haveOpenSsl = std::system("openssl version >/dev/null 2>&1") == 0;
    std::mt19937 rng(64);
    for (size_t len = 0; len <= 200; ++len) {
        std::string data = qmsec_test::RandomBytes(rng, len);
        std::string text = Encode(data, len + 1);
        ASSERT_EQ(text, Reference(data)) << "length " << len;
        if (haveOpenSsl) {
            ASSERT_EQ(text, OpenSslBase64(dir, data)) << "length " << len;
        }
        // Written a byte at a time or in odd pieces: the same text.
        ASSERT_EQ(Encode(data, 1), text);
        ASSERT_EQ(Encode(data, 7), text);
        ASSERT_TRUE(Decode(text) == data);
        ASSERT_TRUE(Decode(text, 1) == data);
    }
    EXPECT_EQ(Encode("", 1), "");
    EXPECT_EQ(Encode("Man", 3), "TWFu\n");
    EXPECT_EQ(Encode("Ma", 3), "TWE=\n");
    EXPECT_EQ(Encode("M", 3), "TQ==\n");
    EXPECT_EQ(Encode(std::string(48, '\0'), 48), std::string(64, 'A') + "\n");
    EXPECT_EQ(Encode(std::string(49, '\0'), 49), std::string(64, 'A') + "\nAA==\n");
    if (!haveOpenSsl)
        GTEST_SKIP() << "openssl is not installed; checked against the reference only";
}

TEST(Base64StreamTest, DecodesWithAndWithoutLineBreaks) {
    std::mt19937 rng(3);
    std::string data = qmsec_test::RandomBytes(rng, 1000);
    std::string text = Reference(data);
    std::string flat, crlf, spaced;
    for (char c : text) {
        if (c == '\n') {
            crlf += "\r\n";
        } else {
            flat.push_back(c);
            crlf.push_back(c);
            spaced.push_back(c);
            if (rng() % 5 == 0) spaced += (rng() & 1) ? " " : "\t\n";
        }
    }
    EXPECT_TRUE(Decode(flat) == data);
    EXPECT_TRUE(Decode(crlf) == data);
    EXPECT_TRUE(Decode(spaced) == data);
    EXPECT_TRUE(Decode(text + "\n\n  \r\n") == data);
    EXPECT_EQ(Decode(""), "");
    EXPECT_EQ(Decode("TQ=="), "M");
    EXPECT_EQ(Decode("TWE="), "Ma");
    EXPECT_EQ(Decode("TW\nE\r\n="), "Ma");

    // A decoder over a stream that trickles the text in, with empty reads between.
    Base64InputStream_t slow(InputStream_t(new qmsec_test::ScriptedInputImpl(text, 3, true)));
    std::string got;
    char buf[100];
    for (int n; (n = slow.Read(buf, sizeof buf)) >= 0;) got.append(buf, static_cast<size_t>(n));
    EXPECT_TRUE(got == data);
}

TEST(Base64StreamTest, InvalidTextIsRefused) {
    const char* bad[] = {
        "QUJD!",       // not in the alphabet
        "QUJ-",        // the URL-safe alphabet is not this one
        "QQ=A",        // data after a padding character in the same group
        "Q===",        // padding too early
        "====",        //
        "=QQQ",        //
        "QQ==QUJD",    // text after the padding
        "QQ==\nQQ==",  //
        "QUJDR",       // last group incomplete
        "QUJDRA",      //
        "QUJDREU",     // missing padding
        "QQ=",         // padding incomplete
        "QU\x80J",     // a byte beyond ASCII
    };
    for (const char* text : bad) EXPECT_THROW(Decode(text), IOException_t) << text;
}

TEST(Base64StreamTest, CloseWritesTheFinalGroupOnce) {
    auto* rec = new qmsec_test::RecordingOutputImpl;
    OutputStream_t sink(rec);
    Base64OutputStream_t out(sink);
    out.Write("ab", 2);
    out.Flush();  // cannot end the text early
    EXPECT_EQ(rec->data, "");
    EXPECT_EQ(rec->flushes, 1);
    out.Close();
    EXPECT_EQ(rec->data, "YWI=\n");
    EXPECT_EQ(rec->closes, 1);
    out.Close();
    EXPECT_EQ(rec->data, "YWI=\n");
    EXPECT_EQ(rec->closes, 1);
    EXPECT_THROW(out.Write("c", 1), IOException_t);
}

TEST(Base64StreamTest, DataStreamsOverBase64RoundTrip) {
    CharArrayOutputStream_t sink;
    DataOutputStream_t out(Base64OutputStream_t{sink});
    std::mt19937 rng(8);
    std::string blob = qmsec_test::RandomBytes(rng, 300000);
    out.WriteInt32(42);
    out.WriteJavaUTF(String_t("signer \xC3\xA9"));
    out.Write(blob.data(), static_cast<int>(blob.size()));
    out.Close();  // closes the chain: the final group is written
    std::string text = Str(sink.ToCharArray());
    EXPECT_EQ(text, Reference(Decode(text)));

    DataInputStream_t in(Base64InputStream_t(CharArrayInputStream_t(Arr(text))));
    EXPECT_EQ(in.ReadInt32(), 42);
    EXPECT_EQ(in.ReadJavaUTF(), String_t("signer \xC3\xA9"));
    std::string got(blob.size(), '\0');
    in.ReadFully(got.data(), static_cast<int>(got.size()));
    EXPECT_TRUE(got == blob);
    EXPECT_EQ(in.Read(), -1);
}
