// The umbrella header alone is enough to use the layer's streams and files.
#include "QmXpl/QmXpl.h"

#include <gtest/gtest.h>

TEST(UmbrellaTest, OneHeaderGivesTheWholeLayer) {
    using namespace QmXplIo;
    CharArrayOutputStream_t sink;
    DataOutputStream_t out(BufferedOutputStream_t(Base64OutputStream_t(sink), 16));
    out.WriteJavaUTF(QmXplStr::String_t("umbrella"));
    out.WriteInt32(-7);
    out.Close();
    DataInputStream_t in(
        BufferedInputStream_t(Base64InputStream_t(CharArrayInputStream_t(sink.ToCharArray()))));
    EXPECT_EQ(in.ReadJavaUTF(), QmXplStr::String_t("umbrella"));
    EXPECT_EQ(in.ReadInt32(), -7);
    EXPECT_EQ(in.Read(), -1);
}
