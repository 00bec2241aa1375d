// Base64 and cipher streams: round trips with random data and random read and write sizes for
// every algorithm, their output against independent encoders and raw OpenSSL, the read
// algorithm's edge cases, closing, failures, and a key-store-like use over an atomic file.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <functional>
#include <random>
#include <string>

#include "OpenSsl.h"
#include "QmSecCore/BadPaddingException.h"
#include "QmSecCore/Base64.h"
#include "QmSecCore/Cipher.h"
#include "QmSecCore/Key.h"
#include "QmSecIo/Base64InputStream.h"
#include "QmSecIo/Base64OutputStream.h"
#include "QmSecIo/CipherInputStream.h"
#include "QmSecIo/CipherOutputStream.h"
#include "QmXpl/AtomicFileOutputStream_t.h"
#include "QmXpl/Base64OutputStream_t.h"
#include "QmXpl/FileInputStream_t.h"
#include "support/Bytes.h"
#include "support/Keys.h"
#include "support/Streams.h"
#include "support/TempDir.h"
#include "support/TraceCapture.h"

namespace {

using namespace qmsec_test;
using QmSecCore::Base64;
using QmSecCore::Cipher;
using QmSecCore::Key;
using QmSecIo::Base64InputStream;
using QmSecIo::Base64OutputStream;
using QmSecIo::CipherInputStream;
using QmSecIo::CipherOutputStream;
using QmXplIo::CharArrayInputStream_t;
using QmXplIo::CharArrayOutputStream_t;
using QmXplIo::IOException_t;
using QmXplMsg::IllegalStateError_t;

const std::string kSecret = "0123456789abcdefghijklmnopqrstuv";  // 32 bytes: long enough for all

Key SecretKey() { return Key(Key::eSecretKey, kSecret.data(), static_cast<int>(kSecret.size())); }

struct Algorithm {
    Key::Algorithm id;
    const char* name;
    const EVP_CIPHER* (*evp)();  // null for RSA
    int keyLength;
};
const Algorithm kSymmetric[] = {
    {Key::eDefault, "default", EVP_bf_cbc, 16},
    {Key::eBlowfish, "Blowfish", EVP_bf_cbc, 16},
    {Key::eDES, "DES", EVP_des_cbc, 8},
    {Key::eDES3, "Triple-DES", EVP_des_ede3_cbc, 24},
};

// Raw OpenSSL decryption of the symmetric format: an 8-byte vector, then CBC with padding.
std::string EvpDecrypt(const Algorithm& a, const std::string& ciphertext) {
    if (ciphertext.size() < 16) return "<too short>";
    QmSecCore::ossl::CipherCtx ctx(EVP_CIPHER_CTX_new());
    auto u = [](const char* p) { return reinterpret_cast<const unsigned char*>(p); };
    EVP_DecryptInit_ex(ctx.get(), a.evp(), nullptr, u(kSecret.data()), u(ciphertext.data()));
    std::string out(ciphertext.size(), '\0');
    int n = 0, m = 0;
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    EVP_DecryptUpdate(ctx.get(), o, &n, u(ciphertext.data() + 8),
                      static_cast<int>(ciphertext.size() - 8));
    if (EVP_DecryptFinal_ex(ctx.get(), o + n, &m) != 1) return "<bad padding>";
    out.resize(static_cast<size_t>(n + m));
    return out;
}

// The layer's own Base64 writer: an independent implementation of the same text format.
std::string LayerBase64(const std::string& data) {
    CharArrayOutputStream_t sink;
    QmXplIo::Base64OutputStream_t out(sink);
    out.Write(data.data(), static_cast<int>(data.size()));
    out.Close();
    return Str(sink.ToCharArray());
}

std::string WriteThrough(const std::function<OutputStream_t(const OutputStream_t&)>& make,
                         const std::string& data, std::mt19937& rng) {
    CharArrayOutputStream_t sink;
    OutputStream_t out = make(sink);
    WriteInPieces(out, data, rng);
    out.Close();
    return Str(sink.ToCharArray());
}

std::string ReadThrough(const std::function<InputStream_t(const InputStream_t&)>& make,
                        const std::string& stream, std::mt19937& rng) {
    InputStream_t in = make(CharArrayInputStream_t(Arr(stream)));
    return ReadInPieces(in, rng);
}

// The whole message through the cipher at once: the bytes DoFinal reports, not the whole array
// (output arrays grow and never shrink, so they may be longer).
std::string Whole(const Cipher& cipher, const std::string& in) {
    CharArray_t out;
    int n = cipher.DoFinal(Arr(in), out);
    return Str(out).substr(0, static_cast<size_t>(n));
}

size_t RandomSize(std::mt19937& rng, size_t max = 1 << 20) {
    return std::uniform_int_distribution<size_t>(0, max)(rng);
}

}  // namespace

TEST(Base64StreamTest, RandomDataRoundTripsAndMatchesAnIndependentEncoder) {
    std::mt19937 rng(41);
    for (size_t n : {size_t{0}, size_t{1}, size_t{47}, size_t{48}, size_t{49}, RandomSize(rng),
                     RandomSize(rng), size_t{1} << 20}) {
        std::string data = RandomBytes(rng, n);
        Base64 encoder(Base64::eEncode);
        std::string text = WriteThrough(
            [&](const OutputStream_t& o) { return Base64OutputStream(o, encoder); }, data, rng);
        EXPECT_EQ(text, LayerBase64(data)) << n;
        Base64 decoder(Base64::eDecode);
        EXPECT_EQ(ReadThrough([&](const InputStream_t& i) { return Base64InputStream(i, decoder); },
                              text, rng),
                  data)
            << n;
        // The other way round: encoding on the way in, decoding on the way out.
        std::string text2 = ReadThrough(
            [&](const InputStream_t& i) { return Base64InputStream(i, Base64(Base64::eEncode)); },
            data, rng);
        EXPECT_EQ(text2, text);
        EXPECT_EQ(WriteThrough(
                      [&](const OutputStream_t& o) {
                          return Base64OutputStream(o, Base64(Base64::eDecode));
                      },
                      text2, rng),
                  data);
    }
}

TEST(Base64StreamTest, OneByteReadsGiveWhatOneLargeReadGives) {
    std::mt19937 rng(42);
    std::string data = RandomBytes(rng, 5000);
    std::string text = LayerBase64(data);
    Base64InputStream whole(CharArrayInputStream_t(Arr(text)), Base64(Base64::eDecode));
    std::string big(10000, '\0');
    int n = whole.Read(big.data(), 10000);
    ASSERT_EQ(n, 5000) << "the final group arrives in the same read as the wrapped stream's end";
    EXPECT_EQ(big.substr(0, 5000), data);
    EXPECT_EQ(whole.Read(big.data(), 10000), -1);

    Base64InputStream bytes(CharArrayInputStream_t(Arr(text)), Base64(Base64::eDecode));
    std::string got;
    for (int b; (b = bytes.Read()) >= 0;) got.push_back(static_cast<char>(b));
    EXPECT_EQ(got, data);
}

TEST(Base64StreamTest, ReadsNeverAnswerZeroAndTheEndComesOnceAndStays) {
    std::mt19937 rng(43);
    std::string data = RandomBytes(rng, 1000);
    std::string text = LayerBase64(data);
    // A trickling source: the codec holds groups back, yet a read waits for a byte to give.
    auto* source = new ScriptedInputImpl(text, 3);
    Base64InputStream in(InputStream_t(source), Base64(Base64::eDecode));
    std::string got;
    char buf[7];
    for (;;) {
        int n = in.Read(buf, sizeof buf);
        if (n < 0) break;
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, data);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(in.Read(buf, sizeof buf), -1);
    EXPECT_EQ(in.Read(), -1);
    EXPECT_EQ(in.Skip(10), 0);
}

TEST(Base64StreamTest, ADamagedTextFailsAndKeepsFailing) {
    std::string text = LayerBase64("some bytes that will not survive") + "!!!!\n";
    Base64InputStream in(CharArrayInputStream_t(Arr(text)), Base64(Base64::eDecode));
    char buf[256];
    Thrown first = ThrownBy<QmXplMsg::Exception_t>([&] {
        while (in.Read(buf, 256) >= 0) {
        }
    });
    EXPECT_TRUE(first.number == 10 || first.number == 13) << first.number << " " << first.text;
    // Carrying on would hand out what the codec makes of the rest as if it were good.
    Thrown again = ThrownBy<QmXplMsg::Exception_t>([&] { in.Read(buf, 256); });
    EXPECT_EQ(again.number, first.number);
    EXPECT_EQ(ThrownBy<QmXplMsg::Exception_t>([&] { in.Read(); }).number, first.number);
}

TEST(CipherStreamTest, EveryAlgorithmRoundTripsRandomDataInRandomPieces) {
    std::mt19937 rng(44);
    Key key = SecretKey();
    for (const Algorithm& a : kSymmetric) {
        for (size_t n : {size_t{0}, size_t{7}, size_t{8}, RandomSize(rng), RandomSize(rng)}) {
            std::string data = RandomBytes(rng, n);
            Cipher enc(Cipher::eEncrypt, key, a.id);
            std::string ciphertext = WriteThrough(
                [&](const OutputStream_t& o) { return CipherOutputStream(o, enc); }, data, rng);
            EXPECT_EQ(ciphertext.size(), 8 + 8 * (n / 8 + 1)) << a.name << " " << n;
            EXPECT_EQ(EvpDecrypt(a, ciphertext), data) << a.name << " " << n;
            Cipher dec(Cipher::eDecrypt, key, a.id);
            EXPECT_EQ(ReadThrough([&](const InputStream_t& i) { return CipherInputStream(i, dec); },
                                  ciphertext, rng),
                      data)
                << a.name << " " << n;
            // Encrypting on the way in and decrypting on the way out.
            std::string other = ReadThrough(
                [&](const InputStream_t& i) { return CipherInputStream(i, enc); }, data, rng);
            EXPECT_EQ(EvpDecrypt(a, other), data) << a.name;
            EXPECT_EQ(
                WriteThrough([&](const OutputStream_t& o) { return CipherOutputStream(o, dec); },
                             other, rng),
                data)
                << a.name << " " << n;
        }
    }
}

TEST(CipherStreamTest, RsaRoundTripsInChunksBothWays) {
    std::mt19937 rng(45);
    Key priv(Key::eRSAPrivateKey, Arr(qmsec_test::TestRsaKey(1024).privatePem));
    Key pub(Key::eRSAPublicKey, Arr(qmsec_test::TestRsaKey(1024).publicPem));
    for (size_t n : {size_t{0}, size_t{116}, size_t{117}, RandomSize(rng, 64 * 1024)}) {
        std::string data = RandomBytes(rng, n);
        Cipher enc(Cipher::eEncrypt, pub, Key::eRSA);
        std::string ciphertext = WriteThrough(
            [&](const OutputStream_t& o) { return CipherOutputStream(o, enc); }, data, rng);
        EXPECT_EQ(ciphertext.size(), (n + 115) / 116 * 128) << n;
        Cipher dec(Cipher::eDecrypt, priv, Key::eRSA);
        EXPECT_EQ(ReadThrough([&](const InputStream_t& i) { return CipherInputStream(i, dec); },
                              ciphertext, rng),
                  data)
            << n;
        // The same cipher object, fed directly, reads the stream's output too.
        EXPECT_EQ(Whole(dec, ciphertext), data);
    }
}

TEST(CipherStreamTest, CloseWritesTheFinalBlockOnceBeforeClosingTheWrappedStream) {
    Cipher enc(Cipher::eEncrypt, SecretKey(), Key::eBlowfish);
    auto* sink = new RecordingOutputImpl;
    CipherOutputStream out(OutputStream_t(sink), enc);
    out.Write("0123456789", 10);
    EXPECT_EQ(sink->data.size(), 16u) << "vector and the one complete block";
    out.Flush();
    EXPECT_EQ(sink->closes, 0);
    out.Close();
    EXPECT_EQ(sink->data.size(), 24u) << "the padded last block";
    EXPECT_EQ(sink->closes, 1);
    EXPECT_EQ(sink->writesAfterClose, 0) << "the last block goes before the wrapped stream closes";
    int writes = sink->writes;
    // A second Close finishes no second, empty message and does not close again.
    out.Close();
    EXPECT_EQ(sink->data.size(), 24u);
    EXPECT_EQ(sink->writes, writes);
    EXPECT_EQ(sink->closes, 1);
    EXPECT_EQ(EvpDecrypt(kSymmetric[1], sink->data), "0123456789");
}

TEST(CipherStreamTest, WritingNothingLeavesTheCipherUntouched) {
    Cipher enc(Cipher::eEncrypt, SecretKey(), Key::eDES);
    auto* sink = new RecordingOutputImpl;
    CipherOutputStream out(OutputStream_t(sink), enc);
    out.Write("x", 0);
    out.GetImpl()->Write("x", 0);
    out.Flush();
    // A first Update would have written the vector, even for no bytes.
    EXPECT_EQ(sink->data, "");
    out.Close();
    EXPECT_EQ(sink->data.size(), 16u) << "vector and a block of padding: the empty message";
    EXPECT_EQ(EvpDecrypt(kSymmetric[2], sink->data), "");
}

TEST(CipherStreamTest, TheEndOfTheCiphertextIsDeliveredOnceThenMinusOne) {
    std::mt19937 rng(46);
    std::string data = RandomBytes(rng, 100);
    Cipher enc(Cipher::eEncrypt, SecretKey(), Key::eDES3);
    CipherInputStream in(CharArrayInputStream_t(Arr(Whole(enc, data))),
                         Cipher(Cipher::eDecrypt, SecretKey(), Key::eDES3));
    std::string got;
    char buf[30];
    for (int n; (n = in.Read(buf, sizeof buf)) >= 0;) {
        ASSERT_GT(n, 0);
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, data);
    EXPECT_EQ(in.Read(buf, sizeof buf), -1);
    EXPECT_EQ(in.Read(buf, 1), -1);
}

TEST(CipherStreamTest, CutOffAndWrongKeyCiphertextsFailAndKeepFailing) {
    std::mt19937 rng(47);
    std::string data = RandomBytes(rng, 1000);
    Cipher enc(Cipher::eEncrypt, SecretKey(), Key::eBlowfish);
    std::string full = Whole(enc, data);
    std::string otherKey(32, 'k');
    struct Case {
        std::string ciphertext;
        Key key;
    };
    const Case cases[] = {
        {full.substr(0, full.size() - 3), SecretKey()},
        {full.substr(0, 5), SecretKey()},
        {full, Key(Key::eSecretKey, otherKey.data(), 32)},
    };
    for (const Case& c : cases) {
        CipherInputStream in(CharArrayInputStream_t(Arr(c.ciphertext)),
                             Cipher(Cipher::eDecrypt, c.key, Key::eBlowfish));
        std::vector<char> buf(4096);
        auto readToEnd = [&] {
            while (in.Read(buf.data(), 4096) > 0) {
            }
        };
        EXPECT_THROW(readToEnd(), QmSecCore::BadPaddingException) << c.ciphertext.size();
        // Never a quiet end after the failure: the caller cannot mistake the rest for good.
        EXPECT_THROW(in.Read(buf.data(), 4096), QmSecCore::BadPaddingException);
        EXPECT_THROW(in.Read(), QmSecCore::BadPaddingException);
    }
}

TEST(CipherStreamTest, AFailureOfTheWrappedStreamComesAfterTheBytesAlreadyDelivered) {
    std::mt19937 rng(48);
    std::string data = RandomBytes(rng, 4000);
    Cipher enc(Cipher::eEncrypt, SecretKey(), Key::eBlowfish);
    std::string ct = Whole(enc, data);
    for (bool once : {true, false}) {
        auto* source = new ScriptedInputImpl(ct, 512);
        source->failAt = 2048;
        source->failOnce = once;
        CipherInputStream in(InputStream_t(source),
                             Cipher(Cipher::eDecrypt, SecretKey(), Key::eBlowfish));
        std::string got;
        std::vector<char> buf(8192);
        int failures = 0;
        for (int i = 0; i < 50 && failures < 2; ++i) {
            try {
                int n = in.Read(buf.data(), 8192);
                if (n < 0) break;
                got.append(buf.data(), static_cast<size_t>(n));
            } catch (const IOException_t&) {
                ++failures;
            }
        }
        if (once) {
            EXPECT_LE(failures, 1);
            EXPECT_EQ(got, data) << "nothing lost, nothing twice";
        } else {
            EXPECT_EQ(failures, 2);
            // 2048 ciphertext bytes: the vector and 255 blocks, of which the last is held back.
            EXPECT_EQ(got, data.substr(0, 254 * 8));
        }
    }
}

TEST(CipherStreamTest, AFailedFinishLeavesTheWrappedStreamOpen) {
    // Decrypting on the way out: a wrong padding at Close.
    Cipher enc(Cipher::eEncrypt, SecretKey(), Key::eBlowfish);
    CharArray_t ct = Arr(Whole(enc, "message"));
    std::string otherKey(16, 'z');
    auto* sink = new RecordingOutputImpl;
    CipherOutputStream out(
        OutputStream_t(sink),
        Cipher(Cipher::eDecrypt, Key(Key::eSecretKey, otherKey.data(), 16), Key::eBlowfish));
    out.Write(ct);
    EXPECT_THROW(out.Close(), QmSecCore::BadPaddingException);
    EXPECT_EQ(sink->closes, 0) << "closing would finish an output that lacks its end";
    out.Close();
    EXPECT_EQ(sink->closes, 0);
    Thrown t = ThrownBy<IllegalStateError_t>([&] { out.Write("x", 1); });
    EXPECT_EQ(t.number, 17);

    // A sink that fails on the last block.
    auto* failing = new RecordingOutputImpl;
    CipherOutputStream out2(OutputStream_t(failing), enc);
    out2.Write("0123456789", 10);
    failing->failAfter = static_cast<long>(failing->data.size());
    EXPECT_THROW(out2.Close(), IOException_t);
    EXPECT_EQ(failing->closes, 0);
}

TEST(CipherStreamTest, AStreamDroppedWithoutCloseIsLeftUnfinishedAndSaysSo) {
    qmsec_test::TraceCapture capture("sec.core.io=0xffffffff");
    auto* sink = new RecordingOutputImpl;
    OutputStream_t bottom(sink);
    {
        CipherOutputStream out(bottom, Cipher(Cipher::eEncrypt, SecretKey(), Key::eBlowfish));
        out.Write("0123456789", 10);
    }
    EXPECT_EQ(sink->data.size(), 16u) << "no padded last block: the reader sees it cut off";
    EXPECT_EQ(sink->closes, 0);
    EXPECT_TRUE(capture.Contains("was not closed"));
    EXPECT_EQ(EvpDecrypt(kSymmetric[1], sink->data), "<bad padding>");
}

TEST(CipherStreamTest, ClosedStreamsThrowTheirCatalogMessages) {
    Cipher c(Cipher::eEncrypt, SecretKey(), Key::eBlowfish);
    Base64 b(Base64::eEncode);
    struct Case {
        int number;
        std::string text;
        std::function<InputStream_t(const InputStream_t&)> in;
        std::function<OutputStream_t(const OutputStream_t&)> out;
    };
    const Case inCases[] = {
        {14, "Base64InputStream is already closed.",
         [&](const InputStream_t& i) { return Base64InputStream(i, b); }, nullptr},
        {16, "CipherInputStream is already closed.",
         [&](const InputStream_t& i) { return CipherInputStream(i, c); }, nullptr},
    };
    for (const Case& k : inCases) {
        auto* source = new ScriptedInputImpl("abc");
        InputStream_t in = k.in(InputStream_t(source));
        in.Close();
        in.Close();
        EXPECT_EQ(source->closes, 1);
        char buf[4];
        for (auto op :
             {std::function<void()>([&] { in.Read(buf, 4); }),
              std::function<void()>([&] { in.Read(); }), std::function<void()>([&] { in.Skip(3); }),
              std::function<void()>([&] { in.Available(); })}) {
            Thrown t = ThrownBy<IllegalStateError_t>(op);
            EXPECT_EQ(t.number, k.number);
            EXPECT_EQ(t.text, k.text);
        }
    }
    const Case outCases[] = {
        {15, "Base64OutputStream is already closed.", nullptr,
         [&](const OutputStream_t& o) { return Base64OutputStream(o, b); }},
        {17, "CipherOutputStream is already closed.", nullptr,
         [&](const OutputStream_t& o) { return CipherOutputStream(o, c); }},
    };
    for (const Case& k : outCases) {
        auto* sink = new RecordingOutputImpl;
        OutputStream_t out = k.out(OutputStream_t(sink));
        out.Close();
        out.Close();
        EXPECT_EQ(sink->closes, 1);
        for (auto op : {std::function<void()>([&] { out.Write("x", 1); }),
                        std::function<void()>([&] { out.Write('x'); }),
                        std::function<void()>([&] { out.Flush(); })}) {
            Thrown t = ThrownBy<IllegalStateError_t>(op);
            EXPECT_EQ(t.number, k.number);
            EXPECT_EQ(t.text, k.text);
        }
    }
}

TEST(CipherStreamTest, AStreamNeedsItsPrimitive) {
    Cipher none;
    CharArrayOutputStream_t sink;
    EXPECT_EQ(ThrownBy<IllegalStateError_t>([&] { CipherOutputStream(sink, none); }).text,
              "Cipher");
    EXPECT_EQ(ThrownBy<IllegalStateError_t>([&] {
                  CipherInputStream(CharArrayInputStream_t(Arr("x")), none);
              }).text,
              "Cipher");
    EXPECT_EQ(ThrownBy<IllegalStateError_t>([&] { Base64OutputStream(sink, Base64()); }).text,
              "Base64");
    CipherInputStream empty;
    EXPECT_THROW(empty.Read(), IllegalStateError_t);
}

// A private key written the way the key store writes one (Triple-DES through an atomic file) and
// read back the way it reads one (4096-byte reads until a read gives 0 or less).
TEST(CipherStreamTest, KeyStoreStyleFileRoundTrip) {
    qmsec_test::TempDir dir;
    std::string path = dir.File("key.dat");
    std::mt19937 rng(49);
    std::string der = RandomBytes(rng, 1217);
    std::string nodeKey = RandomBytes(rng, 24);
    Key key(Key::eSecretKey, nodeKey.data(), 24);
    {
        QmXplIo::AtomicFileOutputStream_t file{QmXplStr::String_t(path)};
        CipherOutputStream out(file, Cipher(Cipher::eEncrypt, key, Key::eDES3));
        out.Write(der.data(), static_cast<int>(der.size()));
        out.Close();
    }
    CipherInputStream in(QmXplIo::FileInputStream_t(QmXplStr::String_t(path)),
                         Cipher(Cipher::eDecrypt, key, Key::eDES3));
    std::string got;
    std::vector<char> buf(4096);
    for (int n; (n = in.Read(buf.data(), 4096)) > 0;)
        got.append(buf.data(), static_cast<size_t>(n));
    in.Close();
    EXPECT_EQ(got, der);
}
