// StringCollection: the cursor rules of Add, Clear, Remove and RemoveCurrent.
#include <gtest/gtest.h>

#include <vector>

#include "QmSecCore/StringCollection.h"
#include "support/TraceCapture.h"

namespace {

using QmSecCore::StringCollection;
using QmXplStr::String_t;

std::vector<std::string> Walk(const StringCollection& c) {
    std::vector<std::string> out;
    for (c.MoveFirst(); !c.IsAtEnd(); c.Next()) out.push_back(c.GetCurrent().ToUtf8());
    return out;
}

TEST(StringCollectionTest, BodyTracesItsLifeCycleLikeEveryOtherBody) {
    qmsec_test::TraceCapture capture;
    {
        StringCollection c;
        StringCollection copy = c;  // shares the body: one life cycle
        copy.Add(String_t("a"));
    }
    EXPECT_EQ(capture.Matching("StringCollectionImpl"),
              (std::vector<std::string>{
                  "> StringCollectionImpl Constructor", "< StringCollectionImpl Constructor",
                  "> StringCollectionImpl::DestroyThis()", "> StringCollectionImpl Destructor",
                  "< StringCollectionImpl Destructor", "< StringCollectionImpl::DestroyThis()"}));
}

TEST(StringCollectionTest, NewCollectionIsEmptyAndAtTheEnd) {
    StringCollection c;
    EXPECT_TRUE(c.IsEmpty());
    EXPECT_TRUE(c.IsAtEnd());
    EXPECT_EQ(c.GetCurrent(), String_t(""));
    EXPECT_EQ(c.Size(), 0);
    c.Next();
    c.RemoveCurrent();
    EXPECT_TRUE(c.IsAtEnd());
    EXPECT_EQ(c.Size(), 0);
}

TEST(StringCollectionTest, FirstAddPlacesTheCursorLaterAddsLeaveIt) {
    StringCollection c;
    c.Add(String_t("a"));
    EXPECT_EQ(c.GetCurrent(), String_t("a"));
    c.Add(String_t("b"));
    c.Add(String_t("c"));
    EXPECT_EQ(c.GetCurrent(), String_t("a"));
    std::vector<std::string> seen;
    for (; !c.IsAtEnd(); c.Next()) seen.push_back(c.GetCurrent().ToUtf8());
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    c.Next();  // at the end: nothing happens
    EXPECT_TRUE(c.IsAtEnd());
}

TEST(StringCollectionTest, AddAfterClearLeavesTheCursorAtTheEndUntilMoveFirst) {
    StringCollection c;
    c.Add(String_t("a"));
    c.Clear();
    EXPECT_TRUE(c.IsAtEnd());
    EXPECT_TRUE(c.IsEmpty());
    c.Add(String_t("x"));
    EXPECT_TRUE(c.IsAtEnd());
    c.MoveFirst();
    EXPECT_EQ(c.GetCurrent(), String_t("x"));
}

TEST(StringCollectionTest, RemoveEveryEqualElementMovingACursorOnOne) {
    StringCollection c;
    for (const char* s : {"x", "d", "x", "e", "x", "f"}) c.Add(String_t(s));
    c.MoveFirst();
    c.Next();
    c.Next();  // on the second "x"
    EXPECT_EQ(c.Remove(String_t("x")), 3);
    // The cursor moved past the second "x" to "e", which survives.
    EXPECT_EQ(c.GetCurrent(), String_t("e"));
    EXPECT_EQ(Walk(c), (std::vector<std::string>{"d", "e", "f"}));
    EXPECT_EQ(c.Remove(String_t("nothing")), 0);
    // Adjacent duplicates under the cursor: it ends on the element after the last of them.
    StringCollection d;
    for (const char* s : {"a", "y", "y", "y", "b"}) d.Add(String_t(s));
    d.MoveFirst();
    d.Next();
    EXPECT_EQ(d.Remove(String_t("y")), 3);
    EXPECT_EQ(d.GetCurrent(), String_t("b"));
}

TEST(StringCollectionTest, RemoveCurrentMovesToTheNextAndNullDiffersFromEmpty) {
    StringCollection c;
    c.Add(String_t("a"));
    c.Add(String_t("b"));
    c.RemoveCurrent();
    EXPECT_EQ(c.GetCurrent(), String_t("b"));
    c.RemoveCurrent();
    EXPECT_TRUE(c.IsAtEnd());
    EXPECT_TRUE(c.IsEmpty());
    c.Add(String_t(""));
    c.Add(String_t());
    EXPECT_EQ(c.Remove(String_t("")), 1);
    EXPECT_EQ(c.Size(), 1);
}

TEST(StringCollectionTest, CopiesShareListAndCursor) {
    StringCollection c;
    c.Add(String_t("a"));
    c.Add(String_t("b"));
    StringCollection copy(c);
    copy.Next();
    EXPECT_EQ(c.GetCurrent(), String_t("b"));
    copy.Add(String_t("c"));
    EXPECT_EQ(c.Size(), 3);
}

}  // namespace
