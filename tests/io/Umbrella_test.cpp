// The two umbrella headers alone are enough to use every security stream.
#include "QmSecCore/QmSecCore.h"
#include "QmSecIo/QmSecIo.h"

#include <gtest/gtest.h>

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
