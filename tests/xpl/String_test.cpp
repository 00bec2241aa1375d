#include <gtest/gtest.h>

#include "QmXpl/MBS_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/String_t.h"
#include "QmXpl/UTF8_t.h"

using QmXplStr::String_t;

TEST(StringTest, NullDiffersFromEmpty) {
    String_t null;
    String_t empty("");
    EXPECT_TRUE(null.IsNull());
    EXPECT_TRUE(null.IsEmpty());
    EXPECT_FALSE(empty.IsNull());
    EXPECT_TRUE(empty.IsEmpty());
    EXPECT_NE(null, empty);
    EXPECT_LT(null, empty);
    EXPECT_TRUE(String_t(static_cast<const char*>(nullptr)).IsNull());
    EXPECT_EQ(String_t::Null, null);
}

TEST(StringTest, Utf8RoundTripWithNonBmp) {
    const char* text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80z";  // a é € 😀 z
    String_t s(text);
    ASSERT_EQ(s.GetLength(), 6);  // the emoji is a surrogate pair
    EXPECT_EQ(s.GetAt(1), 0xE9);
    EXPECT_EQ(s.GetAt(2), 0x20AC);
    EXPECT_EQ(s.GetAt(3), 0xD83D);
    EXPECT_EQ(s.GetAt(4), 0xDE00);
    EXPECT_STREQ(QmXplStr::UTF8_t(s).c_str(), text);
    EXPECT_STREQ(QmXplStr::MBS_t(s).c_str(), text);
}

TEST(StringTest, InvalidUtf8DecodesToReplacement) {
    struct Case {
        std::string in;
        std::u16string out;
    } cases[] = {
        {"\xFF", u"\uFFFD"},
        {"a\x80"
         "b",
         u"a\uFFFDb"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong slash
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
        {"\xE2\x82", u"\uFFFD"},                            // truncated at end
        {"\xE2\x82z", u"\uFFFDz"},                          // truncated before ASCII
    };
    for (const auto& c : cases) {
        EXPECT_EQ(String_t(c.in).Str(), c.out) << c.in.size();
    }
}

TEST(StringTest, UnpairedSurrogateEncodesAsReplacement) {
    String_t s(u"x\xD800y");
    EXPECT_EQ(s.ToUtf8(), "x\xEF\xBF\xBDy");
}

TEST(StringTest, EditingAndSearching) {
    String_t s("Hello, World");
    EXPECT_EQ(s.Mid(7), String_t("World"));
    EXPECT_EQ(s.Mid(7, 3), String_t("Wor"));
    EXPECT_EQ(s.Mid(50), String_t(""));
    EXPECT_EQ(s.Mid(-5, 2), String_t("He"));
    EXPECT_EQ(s.FindOneOf(String_t(",W")), 5);
    EXPECT_EQ(s.FindOneOf(String_t("xyz")), String_t::npos);
    EXPECT_EQ(s.Find(String_t("World")), 7);
    EXPECT_EQ(s.ToUpper(), String_t("HELLO, WORLD"));
    EXPECT_EQ(String_t("\xC3\xA9t\xC3\xA9").ToUpper(), String_t("\xC3\x89T\xC3\x89"));
    EXPECT_EQ(String_t("File_Name").CaseCompare(String_t("FILE_name")), 0);
    EXPECT_LT(String_t("abc").CaseCompare(String_t("ABD")), 0);
    String_t n;
    n.Append(String_t("x"));
    EXPECT_FALSE(n.IsNull());
    EXPECT_EQ(String_t("a") + "b" + String_t("c"), String_t("abc"));
    EXPECT_EQ(s.GetAt(100), 0);
}

TEST(StringTest, OrderIsByUtf16Units) {
    // U+FF5E (one unit 0xFF5E) sorts after U+1F600 (units D83D DE00) in UTF-16 order,
    // although its code point is smaller.
    String_t bmp(u"\uFF5E");
    String_t astral(u"\U0001F600");
    EXPECT_LT(astral, bmp);
}

TEST(NumToStrTest, FormatsOneIntegerConversion) {
    using QmXplStr::NumToStr;
    EXPECT_EQ(NumToStr(0xC0A80001u, "' with IP 0x%x. No ID is defined"),
              String_t("' with IP 0xc0a80001. No ID is defined"));
    EXPECT_EQ(NumToStr(-1, "%x"), String_t("ffffffff"));
    EXPECT_EQ(NumToStr(-1, "%lx"), String_t("ffffffffffffffff"));
    EXPECT_EQ(NumToStr(42), String_t("42"));
    EXPECT_EQ(NumToStr(7, "%05d%%"), String_t("00007%"));
    EXPECT_THROW(NumToStr(1, "%s"), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(NumToStr(1, "none"), QmXplMsg::IllegalArgumentError_t);
    EXPECT_THROW(NumToStr(1, "%d %d"), QmXplMsg::IllegalArgumentError_t);
}
