// The text of configuration files: what the reader takes from it and how the editor changes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "config/ConfigFile.h"
#include "support/TraceCapture.h"

using QmXplConfig::detail::ClassifyLine;
using QmXplConfig::detail::ConfigLine;
using QmXplConfig::detail::ConfigSection;
using QmXplConfig::detail::EditConfigText;
using QmXplConfig::detail::ParseConfigText;
using QmXplConfig::detail::ParsedConfig;

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

Entries EntriesOf(const ParsedConfig& parsed, const std::string& section) {
    const ConfigSection* s = parsed.Find(section);
    return s ? s->entries : Entries();
}

}  // namespace

TEST(ConfigParseTest, ClassifiesEachKindOfLine) {
    struct Case {
        std::string line;
        ConfigLine::Kind kind;
        std::string name;
        std::string value;
    } cases[] = {
        {"", ConfigLine::kBlank, "", ""},
        {" \t\r", ConfigLine::kBlank, "", ""},
        {"# comment = with equals", ConfigLine::kComment, "", ""},
        {"   ; other comment", ConfigLine::kComment, "", ""},
        {"[sec.core]", ConfigLine::kSection, "sec.core", ""},
        {"  [ sec.core.auth ]  \r", ConfigLine::kSection, "sec.core.auth", ""},
        {"KEY=value", ConfigLine::kEntry, "KEY", "value"},
        {"  KEY \t=  spaced value  \r", ConfigLine::kEntry, "KEY", "spaced value"},
        {"URL=https://h/?a=b&c=d", ConfigLine::kEntry, "URL", "https://h/?a=b&c=d"},
        {"EMPTY=", ConfigLine::kEntry, "EMPTY", ""},
        {"HASH=a # not a comment", ConfigLine::kEntry, "HASH", "a # not a comment"},
        {"TWO WORDS=x", ConfigLine::kEntry, "TWO WORDS", "x"},
        {"no equals sign", ConfigLine::kMalformed, "", ""},
        {"=value without key", ConfigLine::kMalformed, "", ""},
        {"  = ", ConfigLine::kMalformed, "", ""},
        {"[unterminated", ConfigLine::kMalformed, "", ""},
        {"[]", ConfigLine::kMalformed, "", ""},
        {"[  ]", ConfigLine::kMalformed, "", ""},
        {"[a[b]", ConfigLine::kMalformed, "", ""},
        {"[sec.core] trailing", ConfigLine::kMalformed, "", ""},
    };
    for (const Case& c : cases) {
        ConfigLine line = ClassifyLine(c.line);
        EXPECT_EQ(line.kind, c.kind) << "'" << c.line << "'";
        EXPECT_EQ(std::string(line.name), c.name) << "'" << c.line << "'";
        EXPECT_EQ(std::string(line.value), c.value) << "'" << c.line << "'";
    }
}

TEST(ConfigParseTest, ReadsSectionsKeysAndValues) {
    const std::string text =
        "# node configuration\n"
        "; written by hand\n"
        "\n"
        "[sec.core]\n"
        "CORE_ID = 0123-abcd \n"
        "\tEXTRA=a=b=c\n"
        "EMPTY=\n"
        "\n"
        "[sec.core.auth]\n"
        "MANAGER_ID=mgr\n"
        "core_id=lower case is another key\n";
    ParsedConfig parsed = ParseConfigText(text, "test");
    EXPECT_EQ(parsed.sections.size(), 2u);
    EXPECT_EQ(EntriesOf(parsed, "sec.core"),
              (Entries{{"CORE_ID", "0123-abcd"}, {"EXTRA", "a=b=c"}, {"EMPTY", ""}}));
    EXPECT_EQ(EntriesOf(parsed, "sec.core.auth"),
              (Entries{{"MANAGER_ID", "mgr"}, {"core_id", "lower case is another key"}}));
    EXPECT_EQ(parsed.Find("SEC.CORE"), nullptr);  // section names are case-sensitive
}

TEST(ConfigParseTest, CrLfLinesAndByteOrderMarkReadAsPlainLines) {
    const std::string lf = "[a]\nK1=v1\nK2 = v 2\n[b]\nK3=v3";
    std::string crlf;
    for (char c : lf) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    for (const std::string& text : {lf, crlf, "\xEF\xBB\xBF" + crlf}) {
        ParsedConfig parsed = ParseConfigText(text, "test");
        EXPECT_EQ(EntriesOf(parsed, "a"), (Entries{{"K1", "v1"}, {"K2", "v 2"}}));
        EXPECT_EQ(EntriesOf(parsed, "b"), (Entries{{"K3", "v3"}}));
    }
}

TEST(ConfigParseTest, DuplicateKeyKeepsFirstPositionAndLastValue) {
    ParsedConfig parsed = ParseConfigText("[s]\nA=1\nB=2\nA=3\n[t]\nX=1\n[s]\nC=4\nB=5\n", "test");
    // The section given twice is one section; its keys stay in the order they first appeared.
    EXPECT_EQ(EntriesOf(parsed, "s"), (Entries{{"A", "3"}, {"B", "5"}, {"C", "4"}}));
    EXPECT_EQ(EntriesOf(parsed, "t"), (Entries{{"X", "1"}}));
}

TEST(ConfigParseTest, MalformedLinesAreSkippedAndTraced) {
    qmsec_test::TraceCapture trace("qmxpl.config=0xffffffff");
    ParsedConfig parsed = ParseConfigText(
        "ORPHAN=before any section\n"
        "[good]\n"
        "A=1\n"
        "this line has no equals sign\n"
        "=no key\n"
        "B=2\n"
        "[broken\n"
        "STRAY=must not land in [good]\n"
        "[next]\n"
        "C=3\n",
        "/etc/test.ini");
    EXPECT_EQ(EntriesOf(parsed, "good"), (Entries{{"A", "1"}, {"B", "2"}}));
    EXPECT_EQ(EntriesOf(parsed, "next"), (Entries{{"C", "3"}}));
    EXPECT_EQ(parsed.sections.size(), 2u);
    EXPECT_TRUE(trace.Contains("line 1 of '/etc/test.ini'"));
    EXPECT_TRUE(trace.Contains("malformed line 4 of '/etc/test.ini': this line has no equals"));
    EXPECT_TRUE(trace.Contains("malformed line 5"));
    EXPECT_TRUE(trace.Contains("malformed line 7"));
    EXPECT_TRUE(trace.Contains("line 8 of '/etc/test.ini': entry under a malformed section"));
}

TEST(ConfigParseTest, Utf8ValuesAndKeysAreKeptByteForByte) {
    const std::string value =
        "Gr\xC3\xBC\xC3\x9F"
        "e \xE2\x82\xAC \xF0\x9F\x94\x91";  // Grüße € 🔑
    ParsedConfig parsed =
        ParseConfigText("[s]\nNAME=" + value + "\n\xC3\xA9t\xC3\xA9=summer\n", "test");
    EXPECT_EQ(EntriesOf(parsed, "s"), (Entries{{"NAME", value}, {"\xC3\xA9t\xC3\xA9", "summer"}}));
}

TEST(ConfigParseTest, EmptyAndBlankTextsHaveNoSections) {
    EXPECT_TRUE(ParseConfigText("", "t").sections.empty());
    EXPECT_TRUE(ParseConfigText("\n\r\n  \n# only comments\n", "t").sections.empty());
    EXPECT_EQ(EntriesOf(ParseConfigText("[empty]\n", "t"), "empty"), Entries());
    EXPECT_NE(ParseConfigText("[empty]\n", "t").Find("empty"), nullptr);
}

// --- editing
// ---------------------------------------------------------------------------------------

namespace {

std::string Set(const std::string& text, const std::string& section, const std::string& key,
                const std::string& value, bool* changedOut = nullptr) {
    bool changed = false;
    std::string out = EditConfigText(text, section, key, &value, changed);
    if (changedOut) *changedOut = changed;
    return out;
}

std::string Remove(const std::string& text, const std::string& section, const std::string& key,
                   bool* changedOut = nullptr) {
    bool changed = false;
    std::string out = EditConfigText(text, section, key, nullptr, changed);
    if (changedOut) *changedOut = changed;
    return out;
}

const std::string kSample =
    "# header comment\n"
    "[sec.core]\n"
    "CORE_ID = old   \n"
    "; keep me\n"
    "OTHER=x\n"
    "\n"
    "# about auth\n"
    "[sec.core.auth]\n"
    "MANAGER_ID=m\n";

}  // namespace

TEST(ConfigEditTest, ChangingAValueRewritesOnlyItsLine) {
    bool changed = false;
    EXPECT_EQ(Set(kSample, "sec.core", "CORE_ID", "new", &changed),
              "# header comment\n"
              "[sec.core]\n"
              "CORE_ID=new\n"
              "; keep me\n"
              "OTHER=x\n"
              "\n"
              "# about auth\n"
              "[sec.core.auth]\n"
              "MANAGER_ID=m\n");
    EXPECT_TRUE(changed);
}

TEST(ConfigEditTest, SettingTheSameValueChangesNothing) {
    bool changed = true;
    EXPECT_EQ(Set(kSample, "sec.core", "CORE_ID", "old", &changed), kSample);
    EXPECT_FALSE(changed);
}

TEST(ConfigEditTest, NewKeyGoesAfterTheLastEntryOfItsSection) {
    EXPECT_EQ(Set(kSample, "sec.core", "NEW", "1"),
              "# header comment\n"
              "[sec.core]\n"
              "CORE_ID = old   \n"
              "; keep me\n"
              "OTHER=x\n"
              "NEW=1\n"
              "\n"
              "# about auth\n"
              "[sec.core.auth]\n"
              "MANAGER_ID=m\n");
    // Last section of a file without a final line feed.
    EXPECT_EQ(Set("[a]\nK=1", "a", "L", "2"), "[a]\nK=1\nL=2\n");
    // An empty section gets its first key right under its name.
    EXPECT_EQ(Set("[a]\n\n[b]\nX=1\n", "a", "K", "v"), "[a]\nK=v\n\n[b]\nX=1\n");
}

TEST(ConfigEditTest, NewSectionIsAppendedAfterABlankLine) {
    EXPECT_EQ(Set("", "s", "K", "v"), "[s]\nK=v\n");
    EXPECT_EQ(Set("[a]\nX=1\n", "s", "K", "v"), "[a]\nX=1\n\n[s]\nK=v\n");
    EXPECT_EQ(Set("[a]\nX=1", "s", "K", "v"), "[a]\nX=1\n\n[s]\nK=v\n");
    EXPECT_EQ(Set("[a]\nX=1\n\n", "s", "K", "v"), "[a]\nX=1\n\n[s]\nK=v\n");
}

TEST(ConfigEditTest, CrLfFilesGetCrLfLinesAndKeepTheirMark) {
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(Set(bom + "[a]\r\nK=1\r\n", "a", "L", "2"), bom + "[a]\r\nK=1\r\nL=2\r\n");
    EXPECT_EQ(Set(bom + "[a]\r\nK=1\r\n", "a", "K", "3"), bom + "[a]\r\nK=3\r\n");
    EXPECT_EQ(Set("[a]\r\nK=1\r\n", "b", "K", "3"), "[a]\r\nK=1\r\n\r\n[b]\r\nK=3\r\n");
}

TEST(ConfigEditTest, DuplicatesChangeTheLineInForceAndAreAllRemoved) {
    const std::string text = "[s]\nA=1\nB=2\nA=3\n[t]\nA=9\n[s]\nA=4\n";
    // The last A of [s] is the one that is read, so that is the one set.
    std::string set = Set(text, "s", "A", "5");
    EXPECT_EQ(set, "[s]\nA=1\nB=2\nA=3\n[t]\nA=9\n[s]\nA=5\n");
    EXPECT_EQ(EntriesOf(ParseConfigText(set, "t"), "s"), (Entries{{"A", "5"}, {"B", "2"}}));
    // Removing must remove every A of [s], or an older one would come back into force.
    bool changed = false;
    std::string removed = Remove(text, "s", "A", &changed);
    EXPECT_TRUE(changed);
    EXPECT_EQ(removed, "[s]\nB=2\n[t]\nA=9\n[s]\n");
    EXPECT_EQ(EntriesOf(ParseConfigText(removed, "t"), "t"), (Entries{{"A", "9"}}));
}

TEST(ConfigEditTest, RemovingAnAbsentKeyChangesNothing) {
    bool changed = true;
    EXPECT_EQ(Remove(kSample, "sec.core", "MISSING", &changed), kSample);
    EXPECT_FALSE(changed);
    EXPECT_EQ(Remove(kSample, "nowhere", "CORE_ID", &changed), kSample);
    EXPECT_FALSE(changed);
    // The same key in another section is not touched.
    EXPECT_EQ(Remove(kSample, "sec.core.auth", "CORE_ID", &changed), kSample);
    EXPECT_FALSE(changed);
}

TEST(ConfigEditTest, KeysBelowAMalformedSectionLineAreNotTheSection) {
    // The reader ignores X below "[s" ; the editor must not change it as if it were in [s].
    const std::string text = "[s]\nA=1\n[s\nX=old\n";
    std::string out = Set(text, "s", "X", "new");
    EXPECT_EQ(out, "[s]\nA=1\nX=new\n[s\nX=old\n");
    EXPECT_EQ(EntriesOf(ParseConfigText(out, "t"), "s"), (Entries{{"A", "1"}, {"X", "new"}}));
}

TEST(ConfigEditTest, EditsReadBackAsWrittenThroughManySteps) {
    std::string text = "# start\n";
    for (int i = 0; i < 20; ++i) {
        std::string section = "ns" + std::to_string(i % 3);
        text = Set(text, section, "K" + std::to_string(i % 5), "v" + std::to_string(i));
    }
    text = Remove(text, "ns0", "K0");
    ParsedConfig parsed = ParseConfigText(text, "t");
    // i % 3 == 0: i = 0,3,6,9,12,15,18 -> keys K0 (0,15: removed), K3 (3,18), K1 (6), K4 (9),
    // K2 (12).
    EXPECT_EQ(EntriesOf(parsed, "ns0"),
              (Entries{{"K3", "v18"}, {"K1", "v6"}, {"K4", "v9"}, {"K2", "v12"}}));
    EXPECT_EQ(text.rfind("# start\n", 0), 0u);
}
