#include <gtest/gtest.h>

#include <random>
#include <string>

#include "QmXpl/CharArrayInputStream_t.h"
#include "QmXpl/CharArrayOutputStream_t.h"
#include "QmXpl/IOException_t.h"
#include "support/Bytes.h"
#include "support/Streams.h"
#include "support/TempDir.h"

using namespace QmXplIo;
using qmsec_test::Arr;
using qmsec_test::Str;

TEST(CharArrayInputStreamTest, ReadsItsOwnCopy) {
    QmXplArray::CharArray_t data = Arr(std::string("ab\0cd", 5));
    CharArrayInputStream_t in(data);
    data[0] = 'X';  // the stream holds its own copy
    EXPECT_EQ(in.Available(), 5);
    char buf[8];
    ASSERT_EQ(in.Read(buf, 2), 2);
    EXPECT_EQ(std::string(buf, 2), "ab");
    EXPECT_EQ(in.Read(), 0);
    EXPECT_EQ(in.Skip(1), 1);
    EXPECT_EQ(in.Available(), 1);
    ASSERT_EQ(in.Read(buf, 8), 1);
    EXPECT_EQ(buf[0], 'd');
    EXPECT_EQ(in.Read(buf, 8), -1);
    EXPECT_EQ(in.Read(), -1);
    EXPECT_EQ(in.Skip(10), 0);
    EXPECT_EQ(in.Read(buf, 0), 0);

    CharArrayInputStream_t empty(nullptr, 5);
    EXPECT_EQ(empty.Read(), -1);
    CharArrayInputStream_t none;
    EXPECT_THROW(none.Read(), QmXplMsg::IllegalStateError_t);
}

TEST(CharArrayOutputStreamTest, CollectsGrowsResetsAndAnswersAfterClose) {
    std::mt19937 rng(1);
    std::string expect;
    CharArrayOutputStream_t out(0);
    for (int i = 0; i < 200; ++i) {
        std::string chunk = qmsec_test::RandomBytes(rng, rng() % 3000);
        out.Write(chunk.data(), static_cast<int>(chunk.size()));
        out.Write(i & 0xFF);
        expect += chunk;
        expect.push_back(static_cast<char>(i & 0xFF));
    }
    EXPECT_EQ(out.GetSize(), static_cast<int>(expect.size()));
    EXPECT_TRUE(Str(out.ToCharArray()) == expect);

    // A copy of the handle shares the body; ToCharArray gives an independent array.
    CharArrayOutputStream_t alias = out;
    QmXplArray::CharArray_t snapshot = alias.ToCharArray();
    out.Reset();
    EXPECT_EQ(alias.GetSize(), 0);
    EXPECT_EQ(snapshot.GetSize(), static_cast<int>(expect.size()));

    out.Write("after", 5);
    out.Close();
    out.Close();
    EXPECT_EQ(Str(out.ToCharArray()), "after");
    EXPECT_EQ(out.GetSize(), 5);
    EXPECT_THROW(out.Write("x", 1), IOException_t);
    EXPECT_EQ(Str(out.ToCharArray()), "after");

    EXPECT_THROW(CharArrayOutputStream_t(-1), QmXplMsg::IllegalArgumentError_t);
    OutputStream_t base = CharArrayOutputStream_t();
    EXPECT_NO_THROW(base.Write("x", 1));
}
