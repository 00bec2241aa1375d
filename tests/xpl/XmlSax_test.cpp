#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "QmXpl/DefaultHandler_t.h"
#include "QmXpl/IOException_t.h"
#include "QmXpl/InputSource_t.h"
#include "QmXpl/InputStream_t.h"
#include "QmXpl/Message_t.h"
#include "QmXpl/SAXParseException_t.h"
#include "QmXpl/SAXParser_t.h"
#include "QmXpl/UTF8_t.h"
#include "QmXpl/XMLReader_t.h"
#include "support/Streams.h"

using QmXplIo::InputStream_t;
using QmXplStr::String_t;
using QmXplXml::Attributes_i;
using QmXplXml::DefaultHandler_t;
using QmXplXml::InputSource_t;
using QmXplXml::SAXParseException_t;
using QmXplXml::SAXParser_t;

namespace {

// A stream over bytes in memory that hands out at most step bytes per Read and, when told,
// reports nothing as available, like a slow connection.
InputStream_t Stream(const std::string& data, int step = 1 << 30, bool announce = true) {
    auto* stream = new qmsec_test::ScriptedInputImpl(data, step);
    stream->announce = announce;
    return InputStream_t(stream);
}

InputStream_t Trickle(const std::string& data) { return Stream(data, 1, false); }

std::string U8(const String_t& s) { return s.IsNull() ? "<null>" : s.ToUtf8(); }

// Writes every call as one line; consecutive Characters calls are merged into one line, so
// logs compare equal however the text was split.
class Recorder : public DefaultHandler_t {
  public:
    std::vector<std::string> log;
    std::u16string text;  // every character reported, in order
    int characterCalls = 0;

    void StartDocument() override { Add("startDocument"); }
    void EndDocument() override { Add("endDocument"); }
    void StartElement(const String_t& uri, const String_t& localName, const String_t& qName,
                      const Attributes_i& atts) override {
        std::string line = "start {" + U8(uri) + "}" + U8(localName) + " " + U8(qName);
        for (int i = 0; i < atts.GetLength(); ++i) {
            line += " [{" + U8(atts.GetURI(i)) + "}" + U8(atts.GetLocalName(i)) + " " +
                    U8(atts.GetQName(i)) + "=" + U8(atts.GetValue(i)) + "]";
        }
        Add(line);
    }
    void EndElement(const String_t& uri, const String_t& localName,
                    const String_t& qName) override {
        Add("end {" + U8(uri) + "}" + U8(localName) + " " + U8(qName));
    }
    void Characters(const char16_t* chars, int start, int length) override {
        ++characterCalls;
        std::u16string piece(chars + start, static_cast<size_t>(length));
        text += piece;
        std::string utf8 = String_t(piece).ToUtf8();
        if (!log.empty() && log.back().rfind("chars ", 0) == 0) {
            log.back() += utf8;
        } else {
            log.push_back("chars " + utf8);
        }
    }
    void ProcessingInstruction(const String_t& target, const String_t& data) override {
        Add("pi " + U8(target) + " " + U8(data));
    }
    void StartPrefixMapping(const String_t& prefix, const String_t& uri) override {
        Add("prefix " + U8(prefix) + "=" + U8(uri));
    }
    void EndPrefixMapping(const String_t& prefix) override { Add("endprefix " + U8(prefix)); }
    void SkippedEntity(const String_t& name) override { Add("skipped " + U8(name)); }

  private:
    void Add(const std::string& line) { log.push_back(line); }
};

std::vector<std::string> ParseLog(const std::string& doc, InputStream_t in) {
    (void)doc;
    Recorder r;
    SAXParser_t parser;
    parser.SetContentHandler(&r);
    parser.Parse(InputSource_t(in));
    return r.log;
}

const char kRichDocument[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- a comment -->\n"
    "<h:root xmlns:h=\"urn:head\" xmlns=\"urn:default\" a=\"1\" h:b=\"t&amp;w&#x6F;\">\n"
    "  <child>text &lt;here&gt; <![CDATA[<raw & kept>]]></child><?pi some data?>\n"
    "  <h:leaf xmlns=\"\"><plain>caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80</plain></h:leaf>\n"
    "</h:root>\n";

}  // namespace

TEST(SaxTest, CallsComeInDocumentOrderWithNamespacesSplit) {
    std::vector<std::string> expected = {
        "startDocument",
        "prefix h=urn:head",
        "prefix =urn:default",
        "start {urn:head}root h:root [{}a a=1] [{urn:head}b h:b=t&wo]",
        "chars \n  ",
        "start {urn:default}child child",
        "chars text <here> <raw & kept>",
        "end {urn:default}child child",
        "pi pi some data",
        "chars \n  ",
        "prefix =",
        "start {urn:head}leaf h:leaf",
        "start {}plain plain",
        "chars caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
        "end {}plain plain",
        "end {urn:head}leaf h:leaf",
        "endprefix ",
        "chars \n",
        "end {urn:head}root h:root",
        "endprefix ",  // the order of the ends of one element's mappings is the engine's
        "endprefix h",
        "endDocument",
    };
    EXPECT_EQ(ParseLog(kRichDocument, Stream(kRichDocument)), expected);
}

TEST(SaxTest, OneByteReadsGiveTheSameCalls) {
    std::vector<std::string> whole = ParseLog(kRichDocument, Stream(kRichDocument));
    std::vector<std::string> trickled = ParseLog(kRichDocument, Trickle(kRichDocument));
    EXPECT_EQ(trickled, whole);
    std::vector<std::string> chunked = ParseLog(kRichDocument, Stream(kRichDocument, 7, true));
    EXPECT_EQ(chunked, whole);
}

TEST(SaxTest, AttributesAnswerByIndexAndByName) {
    struct Probe : DefaultHandler_t {
        bool seen = false;
        void StartElement(const String_t&, const String_t& local, const String_t&,
                          const Attributes_i& a) override {
            if (local != String_t("e")) return;
            seen = true;
            EXPECT_EQ(a.GetLength(), 3);
            EXPECT_EQ(a.GetValue(String_t("p:x")), String_t("1"));
            EXPECT_EQ(a.GetValue(String_t("urn:p"), String_t("x")), String_t("1"));
            EXPECT_EQ(a.GetValue(String_t("x")), String_t("2"));
            EXPECT_EQ(a.GetValue(String_t(""), String_t("x")), String_t("2"));
            EXPECT_EQ(a.GetIndex(String_t("y")), 2);
            EXPECT_EQ(a.GetValue(2), String_t("\xC3\xA9 \xE2\x82\xAC"));
            EXPECT_EQ(a.GetIndex(String_t("missing")), -1);
            EXPECT_TRUE(a.GetValue(String_t("missing")).IsNull());
            EXPECT_TRUE(a.GetValue(3).IsNull());
            EXPECT_TRUE(a.GetQName(-1).IsNull());
            EXPECT_TRUE(a.GetURI(7).IsNull());
        }
    } probe;
    SAXParser_t parser;
    parser.SetContentHandler(&probe);
    parser.Parse(Stream("<r xmlns:p='urn:p'><e p:x='1' x='2' y='&#xE9; \xE2\x82\xAC'/></r>"));
    EXPECT_TRUE(probe.seen);
}

TEST(SaxTest, SplitTextConcatenatesToTheWholeText) {
    std::string body;
    std::string plain;
    for (int i = 0; i < 20000; ++i) {
        std::string line = "line " + std::to_string(i) + " \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80 ";
        body += line + "&amp;\n";
        plain += line + "&\n";
    }
    std::string doc = "<r>" + body + "</r>";
    std::u16string expected = String_t(plain).Str();
    for (InputStream_t in : {Stream(doc), Stream(doc, 4093, false)}) {
        Recorder r;
        SAXParser_t parser;
        parser.SetContentHandler(&r);
        parser.Parse(in);
        EXPECT_GT(r.characterCalls, 1);
        EXPECT_TRUE(r.text == expected)
            << "text differs; length " << r.text.size() << " vs " << expected.size();
    }
}

TEST(SaxTest, NonAsciiTextArrivesAsUtf16) {
    Recorder r;
    SAXParser_t parser;
    parser.SetContentHandler(&r);
    parser.Parse(Stream("<r>\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80&#x10437;</r>"));
    EXPECT_EQ(r.text, std::u16string(u"\u00E9\u20AC\U0001F600\U00010437"));

    // Other encodings are converted too: declared Latin-1, and UTF-16 with a byte order mark.
    Recorder latin;
    parser.SetContentHandler(&latin);
    parser.Parse(Stream("<?xml version='1.0' encoding='ISO-8859-1'?><r>caf\xE9</r>"));
    EXPECT_EQ(latin.text, std::u16string(u"caf\u00E9"));

    std::string utf16 = "\xFF\xFE";  // little endian
    for (char16_t u : std::u16string(u"<r>\u20AC\U0001F600</r>")) {
        utf16 += static_cast<char>(u & 0xFF);
        utf16 += static_cast<char>(u >> 8);
    }
    Recorder wide;
    parser.SetContentHandler(&wide);
    parser.Parse(Stream(utf16));
    EXPECT_EQ(wide.text, std::u16string(u"\u20AC\U0001F600"));

    // An encoding given by the source overrides the guess for a document without declaration.
    Recorder forced;
    parser.SetContentHandler(&forced);
    InputSource_t source(Stream("<r>\xE9t\xE9</r>"));
    source.SetEncoding(String_t("ISO-8859-1"));
    parser.Parse(source);
    EXPECT_EQ(forced.text, std::u16string(u"\u00E9t\u00E9"));
}

TEST(SaxTest, SyntaxErrorReportsLineColumnAndIds) {
    // Line 3 is "  <b></c>": the error is reported at the mismatched name, its eighth
    // character. The line before has a two-byte character, which must not shift the count.
    const char doc[] = "<a>\n\xC3\xA9\n  <b></c>\n</a>\n";
    SAXParser_t parser;
    InputSource_t source(Stream(doc));
    source.SetSystemId(String_t("/policies/h.xml"));
    source.SetPublicId(String_t("-//test//header"));
    try {
        parser.Parse(source);
        FAIL() << "no exception";
    } catch (const SAXParseException_t& e) {
        EXPECT_EQ(e.GetLineNumber(), 3);
        EXPECT_EQ(e.GetColumnNumber(), 8);
        EXPECT_EQ(e.GetSystemId(), String_t("/policies/h.xml"));
        EXPECT_EQ(e.GetPublicId(), String_t("-//test//header"));
        EXPECT_NE(std::string(e.what()).find("mismatched tag"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("line 3, column 8"), std::string::npos);
    }

    // Non-ASCII characters before the error on the same line count once each: the stray '<'
    // is the fourth character (the third byte would be column 7).
    try {
        parser.Parse(Stream("<r>\n\xE2\x82\xAC\xE2\x82\xAC<</r>"));
        FAIL() << "no exception";
    } catch (const SAXParseException_t& e) {
        EXPECT_EQ(e.GetLineNumber(), 2);
        EXPECT_EQ(e.GetColumnNumber(), 4);
        EXPECT_TRUE(e.GetSystemId().IsNull());
    }

    // Unclosed at the end; an empty document.
    try {
        parser.Parse(Stream("<a>\n<b>\n"));
        FAIL() << "no exception";
    } catch (const SAXParseException_t& e) {
        EXPECT_EQ(e.GetLineNumber(), 3);
        EXPECT_EQ(e.GetColumnNumber(), 1);
    }
    EXPECT_THROW(parser.Parse(Stream("")), SAXParseException_t);
    EXPECT_THROW(parser.Parse(Stream("<p:a/>")), SAXParseException_t);  // unbound prefix
}

TEST(SaxTest, ErrorHandlerSeesTheErrorAndParseStillFails) {
    struct Lenient : DefaultHandler_t {
        std::vector<int> lines;
        bool ended = false;
        void FatalError(const SAXParseException_t& e) override {
            lines.push_back(e.GetLineNumber());
        }
        void EndDocument() override { ended = true; }
    } lenient;
    SAXParser_t parser;
    parser.SetContentHandler(&lenient);
    parser.SetErrorHandler(&lenient);
    EXPECT_EQ(parser.GetErrorHandler(), &lenient);
    EXPECT_THROW(parser.Parse(Stream("<a>\n\n<b></a>")), SAXParseException_t);
    EXPECT_EQ(lenient.lines, std::vector<int>{3});
    EXPECT_FALSE(lenient.ended);  // no end of document after an error

    // The default handler rethrows what it is given.
    DefaultHandler_t plain;
    EXPECT_THROW(parser.Parse(InputSource_t(Stream("<a>")), plain), SAXParseException_t);
}

namespace {

struct MyError : std::runtime_error {
    int code;
    explicit MyError(int c) : std::runtime_error("handler failed"), code(c) {}
};

// Throws from the call named by where.
struct Thrower : Recorder {
    std::string where;
    void StartElement(const String_t& u, const String_t& l, const String_t& q,
                      const Attributes_i& a) override {
        Recorder::StartElement(u, l, q, a);
        if (where == "start" && l == String_t("second")) throw MyError(42);
    }
    void Characters(const char16_t* c, int s, int n) override {
        Recorder::Characters(c, s, n);
        if (where == "chars")
            throw QmXplIo::IOException_t(QmXplMsg::CreateError_t(String_t("from characters")));
    }
    void EndElement(const String_t& u, const String_t& l, const String_t& q) override {
        Recorder::EndElement(u, l, q);
        if (where == "end" && l == String_t("r")) throw MyError(7);
    }
    void EndDocument() override {
        Recorder::EndDocument();
        if (where == "enddoc")
            throw QmXplMsg::RuntimeException_t(QmXplMsg::CreateError_t(String_t("invalid")));
    }
};

}  // namespace

TEST(SaxTest, HandlerExceptionsLeaveParseUnchangedAndTheParserStaysUsable) {
    const std::string doc = "<r><first>x</first><second>y</second><third/></r>";
    SAXParser_t parser;
    Thrower t;
    parser.SetContentHandler(&t);

    t.where = "start";
    try {
        parser.Parse(Stream(doc));
        FAIL() << "no exception";
    } catch (const MyError& e) {
        EXPECT_EQ(e.code, 42);
    }
    // Nothing after the throwing call.
    EXPECT_EQ(t.log.back(), "start {}second second");

    t.log.clear();
    t.where = "chars";
    EXPECT_THROW(parser.Parse(Stream(doc)), QmXplIo::IOException_t);
    EXPECT_EQ(t.log.back(), "chars x");

    t.log.clear();
    t.where = "end";  // the last end tag comes with the end of the input
    try {
        parser.Parse(Trickle(doc));
        FAIL() << "no exception";
    } catch (const MyError& e) {
        EXPECT_EQ(e.code, 7);
    }
    EXPECT_EQ(t.log.back(), "end {}r r");

    t.log.clear();
    t.where = "enddoc";
    EXPECT_THROW(parser.Parse(Stream(doc)), QmXplMsg::RuntimeException_t);

    // The same parser parses the next document cleanly.
    t.log.clear();
    t.where = "";
    parser.Parse(Stream(doc));
    EXPECT_EQ(t.log.front(), "startDocument");
    EXPECT_EQ(t.log.back(), "endDocument");
    EXPECT_EQ(t.log.size(), 12u);
}

TEST(SaxTest, OneParserManyDocuments) {
    SAXParser_t parser;
    Recorder r;
    parser.SetContentHandler(&r);
    parser.Parse(Stream("<a xmlns='urn:1'><b/></a>"));
    EXPECT_THROW(parser.Parse(Stream("<a><b></a>")), SAXParseException_t);
    // Nothing of the broken document is left over: not its open elements, not its namespace.
    r.log.clear();
    parser.Parse(Stream("<b/>"));
    EXPECT_EQ(r.log, (std::vector<std::string>{"startDocument", "start {}b b", "end {}b b",
                                               "endDocument"}));
    // A copy is the same parser.
    SAXParser_t copy = parser;
    EXPECT_EQ(copy.GetContentHandler(), &r);
    QmXplXml::XMLReader_t reader;
    reader.SetContentHandler(&r);
    r.log.clear();
    reader.Parse(Stream("<c/>"));
    EXPECT_EQ(r.log.size(), 4u);
}

TEST(SaxTest, MisuseIsRefused) {
    SAXParser_t parser;
    EXPECT_THROW(parser.Parse(InputSource_t()), QmXplMsg::IllegalArgumentError_t);

    // Parsing again from inside a handler call of the same parser.
    struct Reentrant : DefaultHandler_t {
        SAXParser_t* parser = nullptr;
        void StartElement(const String_t&, const String_t&, const String_t&,
                          const Attributes_i&) override {
            parser->Parse(Stream("<x/>"));
        }
    } reentrant;
    reentrant.parser = &parser;
    parser.SetContentHandler(&reentrant);
    EXPECT_THROW(parser.Parse(Stream("<r/>")), QmXplMsg::IllegalStateError_t);
    parser.SetContentHandler(nullptr);
    parser.Parse(Stream("<r/>"));  // still usable

    // A failing stream is an I/O error, not a parse error.
    struct Broken : QmXplIo::InputStreamImpl_t {
        int Read(char*, int) override {
            throw QmXplIo::IOException_t(QmXplMsg::CreateError_t(String_t("disk gone")));
        }
    };
    EXPECT_THROW(parser.Parse(InputStream_t(new Broken)), QmXplIo::IOException_t);
}

TEST(SaxTest, BillionLaughsIsRefusedBeforeAnyExpansion) {
    std::string doc = "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n";
    for (int i = 1; i <= 9; ++i) {
        doc += " <!ENTITY lol" + std::to_string(i) + " \"";
        for (int j = 0; j < 10; ++j)
            doc += "&lol" + (i == 1 ? std::string() : std::to_string(i - 1)) + ";";
        doc += "\">\n";
    }
    doc += "]>\n<lolz>&lol9;</lolz>\n";
    Recorder r;
    SAXParser_t parser;
    parser.SetContentHandler(&r);
    try {
        parser.Parse(Stream(doc));
        FAIL() << "entity bomb accepted";
    } catch (const SAXParseException_t& e) {
        // The first declaration, " <!ENTITY lol \"lol\">", reported at its value.
        EXPECT_EQ(e.GetLineNumber(), 3);
        EXPECT_EQ(e.GetColumnNumber(), 15);
        EXPECT_NE(std::string(e.what()).find("entity 'lol'"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(r.text.empty());

    // One large entity used many times, and a parameter entity: refused the same way.
    std::string quadratic = "<!DOCTYPE r [<!ENTITY big \"" + std::string(10000, 'a') + "\">]><r>";
    for (int i = 0; i < 1000; ++i) quadratic += "&big;";
    quadratic += "</r>";
    EXPECT_THROW(parser.Parse(Stream(quadratic)), SAXParseException_t);
    EXPECT_THROW(parser.Parse(Stream("<!DOCTYPE r [<!ENTITY % p \"<!ENTITY x 'y'>\"> %p;]><r/>")),
                 SAXParseException_t);
    EXPECT_TRUE(r.text.empty());
}

TEST(SaxTest, ExternalEntitiesAreNeverLoaded) {
    Recorder r;
    SAXParser_t parser;
    parser.SetContentHandler(&r);
    EXPECT_THROW(parser.Parse(Stream("<!DOCTYPE r [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                                     "<r>&x;</r>")),
                 SAXParseException_t);
    EXPECT_THROW(parser.Parse(Stream("<!DOCTYPE r [<!ENTITY % x SYSTEM \"file:///etc/passwd\">"
                                     "%x;]><r/>")),
                 SAXParseException_t);
    EXPECT_TRUE(r.text.empty());

    // An external DTD is not read: its entities stay unknown and are reported as skipped.
    r.log.clear();
    parser.Parse(Stream("<!DOCTYPE r SYSTEM \"file:///etc/passwd\"><r>a&x;b</r>"));
    EXPECT_EQ(r.log,
              (std::vector<std::string>{"startDocument", "start {}r r", "chars a", "skipped x",
                                        "chars b", "end {}r r", "endDocument"}));
    EXPECT_EQ(r.text, std::u16string(u"ab"));
}

TEST(SaxTest, NotationsReachTheDtdHandler) {
    struct Notes : DefaultHandler_t {
        std::vector<std::string> seen;
        void NotationDecl(const String_t& name, const String_t& pub, const String_t& sys) override {
            seen.push_back(U8(name) + "|" + U8(pub) + "|" + U8(sys));
        }
    } notes;
    SAXParser_t parser;
    parser.Parse(InputSource_t(Stream("<!DOCTYPE r [<!NOTATION gif SYSTEM \"image/gif\">"
                                      "<!NOTATION png PUBLIC \"-//png\">]><r/>")),
                 notes);
    EXPECT_EQ(notes.seen, (std::vector<std::string>{"gif|<null>|image/gif", "png|-//png|<null>"}));
}

namespace {

// An endless source of <i>n</i> elements, cut after count of them: the document is never
// held in memory as a whole.
class GeneratedStreamImpl_t : public QmXplIo::InputStreamImpl_t {
  public:
    explicit GeneratedStreamImpl_t(int count) : count_(count) { pending_ = "<list>"; }
    int Read(char* buf, int len) override {
        if (pending_.empty()) {
            if (done_) return -1;
            if (next_ < count_) {
                pending_ = "<i>" + std::to_string(next_++) + "</i>\n";
            } else {
                pending_ = "</list>";
                done_ = true;
            }
        }
        int n = std::min(len, static_cast<int>(pending_.size()));
        pending_.copy(buf, static_cast<size_t>(n));
        pending_.erase(0, static_cast<size_t>(n));
        return n;
    }

  private:
    int count_;
    int next_ = 0;
    bool done_ = false;
    std::string pending_;
};

}  // namespace

TEST(SaxTest, LargeDocumentsStream) {
    struct Counter : DefaultHandler_t {
        long long elements = 0;
        long long sum = 0;
        std::u16string text;
        void StartElement(const String_t&, const String_t&, const String_t&,
                          const Attributes_i&) override {
            ++elements;
            text.clear();
        }
        void Characters(const char16_t* c, int s, int n) override { text.append(c + s, n); }
        void EndElement(const String_t&, const String_t& l, const String_t&) override {
            if (l == String_t("i")) sum += std::stoll(String_t(text).ToUtf8());
        }
    } counter;
    const int n = 300000;  // about 4 MB
    SAXParser_t parser;
    parser.SetContentHandler(&counter);
    parser.Parse(InputStream_t(new GeneratedStreamImpl_t(n)));
    EXPECT_EQ(counter.elements, n + 1);
    EXPECT_EQ(counter.sum, static_cast<long long>(n) * (n - 1) / 2);
}
