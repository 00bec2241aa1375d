// MessageDigest: published vectors fed whole, in random pieces and after a reset; agreement with
// the openssl command on random data; every argument rule.
#include <gtest/gtest.h>

#include <random>

#include "QmSecCore/MessageDigest.h"
#include "QmXpl/Message_t.h"
#include "support/Bytes.h"
#include "support/Command.h"
#include "support/Kat.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::MessageDigest;
using QmXplArray::CharArray_t;
using namespace qmsec_test;

#define EXPECT_MESSAGE(statement, Type, number)            \
    try {                                                  \
        statement;                                         \
        ADD_FAILURE() << "no exception from " #statement;  \
    } catch (const Type& e) {                              \
        EXPECT_EQ(MessageNumber(e), number) << #statement; \
    }

TEST(MessageDigestTest, PublishedVectorsWholeInPiecesAndAfterReset) {
    std::mt19937 rng(20261208);
    for (const auto& v : ReadKatFile(QMSEC_TEST_DATA_DIR "/digest_kat.txt")) {
        ASSERT_EQ(v.size(), 3u);
        MessageDigest::Algorithm alg = v[0] == "MD5" ? MessageDigest::eMD5 : MessageDigest::eSHA1;
        std::string message = KatBytes(v[1]);
        SCOPED_TRACE(v[0] + " " + v[1]);
        CharArray_t out;

        MessageDigest whole(alg);
        whole.Digest(message.data(), static_cast<int>(message.size()), out);
        EXPECT_EQ(Hex(Str(out)), v[2]);

        MessageDigest pieces(alg);
        for (const auto& p : RandomPieces(message, rng))
            pieces.Update(p.data(), static_cast<int>(p.size()));
        pieces.Digest(out);
        EXPECT_EQ(Hex(Str(out)), v[2]);

        // After a reset in the middle, and again for the next message after Digest.
        pieces.Update("garbage that a reset discards");
        pieces.Reset();
        pieces.Update(CharArray_t(message.data(), static_cast<int>(message.size())));
        pieces.Digest(out);
        EXPECT_EQ(Hex(Str(out)), v[2]);
        pieces.Digest(CharArray_t(message.data(), static_cast<int>(message.size())), out);
        EXPECT_EQ(Hex(Str(out)), v[2]);
    }
}

TEST(MessageDigestTest, DefaultIsSha1AndLengthsAre20And16) {
    CharArray_t a, b, c;
    EXPECT_EQ(MessageDigest().Digest("abc", a), 20);
    EXPECT_EQ(MessageDigest(MessageDigest::eSHA1).Digest("abc", b), 20);
    EXPECT_EQ(a, b);
    EXPECT_EQ(MessageDigest(MessageDigest::eMD5).Digest("abc", c), 16);
    EXPECT_EQ(c.GetSize(), 16);
}

TEST(MessageDigestTest, AgreesWithTheOpensslCommandOnRandomData) {
    TempDir dir;
    std::mt19937 rng(7);
    for (int size : {1, 55, 56, 63, 64, 65, 1000, 65537}) {
        std::string data(static_cast<size_t>(size), '\0');
        for (auto& ch : data) ch = static_cast<char>(rng());
        std::string path = dir.Write("data.bin", data);
        for (auto [alg, name] :
             {std::pair{MessageDigest::eSHA1, "-sha1"}, std::pair{MessageDigest::eMD5, "-md5"}}) {
            CommandResult r =
                RunCommand("openssl dgst " + std::string(name) + " -r " + Quote(path));
            ASSERT_EQ(r.status, 0);
            CharArray_t out;
            MessageDigest(alg).Digest(data.data(), size, out);
            EXPECT_EQ(r.output.substr(0, r.output.find(' ')), Hex(Str(out))) << size << name;
        }
    }
}

TEST(MessageDigestTest, OutputArrayIsResizedToTheDigest) {
    MessageDigest d;
    CharArray_t big(200), empty;
    d.Digest("x", big);
    EXPECT_EQ(big.GetSize(), 20);
    d.Digest("x", empty);
    EXPECT_EQ(empty.GetSize(), 20);
    EXPECT_EQ(big, empty);
}

TEST(MessageDigestTest, EmptyAndNullInputsFeedNothing) {
    CharArray_t reference, out;
    MessageDigest().Digest("", reference);
    MessageDigest d;
    d.Update("");
    d.Update(static_cast<const char*>(nullptr));
    d.Update("data", 0);
    d.Update(CharArray_t());
    d.Digest(out);
    EXPECT_EQ(out, reference);
    MessageDigest().Digest(static_cast<const char*>(nullptr), out);
    EXPECT_EQ(out, reference);
}

TEST(MessageDigestTest, LengthAndRangeChecksLeaveTheStateAlone) {
    MessageDigest d;
    CharArray_t data("abcdef", 6), out, expected;
    d.Update("a");
    EXPECT_MESSAGE(d.Update("x", -1), QmXplMsg::IllegalArgumentError_t, 40);
    EXPECT_MESSAGE(d.Digest("x", -1, out), QmXplMsg::IllegalArgumentError_t, 40);
    d.Update(data, data.GetSize(), 0);  // an empty range at the end is fine
    EXPECT_MESSAGE(d.Update(data, data.GetSize() + 1, 0), QmXplMsg::IllegalArgumentError_t, 42);
    EXPECT_MESSAGE(d.Update(data, -1, 0), QmXplMsg::IllegalArgumentError_t, 42);
    EXPECT_MESSAGE(d.Update(data, 2, 5), QmXplMsg::IllegalArgumentError_t, 42);
    EXPECT_MESSAGE(d.Update(data, 2, -1), QmXplMsg::IllegalArgumentError_t, 42);
    EXPECT_MESSAGE(d.Update(data, 1, 0x7fffffff), QmXplMsg::IllegalArgumentError_t, 42);
    d.Update(data, 1, 2);  // "bc"
    d.Digest(out);
    MessageDigest().Digest("abc", expected);
    EXPECT_EQ(out, expected);
}

TEST(MessageDigestTest, SplitFeedEqualsWholeAndSingleBytes) {
    CharArray_t whole, split, bytes;
    MessageDigest().Digest("abc", whole);
    MessageDigest s;
    s.Update("a");
    s.Update("bc");
    s.Digest(split);
    MessageDigest b;
    for (char c : std::string("abc")) b.Update(c);
    b.Digest(bytes);
    EXPECT_EQ(split, whole);
    EXPECT_EQ(bytes, whole);
}

TEST(MessageDigestTest, DigestStartsTheNextMessage) {
    // Digest ends one message; the next Update begins a fresh one (never a cleared context).
    MessageDigest d;
    CharArray_t first, second, expected;
    d.Digest("abc", first);
    d.Update("abc");
    d.Digest(second);
    EXPECT_EQ(first, second);
    d.Digest(second);  // nothing fed since: the empty message
    MessageDigest().Digest("", expected);
    EXPECT_EQ(second, expected);
}

TEST(MessageDigestTest, UnknownAlgorithmAndEmptyHandle) {
    EXPECT_MESSAGE(MessageDigest(static_cast<MessageDigest::Algorithm>(3)),
                   QmXplMsg::IllegalArgumentError_t, 41);
    EXPECT_MESSAGE(MessageDigest(static_cast<MessageDigest::Algorithm>(-1)),
                   QmXplMsg::IllegalArgumentError_t, 41);
    MessageDigest d;
    d = MessageDigest(MessageDigest::eMD5);
    MessageDigest copy(d);
    CharArray_t out;
    copy.Update("ab");
    d.Update("c");  // the copy shares the state
    EXPECT_EQ(Hex(Str((d.Digest(out), out))), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(MessageDigestTest, TracesSelectionAndBlocks) {
    TraceCapture capture("sec.core.base=9");
    MessageDigest d(MessageDigest::eMD5);
    CharArray_t out;
    d.Digest("abc", out);
    d.Reset();
    auto texts = capture.Texts();
    EXPECT_NE(capture.IndexOf("> MessageDigestImpl Constructor"), -1);
    EXPECT_NE(capture.IndexOf("MessageDigestImpl: Using MD5 digest"), -1);
    EXPECT_LT(capture.IndexOf("> MessageDigestImpl::Init()"),
              capture.IndexOf("MessageDigestImpl: Using MD5 digest"));
    EXPECT_NE(capture.IndexOf("> MessageDigestImpl::Update()"), -1);
    EXPECT_NE(capture.IndexOf("> MessageDigestImpl::Digest()"), -1);
    EXPECT_NE(capture.IndexOf("> MessageDigestImpl::Reset()"), -1);
    TraceCapture sha("sec.core.base=9");
    MessageDigest def;
    MessageDigest explicitSha(MessageDigest::eSHA1);
    EXPECT_NE(sha.IndexOf("MessageDigestImpl: Using Default digest (SHA1)"), -1);
    EXPECT_NE(sha.IndexOf("MessageDigestImpl: Using SHA1 digest"), -1);
}

TEST(MessageDigestTest, EmptyHandleThrowsIllegalState) {
    MessageDigest d;
    d = MessageDigest();
    MessageDigest empty = d;
    QmSecCore::Object o;
    static_cast<QmSecCore::Object&>(empty) = o;
    try {
        empty.Reset();
        FAIL();
    } catch (const QmXplMsg::IllegalStateError_t& e) {
        EXPECT_EQ(e.GetMessageList().Get(0).GetText(), QmXplStr::String_t("MessageDigest"));
    }
}

}  // namespace
