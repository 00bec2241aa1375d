// The scanner of policy data files, token by token: keywords and their codes, value words,
// times, dates, addresses, strings and escapes, comments, line counting and hostile input.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "PolicyDataParser.h"
#include "tests/auth/PolicyDataTestSupport.h"

using policytest::Scan;
using policytest::Token;

namespace {

constexpr int kCatchAll = 324;

// The keyword table as published for policy authors: spelling and token code.
const std::vector<std::pair<std::string, int>> kKeywords = {
    {"ACKN", 257},
    {"ACKNONLOCALMGR", 258},
    {"ACTALLOWMGRID", 259},
    {"ACTIONALLOWMANAGER", 260},
    {"ACTIONALLOWMANAGERS", 261},
    {"APPLICATION", 262},
    {"CONDSTATUSVAR", 264},
    {"CONDSTATUSVARS", 265},
    {"DATE", 266},
    {"DEC", 267},
    {"DEFAULTMANAGER", 268},
    {"DESCRIPTION", 269},
    {"FROM", 270},
    {"ID", 272},
    {"INSERVICE", 273},
    {"IP", 274},
    {"LOGONLY", 275},
    {"MSGCONDTYPE", 276},
    {"MSGCONTROLLINGMGR", 277},
    {"MSGGRP", 278},
    {"MSGOPERATION", 279},
    {"MSGOPERATIONS", 280},
    {"MSGTARGETMANAGER", 281},
    {"MSGTARGETMANAGERS", 282},
    {"MSGTARGETRULE", 283},
    {"MSGTARGETRULECOND", 284},
    {"MSGTARGETRULECONDS", 285},
    {"MSGTARGETRULEID", 286},
    {"MSGTARGETRULES", 287},
    {"MSGTYPE", 288},
    {"NODE", 289},
    {"NOTIFICATION", 290},
    {"NOTIFYMGR", 291},
    {"NOVELL", 292},
    {"OBJECT", 293},
    {"ON", 294},
    {"VEXMGR", 295},
    {"OTHER", 296},
    {"RESPMGRCFG", 297},
    {"RESPMGRCFGID", 298},
    {"RESPMGRCONFIG", 299},
    {"RESPMGRCONFIGS", 300},
    {"SECONDARYMANAGER", 301},
    {"SECONDARYMANAGERS", 302},
    {"SECONDARYMGRID", 303},
    {"SERVICE_NAME", 305},
    {"SEVERITY", 306},
    {"SNA", 307},
    {"SUPPRESS", 308},
    {"TEXT", 309},
    {"TIME", 310},
    {"TIMECONDTYPE", 311},
    {"TIMETEMPLATE", 312},
    {"TIMETEMPLATENAME", 313},
    {"TIMETEMPLATES", 314},
    {"TIMETMPLCOND", 315},
    {"TIMETMPLCONDID", 316},
    {"TIMETMPLCONDS", 317},
    {"TIMETMPLID", 318},
    {"TIMEZONETYPE", 319},
    {"TIMEZONEVALUE", 320},
    {"TO", 321},
    {"TROUBLETICKET", 322},
    {"WEEKDAY", 323},
};

Token Single(const std::string& input) {
    std::vector<Token> tokens = Scan(input);
    EXPECT_EQ(tokens.size(), 1u) << "input: " << input;
    return tokens.empty() ? Token{-1, 0, 0, false, "", "", 0} : tokens[0];
}

// A string literal with embedded zero bytes, without its terminating zero.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

std::vector<int> Codes(const std::vector<Token>& tokens) {
    std::vector<int> codes;
    for (const Token& t : tokens) {
        codes.push_back(t.code);
    }
    return codes;
}

TEST(PolicyDataScannerTest, EveryKeywordHasItsCode) {
    ASSERT_EQ(kKeywords.size(), 64u);
    std::vector<bool> seen(325, false);
    for (const auto& [word, code] : kKeywords) {
        Token t = Single(word);
        EXPECT_EQ(t.code, code) << word;
        EXPECT_EQ(t.text, word);
        EXPECT_EQ(pdc_keyword(word.c_str()), code) << word;
        seen[code] = true;
    }
    // Codes run from 257 to 323 with exactly 263, 271 and 304 left out.
    for (int code = 257; code <= 323; ++code) {
        EXPECT_EQ(seen[code], code != 263 && code != 271 && code != 304) << code;
    }
}

TEST(PolicyDataScannerTest, KeywordTableIsSortedForBinarySearch) {
    ASSERT_EQ(pdc_keyword_count, 64);
    for (int i = 1; i < pdc_keyword_count; ++i) {
        EXPECT_LT(std::string(pdc_keywords[i - 1].word), std::string(pdc_keywords[i].word));
    }
    // Every entry of the table is a published keyword with its published code.
    for (int i = 0; i < pdc_keyword_count; ++i) {
        bool found = false;
        for (const auto& [word, code] : kKeywords) {
            found = found || (word == pdc_keywords[i].word && code == pdc_keywords[i].code);
        }
        EXPECT_TRUE(found) << pdc_keywords[i].word;
    }
}

TEST(PolicyDataScannerTest, UnknownWordsAreTheCatchAllToken) {
    // Keyword-shaped words outside the table, near misses on both sides of a binary search
    // step, and words longer than any keyword.
    for (const char* word :
         {"NORMAL", "A", "ZZZ", "_", "ACK", "ACKNX", "WEEKDAYS", "RESPMGRCONFIGSX", "SERVICE",
          "NODE_", "IP4", "TIMETEMPLATENAMES", "TRUE"}) {
        Token t = Single(word);
        EXPECT_EQ(t.code, kCatchAll) << word;
        EXPECT_EQ(t.text, word);
    }
    EXPECT_EQ(pdc_keyword("ACKNONLOCALMGS"), kCatchAll);
    EXPECT_EQ(pdc_keyword(""), kCatchAll);
}

TEST(PolicyDataScannerTest, ValueWordsAreCaseSensitiveTokensWithValues) {
    struct Case {
        const char* word;
        int code;
        long long value;
    } cases[] = {
        {"Unknown", SEVERITY_VALUE, 1},  {"Normal", SEVERITY_VALUE, 2},
        {"Warning", SEVERITY_VALUE, 4},  {"Minor", SEVERITY_VALUE, 16},
        {"Major", SEVERITY_VALUE, 32},   {"Critical", SEVERITY_VALUE, 8},
        {"False", BOOL_VALUE, 0},        {"True", BOOL_VALUE, 1},
        {"Match", CONDTYPE_VALUE, 1},    {"Unmatch", CONDTYPE_VALUE, 2},
        {"Suppress", CONDTYPE_VALUE, 2}, {"Monday", WEEKDAY_VALUE, 1},
        {"Tuesday", WEEKDAY_VALUE, 2},   {"Wednesday", WEEKDAY_VALUE, 3},
        {"Thursday", WEEKDAY_VALUE, 4},  {"Friday", WEEKDAY_VALUE, 5},
        {"Saturday", WEEKDAY_VALUE, 6},  {"Sunday", WEEKDAY_VALUE, 0},
        {"Fix", TZTYPE_VALUE, 0},        {"Local", TZTYPE_VALUE, 1},
        {"Mgmtserver", TZTYPE_VALUE, 2},
    };
    for (const Case& c : cases) {
        Token t = Single(c.word);
        EXPECT_EQ(t.code, c.code) << c.word;
        EXPECT_EQ(t.number, c.value) << c.word;
        EXPECT_EQ(t.text, c.word);
    }
    // Other spellings of the same words, and value words with something stuck to them.
    for (const char* word : {"normal", "NORMAL", "NorMal", "true", "SUNDAY", "Normalx", "True1",
                             "Fix_", "Monday.", "Local:"}) {
        EXPECT_EQ(Single(word).code, kCatchAll) << word;
    }
    // SUPPRESS is a keyword, Suppress a condition type.
    EXPECT_EQ(Single("SUPPRESS").code, 308);
}

TEST(PolicyDataScannerTest, TimesGiveSecondsOfTheDay) {
    Token t = Single("10:30");
    EXPECT_EQ(t.code, TIME_VALUE);
    EXPECT_EQ(t.number, 37800);
    EXPECT_EQ(t.text, "10:30");
    EXPECT_EQ(Single("0:00").number, 0);
    EXPECT_EQ(Single("23:59").number, 23 * 3600 + 59 * 60);
    EXPECT_EQ(Single("007:05").number, 7 * 3600 + 5 * 60);
    EXPECT_EQ(Single("9999999999:9999999999").number, 9999999999LL * 3600 + 9999999999LL * 60);
    // Not times: seconds, missing digits, trailing garbage, a group of more than ten digits.
    for (const char* text : {"10:30:00", "10:", ":30", "10:30x", "12345678901:00", "10.30"}) {
        Token t = Single(text);
        EXPECT_EQ(t.code, kCatchAll) << text;
        EXPECT_EQ(t.text, text);
    }
}

TEST(PolicyDataScannerTest, DatesGiveYearMonthDay) {
    struct Case {
        const char* text;
        long long value;
    } cases[] = {
        {"12/31/99", 19991231},   {"1/2/05", 20050102},     {"1/2/2005", 20050102},
        {"1/2/*", 102},           {"12/24/*", 1224},        {"1/1/69", 20690101},
        {"1/1/70", 19700101},     {"01/02/0005", 20050102}, {"2/29/100", 1000229},
        {"13/45/2024", 20241345},
    };
    for (const Case& c : cases) {
        Token t = Single(c.text);
        EXPECT_EQ(t.code, DATE_VALUE) << c.text;
        EXPECT_EQ(t.number, c.value) << c.text;
        EXPECT_EQ(t.text, c.text);
    }
    for (const char* text :
         {"1/2", "1/2/", "1/2/**", "1/*/2005", "*/2/2005", "1/2/2005/1", "1-2-2005"}) {
        EXPECT_EQ(Single(text).code, kCatchAll) << text;
    }
}

TEST(PolicyDataScannerTest, AddressesGiveHostOrderValues) {
    Token t = Single("10.20.30.40");
    EXPECT_EQ(t.code, IP_VALUE);
    EXPECT_EQ(t.address, 0x0A141E28u);
    EXPECT_EQ(Single("0.0.0.0").address, 0u);
    EXPECT_EQ(Single("255.255.255.255").address, 0xFFFFFFFFu);
    // Leading zeros are decimal digits, not an octal prefix.
    EXPECT_EQ(Single("010.001.000.009").address, 0x0A010009u);
    // An address that does not convert is still an address token, with the value 0.
    for (const char* text : {"256.0.0.1", "1.2.3.300", "9999999999.1.1.1"}) {
        Token bad = Single(text);
        EXPECT_EQ(bad.code, IP_VALUE) << text;
        EXPECT_EQ(bad.address, 0u) << text;
    }
    // Hexadecimal, too few or too many groups, and trailing garbage are no addresses.
    for (const char* text : {"0x0A000001", "0A.00.00.01", "10.0.0", "10.0.0.1.5", "10.0.0.1.",
                             "10..0.1", "10.0.0.a"}) {
        Token bad = Single(text);
        EXPECT_EQ(bad.code, kCatchAll) << text;
        EXPECT_EQ(bad.text, text);
    }
}

TEST(PolicyDataScannerTest, OtherRunsAreSingleCatchAllTokens) {
    // Lower-case words, bare numbers and punctuation, each as one token however long.
    std::vector<Token> tokens = Scan("node 42 *** a.b-c 12abc =");
    ASSERT_EQ(tokens.size(), 6u);
    const char* texts[] = {"node", "42", "***", "a.b-c", "12abc", "="};
    for (size_t i = 0; i < tokens.size(); ++i) {
        EXPECT_EQ(tokens[i].code, kCatchAll);
        EXPECT_EQ(tokens[i].text, texts[i]);
    }
    // A carriage return on its own and a form feed are no blanks: they join their neighbours.
    EXPECT_EQ(Single("ID\rNODE").text, "ID\rNODE");
    EXPECT_EQ(Single("ID\fNODE").code, kCatchAll);
    // Quotes and comment signs end a run; blanks and tabs separate tokens.
    EXPECT_EQ(Codes(Scan("ID\"x\"NODE#c\nIP\tON")),
              (std::vector<int>{272, STRING_LIT, 289, 274, 294}));
}

TEST(PolicyDataScannerTest, StringsResolveEscapes) {
    Token t = Single(R"("tab\there, feed\f, return\r, line\nend, quote \" backslash \\ other \q")");
    EXPECT_EQ(t.code, STRING_LIT);
    ASSERT_TRUE(t.hasValue);
    EXPECT_EQ(t.value, "tab\there, feed\f, return\r, line\nend, quote \" backslash \\ other q");
    EXPECT_EQ(Single("\"\"").value, "");
    // Comment signs and keywords inside a string are plain text.
    EXPECT_EQ(Single("\"# not a comment RESPMGRCONFIGS\"").value, "# not a comment RESPMGRCONFIGS");
    // The kept text of a string token is the string in its quotes.
    EXPECT_EQ(Single(R"("a\"b")").text, "\"a\"b\"");
    // An escaped quote outside a string is a plain character, not the start of a string.
    std::vector<Token> tokens = Scan(R"(\"ID ID)");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].code, kCatchAll);
    EXPECT_EQ(tokens[0].text, "\"ID");
    EXPECT_EQ(tokens[1].code, 272);
    // Escapes apply outside strings too: an escaped tab separates, an escaped letter is itself.
    EXPECT_EQ(Codes(Scan(R"(ID\tNODE)")), (std::vector<int>{272, 289}));
    EXPECT_EQ(Codes(Scan(R"(\NODE)")), (std::vector<int>{289}));
    // A backslash at the very end stands for itself.
    EXPECT_EQ(Single("\\").text, "\\");
}

TEST(PolicyDataScannerTest, StringsMayBeLongerThanTheTokenBuffer) {
    std::string long_value(100000, 'x');
    long_value[50000] = '\n';
    Token t = Single("\"" + long_value + "\"");
    EXPECT_EQ(t.code, STRING_LIT);
    EXPECT_EQ(t.value, long_value);
    // The kept text is cut to what an error record holds.
    EXPECT_EQ(t.text.size(), PBLIB_ERROR_TEXT_SIZE - 1u);
    EXPECT_EQ(t.text.substr(0, 4), "\"xxx");
}

TEST(PolicyDataScannerTest, UnterminatedStringIsACatchAllAtItsLine) {
    std::vector<Token> tokens = Scan("ID\n\"open string\nrunning to the end");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[1].code, kCatchAll);
    EXPECT_EQ(tokens[1].line, 2);
    EXPECT_EQ(tokens[1].text, "\"open string\nrunning to the end");
}

TEST(PolicyDataScannerTest, ZeroBytesNeverBecomeValidTokens) {
    // A zero byte would cut a string short as a C string: such a string is no string token.
    std::string with_zero = Bytes("\"ab\0cd\" ID");
    std::vector<Token> tokens = Scan(with_zero);
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].code, kCatchAll);
    EXPECT_EQ(tokens[1].code, 272);
    // Within a run it is part of the catch-all token; within a comment it is ignored.
    tokens = Scan(Bytes("ID\0X NODE # c\0mment\nIP"));
    EXPECT_EQ(Codes(tokens), (std::vector<int>{kCatchAll, 289, 274}));
    EXPECT_EQ(tokens[0].text, "IDX");
    // An escaped zero byte is still a zero byte.
    EXPECT_EQ(Scan(Bytes("\"a\\\0b\""))[0].code, kCatchAll);
}

TEST(PolicyDataScannerTest, LinesCountLineFeedsOfTheFile) {
    std::vector<Token> tokens = Scan(
        "ID\r\n"                         // CR LF is one line end
        "NODE \"two\nlines\"\n"          // a line feed inside a string counts
        "IP \"escaped\\nnewline\" ON\n"  // an escaped one does not
        "OTHER\rTO\n"                    // nor does a lone carriage return
        "# comment \\n with an escaped line feed\n"
        "\n\n"
        "TEXT\\\nDEC");  // an escaped real line feed is a line feed
    ASSERT_EQ(tokens.size(), 9u);
    EXPECT_EQ(Codes(tokens),
              (std::vector<int>{272, 289, STRING_LIT, 274, STRING_LIT, 294, kCatchAll, 309, 267}));
    std::vector<int> lines;
    for (const Token& t : tokens) {
        lines.push_back(t.line);
    }
    // A string's line is the line of its opening quote.
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 2, 4, 4, 4, 5, 9, 10}));
    EXPECT_EQ(tokens[4].value, "escaped\nnewline");
    EXPECT_EQ(tokens[6].text, "OTHER\rTO");
}

TEST(PolicyDataScannerTest, CommentsRunToTheEndOfTheLine) {
    EXPECT_EQ(Codes(Scan("# a comment ID NODE \"x\"\nIP # another\n#\n# last without line feed")),
              (std::vector<int>{274}));
    // A comment sign right after a word ends the word.
    EXPECT_EQ(Codes(Scan("RESPMGRCONFIGS#comment\nNODE")), (std::vector<int>{300, 289}));
    EXPECT_TRUE(Scan("").empty());
    EXPECT_TRUE(Scan(" \t\n\r\n  ").empty());
}

TEST(PolicyDataScannerTest, Utf8ContinuationBytesPassUnchanged) {
    // In "é" the second byte is a continuation byte; a backslash or a carriage return in that
    // place is passed on as it is, not read as an escape or a line end.
    std::vector<Token> tokens = Scan("\"caf\xC3\xA9\" \"x\xC3\\\" ID");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[0].value, "caf\xC3\xA9");
    EXPECT_EQ(tokens[1].value, "x\xC3\\");
    EXPECT_EQ(tokens[2].code, 272);
    // A lead byte takes a following CR LF as its continuation: no line end is merged, but the
    // line feed still ends a line of the file.
    tokens = Scan("\"\xE2\r\n\" ID");
    ASSERT_EQ(tokens.size(), 2u);
    EXPECT_EQ(tokens[0].value, "\xE2\r\n");
    EXPECT_EQ(tokens[1].code, 272);
    EXPECT_EQ(tokens[1].line, 2);
    // A four-byte character in a name.
    EXPECT_EQ(Single("\"\xF0\x9F\x98\x80\"").value, "\xF0\x9F\x98\x80");
}

TEST(PolicyDataScannerTest, OverlongTokensAreCatchAllsAtTheirLine) {
    // A word or run of any length is one token; the text kept for an error report is cut.
    std::string word(100000, 'A');
    std::vector<Token> tokens = Scan("ID\n" + word + " NODE");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[1].code, kCatchAll);
    EXPECT_EQ(tokens[1].line, 2);
    EXPECT_EQ(tokens[1].text, word.substr(0, PBLIB_ERROR_TEXT_SIZE - 1));
    EXPECT_EQ(tokens[2].code, 289);
    // A keyword-shaped word of 64 characters is still looked up, one of 65 is not.
    EXPECT_EQ(Single(std::string(64, 'B')).code, kCatchAll);
    EXPECT_EQ(Single(std::string(65, 'B')).text, std::string(65, 'B'));
}

TEST(PolicyDataScannerTest, CommentsLongerThanTheTokenBufferAreRefused) {
    std::string fits = "#" + std::string(PDC_MAX_TOKEN_LENGTH - 1, 'c');
    EXPECT_EQ(Codes(Scan(fits + "\nID")), (std::vector<int>{272}));
    std::string too_long = "#" + std::string(PDC_MAX_TOKEN_LENGTH, 'c');
    std::vector<Token> tokens = Scan("ID\n\n" + too_long + "\nNODE");
    ASSERT_EQ(tokens.size(), 3u);
    EXPECT_EQ(tokens[1].code, kCatchAll);
    EXPECT_EQ(tokens[1].line, 3);
    EXPECT_EQ(tokens[1].text, too_long.substr(0, PBLIB_ERROR_TEXT_SIZE - 1));
    EXPECT_EQ(tokens[2].code, 289);
    // Escapes and markers count as one character each.
    std::string escaped = "#" + std::string(PDC_MAX_TOKEN_LENGTH - 2, 'c') + "\\n";
    EXPECT_TRUE(Scan(escaped).empty());
    // At the end of the input without a line feed as well.
    EXPECT_EQ(Codes(Scan(too_long)), (std::vector<int>{kCatchAll}));
}

}  // namespace
