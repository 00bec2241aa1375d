// Digest and signature streams: the bytes pass unchanged, and the shared primitive ends up as
// if it had been fed directly (checked against OpenSSL's one-shot functions and against a
// primitive fed the same bytes whole); On/Off, closed streams, and the empty-handle rules.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <functional>
#include <random>
#include <string>

#include "QmSecCore/Key.h"
#include "QmSecCore/MessageDigest.h"
#include "QmSecCore/Signature.h"
#include "QmSecIo/DigestInputStream.h"
#include "QmSecIo/DigestOutputStream.h"
#include "QmSecIo/SignatureInputStream.h"
#include "QmSecIo/SignatureOutputStream.h"
#include "support/Bytes.h"
#include "support/Keys.h"
#include "support/Streams.h"
#include "support/TraceCapture.h"

namespace {

using namespace qmsec_test;
using QmSecCore::Key;
using QmSecCore::MessageDigest;
using QmSecCore::Signature;
using QmSecIo::DigestInputStream;
using QmSecIo::DigestOutputStream;
using QmSecIo::SignatureInputStream;
using QmSecIo::SignatureOutputStream;
using QmXplIo::CharArrayInputStream_t;
using QmXplIo::CharArrayOutputStream_t;
using QmXplMsg::IllegalStateError_t;

// OpenSSL's one-shot digest, independent of the library's digest class.
std::string OpensslDigest(const std::string& data, const char* name) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_get_digestbyname(name), nullptr);
    return std::string(reinterpret_cast<char*>(md), n);
}

std::string DigestOf(const MessageDigest& d) {
    CharArray_t out;
    d.Digest(out);
    return Str(out);
}

struct SignatureStreamTest : ::testing::Test {
    Key priv{Key::eRSAPrivateKey, Arr(qmsec_test::TestRsaKey(1024).privatePem)};
    Key pub{Key::eRSAPublicKey, Arr(qmsec_test::TestRsaKey(1024).publicPem)};
};

}  // namespace

TEST(DigestStreamTest, RandomDataDigestsAsOpensslAndPassesUnchangedBothWays) {
    std::mt19937 rng(31);
    std::uniform_int_distribution<size_t> size(0, 1 << 20);
    for (auto [alg, name] :
         {std::pair{MessageDigest::eSHA1, "SHA1"}, std::pair{MessageDigest::eMD5, "MD5"},
          std::pair{MessageDigest::eDefault, "SHA1"}}) {
        for (size_t n : {size_t{0}, size(rng), size(rng)}) {
            std::string data = RandomBytes(rng, n);
            std::string expected = OpensslDigest(data, name);

            MessageDigest writing(alg);
            CharArrayOutputStream_t sink;
            DigestOutputStream out(sink, writing);
            WriteInPieces(out, data, rng);
            out.Close();
            EXPECT_EQ(Str(sink.ToCharArray()), data);
            EXPECT_EQ(DigestOf(writing), expected) << name << " " << n;

            MessageDigest reading(alg);
            DigestInputStream in(CharArrayInputStream_t(Arr(data)), reading);
            EXPECT_EQ(ReadInPieces(in, rng), data);
            EXPECT_EQ(DigestOf(in.GetDigest()), expected) << name << " " << n;
        }
    }
}

TEST(DigestStreamTest, OffLeavesBytesOutOfTheDigestButNotOutOfTheStream) {
    std::string data = "digested-skipped-digested";
    MessageDigest d;
    CharArrayOutputStream_t sink;
    DigestOutputStream out(sink, d);
    out.Write(data.data(), 9);
    out.Off();
    out.Write(data.data() + 9, 8);
    out.On();
    out.Write(data.data() + 17, 8);
    out.Close();
    EXPECT_EQ(Str(sink.ToCharArray()), data);
    EXPECT_EQ(DigestOf(d), OpensslDigest("digested-digested", "SHA1"));

    MessageDigest r;
    DigestInputStream in(CharArrayInputStream_t(Arr(data)), r);
    char buf[32];
    ASSERT_EQ(in.Read(buf, 9), 9);
    in.Off();
    ASSERT_EQ(in.Read(buf, 8), 8);
    in.On();
    ASSERT_EQ(in.Read(buf, 32), 8);
    EXPECT_EQ(in.Read(buf, 32), -1);
    EXPECT_EQ(DigestOf(r), OpensslDigest("digested-digested", "SHA1"));
}

TEST(DigestStreamTest, TheStreamSharesTheCallersDigest) {
    MessageDigest d(MessageDigest::eMD5);
    CharArrayOutputStream_t sink;
    DigestOutputStream out(sink, d);
    EXPECT_TRUE(out.GetDigest() == d);
    DigestInputStream in(CharArrayInputStream_t(Arr("abc")), d);
    EXPECT_TRUE(in.GetDigest() == d);
    // Bytes through either stream land in the one digest.
    out.Write("a", 1);
    char buf[2];
    ASSERT_EQ(in.Read(buf, 2), 2);
    EXPECT_EQ(DigestOf(d), OpensslDigest("aab", "MD5"));
}

TEST(DigestStreamTest, WritingNothingLeavesTheDigestAlone) {
    // A signature without a mode refuses every Update: an untouched one proves no call was made.
    Signature untouched;
    auto* sink = new RecordingOutputImpl;
    OutputStream_t bottom(sink);
    SignatureOutputStream out(bottom, untouched);
    out.Write("x", 0);
    out.GetImpl()->Write("x", 0);
    out.Write(CharArray_t());
    EXPECT_EQ(sink->writes, 0);
    MessageDigest d;
    DigestOutputStream dout(bottom, d);
    dout.GetImpl()->Write("x", 0);
    EXPECT_EQ(DigestOf(d), OpensslDigest("", "SHA1"));
}

TEST(DigestStreamTest, ClosedStreamsThrowTheirMessagesAndCloseOnce) {
    struct Case {
        int inNumber, outNumber;
        std::string inText, outText;
        std::function<InputStream_t(const InputStream_t&)> in;
        std::function<OutputStream_t(const OutputStream_t&)> out;
    };
    MessageDigest d;
    Signature s;
    s.InitSign(Key(Key::eRSAPrivateKey, Arr(qmsec_test::TestRsaKey(1024).privatePem)));
    const Case cases[] = {
        {18, 19, "DigestInputStream is already closed.", "DigestOutputStream is already closed.",
         [&](const InputStream_t& i) { return DigestInputStream(i, d); },
         [&](const OutputStream_t& o) { return DigestOutputStream(o, d); }},
        {85, 86, "SignatureInputStream is already closed.",
         "SignatureOutputStream is already closed.",
         [&](const InputStream_t& i) { return SignatureInputStream(i, s); },
         [&](const OutputStream_t& o) { return SignatureOutputStream(o, s); }},
    };
    for (const Case& c : cases) {
        auto* source = new ScriptedInputImpl("abc");
        InputStream_t in = c.in(InputStream_t(source));
        in.Close();
        in.Close();
        EXPECT_EQ(source->closes, 1);
        qmsec_test::TraceCapture capture;
        char buf[4];
        for (auto op :
             {std::function<void()>([&] { in.Read(buf, 4); }),
              std::function<void()>([&] { in.Read(); }), std::function<void()>([&] { in.Skip(1); }),
              std::function<void()>([&] { in.Available(); })}) {
            Thrown t = ThrownBy<IllegalStateError_t>(op);
            EXPECT_EQ(t.number, c.inNumber);
            EXPECT_EQ(t.text, c.inText);
        }
        EXPECT_EQ(source->reads, 0);
        EXPECT_EQ(capture.Matching("Throwing exception 'QmXplMsg::IllegalStateError_t'").size(),
                  4u);
        for (const auto& r : capture.Records()) {
            if (r.text.find("Throwing") == 0) {
                EXPECT_EQ(r.area, "sec.core.io");
            }
        }

        auto* sink = new RecordingOutputImpl;
        OutputStream_t out = c.out(OutputStream_t(sink));
        out.Write("abc", 3);
        out.Close();
        out.Close();
        EXPECT_EQ(sink->closes, 1);
        EXPECT_EQ(sink->data, "abc");
        for (auto op : {std::function<void()>([&] { out.Write("x", 1); }),
                        std::function<void()>([&] { out.Write('x'); }),
                        std::function<void()>([&] { out.Flush(); })}) {
            Thrown t = ThrownBy<IllegalStateError_t>(op);
            EXPECT_EQ(t.number, c.outNumber);
            EXPECT_EQ(t.text, c.outText);
        }
    }
}

TEST(DigestStreamTest, AccessorsWorkOnClosedStreamsAndNeedABody) {
    MessageDigest d;
    DigestInputStream in(CharArrayInputStream_t(Arr("abc")), d);
    char buf[3];
    in.Read(buf, 3);
    in.Close();
    in.Off();
    in.On();
    EXPECT_EQ(DigestOf(in.GetDigest()), OpensslDigest("abc", "SHA1"));

    qmsec_test::TraceCapture capture;
    DigestInputStream none;
    Thrown t = ThrownBy<IllegalStateError_t>([&] { none.GetDigest(); });
    EXPECT_EQ(t.text, "DigestInputStream");
    EXPECT_EQ(ThrownBy<IllegalStateError_t>([&] { none.On(); }).text, "DigestInputStream");
    EXPECT_EQ(ThrownBy<IllegalStateError_t>([&] { none.Read(); }).text, "InputStream_t");
    ASSERT_FALSE(capture.Records().empty());
    EXPECT_EQ(capture.Records().at(0).area, "sec.core.io");
    EXPECT_EQ(capture.Records().at(0).text,
              "Throwing exception 'QmXplMsg::IllegalStateError_t': DigestInputStream");
}

TEST(DigestStreamTest, AStreamNeedsItsPrimitiveAndAWrappedStream) {
    CharArrayOutputStream_t sink;
    CharArrayInputStream_t source(Arr("x"));
    // Handles emptied by assignment, as Object allows.
    MessageDigest emptyDigest;
    static_cast<QmSecCore::Object&>(emptyDigest) = QmSecCore::Object();
    Thrown t = ThrownBy<IllegalStateError_t>([&] { DigestOutputStream(sink, emptyDigest); });
    EXPECT_EQ(t.text, "MessageDigest");
    EXPECT_EQ(ThrownBy<IllegalStateError_t>([&] { DigestInputStream(source, emptyDigest); }).text,
              "MessageDigest");
    Signature emptySignature;
    static_cast<QmSecCore::Object&>(emptySignature) = QmSecCore::Object();
    EXPECT_EQ(
        ThrownBy<IllegalStateError_t>([&] { SignatureInputStream(source, emptySignature); }).text,
        "Signature");
    EXPECT_THROW(DigestInputStream(InputStream_t(), MessageDigest()),
                 QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(SignatureOutputStream(OutputStream_t(), Signature()),
                 QmXplMsg::IllegalArgumentError_t);
}

TEST(DigestStreamTest, BodiesTraceTheirBlocksInTheStreamArea) {
    qmsec_test::TraceCapture capture("sec.core.io=0xffffffff");
    {
        MessageDigest d;
        CharArrayOutputStream_t sink;
        DigestOutputStream out(sink, d);
        out.Write("x", 1);
        out.Flush();
        out.Close();
    }
    for (const char* line :
         {"> DigestOutputStreamImpl Constructor", "> DigestOutputStreamImpl::Write()",
          "> DigestOutputStreamImpl::Flush()", "> DigestOutputStreamImpl::Close()",
          "> DigestOutputStreamImpl::DestroyThis()", "> DigestOutputStreamImpl Destructor"}) {
        EXPECT_NE(capture.IndexOf(line), -1) << line;
    }
    EXPECT_LT(capture.IndexOf("> DigestOutputStreamImpl::DestroyThis()"),
              capture.IndexOf("> DigestOutputStreamImpl Destructor"));
}

TEST_F(SignatureStreamTest, SignatureStreamsSignAndVerifyAsTheSignatureFedDirectly) {
    std::mt19937 rng(32);
    std::uniform_int_distribution<size_t> size(0, 1 << 20);
    for (auto alg : {Signature::eSHA1, Signature::eMD5}) {
        for (size_t n : {size_t{0}, size(rng)}) {
            std::string data = RandomBytes(rng, n);
            Signature direct(alg);
            direct.InitSign(priv);
            direct.Update(Arr(data));
            CharArray_t expected;
            direct.Sign(expected);

            Signature signer(alg);
            signer.InitSign(priv);
            CharArrayOutputStream_t sink;
            SignatureOutputStream out(sink, signer);
            WriteInPieces(out, data, rng);
            out.Close();
            EXPECT_EQ(Str(sink.ToCharArray()), data);
            CharArray_t sig;
            out.GetSignature().Sign(sig);
            EXPECT_EQ(sig, expected) << "PKCS #1 v1.5 signatures are deterministic; " << n;

            Signature verifier(alg);
            verifier.InitVerify(pub);
            SignatureInputStream in(CharArrayInputStream_t(Arr(data)), verifier);
            EXPECT_EQ(ReadInPieces(in, rng), data);
            EXPECT_TRUE(verifier.Verify(sig)) << n;

            // One byte more, read while on, and the signature no longer matches.
            SignatureInputStream tampered(CharArrayInputStream_t(Arr(data + "!")), verifier);
            ReadInPieces(tampered, rng);
            EXPECT_FALSE(verifier.Verify(sig));
        }
    }
}

TEST_F(SignatureStreamTest, ASignatureWithoutModeKeepsTheBytesFromTheWrappedStream) {
    Signature s;
    auto* sink = new RecordingOutputImpl;
    SignatureOutputStream out(OutputStream_t(sink), s);
    Thrown t = ThrownBy<IllegalStateError_t>([&] { out.Write("secret", 6); });
    EXPECT_EQ(t.number, 78);
    EXPECT_EQ(sink->writes, 0);
    s.InitSign(priv);
    out.Off();
    out.Write("unsigned ", 9);
    out.On();
    out.Write("signed", 6);
    out.Close();
    EXPECT_EQ(sink->data, "unsigned signed");
    CharArray_t sig;
    s.Sign(sig);
    Signature v;
    v.InitVerify(pub);
    v.Update("signed");
    EXPECT_TRUE(v.Verify(sig));
}
