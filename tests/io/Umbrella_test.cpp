// The two umbrella headers alone are enough to use every security stream.
#include "QmSecCore/QmSecCore.h"
#include "QmSecIo/QmSecIo.h"

#include <gtest/gtest.h>

#include <string>

#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"

TEST(SecurityStreamUmbrellaTest, OneChainOfEveryKindRoundTrips) {
    using namespace QmSecIo;
    QmXplArray::CharArray_t password("umbrella", 8);
    QmSecCore::MessageDigest written, read;
    QmXplIo::CharArrayOutputStream_t sink;
    DigestOutputStream out(XORBufferedOutputStream(QmSecCore::XOROutputStream(sink), password),
                           written);
    out.Write("one header", 10);
    out.Close();

    DigestInputStream in(
        XORInputStream(XORBufferedInputStream(QmXplIo::CharArrayInputStream_t(sink.ToCharArray())),
                       password),
        read);
    char buf[32];
    int n = 0;
    for (int r; (r = in.Read(buf + n, 32 - n)) > 0;) n += r;
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "one header");
    QmXplArray::CharArray_t a, b;
    written.Digest(a);
    read.Digest(b);
    EXPECT_EQ(a, b);
}

TEST(SecurityStreamUmbrellaTest, EncryptedBase64TextRoundTrips) {
    using namespace QmSecIo;
    using QmSecCore::Base64;
    using QmSecCore::Cipher;
    using QmSecCore::Key;
    Key key(Key::eSecretKey, "0123456789abcdef", 16);
    QmXplIo::CharArrayOutputStream_t sink;
    CipherOutputStream out(Base64OutputStream(sink, Base64(Base64::eEncode)),
                           Cipher(Cipher::eEncrypt, key, Key::eBlowfish));
    out.Write("printable and secret", 20);
    out.Close();
    std::string text(sink.ToCharArray().GetData(), static_cast<size_t>(sink.GetSize()));
    EXPECT_EQ(text.find_first_not_of(
                  "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/=\n"),
              std::string::npos);

    CipherInputStream in(Base64InputStream(QmXplIo::CharArrayInputStream_t(sink.ToCharArray()),
                                           Base64(Base64::eDecode)),
                         Cipher(Cipher::eDecrypt, key, Key::eBlowfish));
    char buf[64];
    int n = 0;
    for (int r; (r = in.Read(buf + n, 64 - n)) > 0;) n += r;
    EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "printable and secret");
}
