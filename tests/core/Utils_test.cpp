// Console formatting with labels, hanging indents and line breaking.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "QmSecCore/Utils.h"

namespace {

using QmSecCore::Utils;
using QmXplStr::String_t;

std::vector<std::string> Lines(const String_t& s) {
    std::vector<std::string> lines;
    std::istringstream in(s.ToUtf8());
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

TEST(FormatOutputTest, ShortTextStaysOnThePaddedLabelLine) {
    EXPECT_EQ(Utils::FormatStdOutput(String_t("disk almost full"), 10, 80, Utils::eWarning),
              String_t("WARNING:  disk almost full"));
    EXPECT_EQ(Utils::FormatStdOutput(String_t("x"), 8, 80, Utils::eInfo), String_t("INFO:   x"));
    EXPECT_EQ(Utils::FormatStdOutput(String_t("x"), 8, 80, Utils::eNote), String_t("NOTE:   x"));
    EXPECT_EQ(Utils::FormatStdOutput(String_t("x"), 8, 80, Utils::eError), String_t("ERROR:  x"));
}

TEST(FormatOutputTest, LongLabelPutsTheTextOnTheNextLine) {
    EXPECT_EQ(Utils::FormatOutput(String_t("A long label:"), String_t("text"), 4, 40),
              String_t("A long label:\n    text"));
}

TEST(FormatOutputTest, WordLongerThanTheRoomIsCutIntoIndentedLines) {
    String_t word(200, u'w');
    String_t out = Utils::FormatOutput(String_t("L:"), word, 4, 40);
    auto lines = Lines(out);
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0].substr(0, 4), "L:  ");
    size_t letters = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 40u) << i;
        if (i > 0) {
            EXPECT_EQ(lines[i].substr(0, 4), "    ") << i;
        }
        letters += lines[i].size() - 4;
    }
    EXPECT_EQ(letters, 200u);  // nothing lost, nothing added but indents
}

TEST(FormatOutputTest, LongWordAfterALongLabelDoesNotOverrunTheWidth) {
    // The label is longer than the indent, so the text starts on a fresh line at the indent.
    String_t out = Utils::FormatOutput(String_t("A label longer than the indent:"),
                                       String_t(100, u'x'), 4, 40);
    auto lines = Lines(out);
    size_t letters = 0;
    for (size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].size(), 40u) << i;
        EXPECT_EQ(lines[i].substr(0, 4), "    ");
        EXPECT_NE(lines[i], "    ");  // no line of blanks only
        letters += lines[i].size() - 4;
    }
    EXPECT_EQ(letters, 100u);
}

TEST(FormatOutputTest, BreaksAfterBreakCharactersAndAtLineFeeds) {
    String_t out = Utils::FormatOutput(String_t("P:"), String_t("aaaa/bbbb/cccc/dddd"), 2, 12);
    EXPECT_EQ(out, String_t("P:\n  aaaa/bbbb/\n  cccc/dddd"));
    String_t lf = Utils::FormatOutput(String_t("P:"), String_t("one\ntwo"), 4, 40);
    EXPECT_EQ(lf, String_t("P:  one\n    two"));
    // Every break character keeps its place at the end of the piece before the break.
    String_t all = Utils::FormatOutput(String_t(""), String_t("a}b]c>d|e\\f g"), 0, 3);
    EXPECT_EQ(all, String_t("\na}\nb]\nc>\nd|\ne\\\nf g"));
}

TEST(FormatOutputTest, EmptyTextReturnsTheLabelUnpadded) {
    EXPECT_EQ(Utils::FormatOutput(String_t("L:"), String_t(""), 10, 80), String_t("L:"));
    EXPECT_EQ(Utils::FormatStdOutput(String_t(""), 10, 80, Utils::eError), String_t("ERROR:"));
}

TEST(FormatOutputTest, OtherTypesUseAStarLabel) {
    EXPECT_EQ(Utils::FormatStdOutput(String_t("t"), 6, 80, static_cast<Utils::MsgType>(9)),
              String_t("    * t"));
}

TEST(FormatOutputTest, NoRoomToWrapReturnsLabelAndTextUnwrapped) {
    String_t text("some text that would need wrapping");
    EXPECT_EQ(Utils::FormatOutput(String_t("L:"), text, 10, 10), String_t("L:") + text);
    EXPECT_EQ(Utils::FormatOutput(String_t("L:"), text, 10, 3), String_t("L:") + text);
    EXPECT_EQ(Utils::FormatStdOutput(text, 1, 80, static_cast<Utils::MsgType>(-1)),
              String_t("*") + text);
    EXPECT_EQ(Utils::FormatStdOutput(text, 0, 80, static_cast<Utils::MsgType>(4)),
              String_t("*") + text);
}

TEST(FormatOutputTest, NarrowRoomNeverLosesText) {
    // Room of 8: the line may end exactly at the width before a piece longer than the room.
    String_t text("abcd efghijklmnopqrstuvwxyz 0123456789abcdef");
    String_t out = Utils::FormatOutput(String_t("L:"), text, 4, 12);
    std::string flat;
    for (auto& l : Lines(out)) {
        EXPECT_LE(l.size(), 12u);
        flat += l.size() > 4 ? l.substr(4) : "";
    }
    EXPECT_EQ(flat, "abcd efghijklmnopqrstuvwxyz 0123456789abcdef");
}

}  // namespace
