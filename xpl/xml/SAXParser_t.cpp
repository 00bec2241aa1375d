#include "QmXpl/SAXParser_t.h"

// The amplification limits are declared only for builds of the library with DTD support, which
// every packaged build has (the link fails otherwise).
#define XML_DTD 1
#include <expat.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "QmXpl/Message_t.h"
#include "QmXpl/UTF8_t.h"
#include "QmXpl/XMLReader_t.h"
#include "str/Utf.h"

namespace QmXplXml {

using QmXplMsg::CreateError_t;

namespace {

// Separates URI, local name and prefix in the names the engine reports. A line feed cannot be
// part of a name, and the engine rejects namespace URIs that contain the separator.
constexpr char kSeparator = '\n';
// Bytes read from the stream per step, so that a large document streams through in pieces.
constexpr int kChunk = 64 * 1024;
// Limits of DTD amplification (output bytes per input byte, once the output passes the
// threshold). Entity declarations are refused outright; this bounds what is left.
constexpr float kMaxAmplification = 8.0f;
constexpr unsigned long long kAmplificationThreshold = 1024 * 1024;

struct Handlers {
    ContentHandler_i* content;
    ErrorHandler_i* error;
    DTDHandler_i* dtd;
};

String_t Text(const XML_Char* s) { return s ? String_t(s) : String_t(); }

String_t TextOrEmpty(const XML_Char* s) { return String_t(s ? s : ""); }

// "uri\nlocal\nprefix", "uri\nlocal" or "local" into its parts; qName is "prefix:local" or
// "local" as in the document.
void SplitName(const XML_Char* name, String_t* uri, String_t* local, String_t* qName) {
    const char* sep1 = std::strchr(name, kSeparator);
    if (!sep1) {
        String_t l(name);
        if (uri) *uri = String_t("");
        if (qName) *qName = l;
        if (local) *local = std::move(l);
        return;
    }
    const char* localStart = sep1 + 1;
    const char* sep2 = std::strchr(localStart, kSeparator);
    String_t l =
        sep2 ? String_t(localStart, static_cast<int>(sep2 - localStart)) : String_t(localStart);
    if (uri) *uri = String_t(name, static_cast<int>(sep1 - name));
    if (qName) *qName = sep2 ? String_t(sep2 + 1) + ":" + l : l;
    if (local) *local = std::move(l);
}

// The attributes of one element start, converted only when asked for: a handler that ignores
// attributes pays nothing for them, however many defaults a DTD adds.
class ExpatAttributes_t final : public Attributes_i {
  public:
    explicit ExpatAttributes_t(const XML_Char** atts) : atts_(atts) {
        while (atts_ && atts_[2 * count_]) ++count_;
    }
    int GetLength() const override { return count_; }
    String_t GetURI(int i) const override {
        String_t uri;
        if (In(i)) SplitName(atts_[2 * i], &uri, nullptr, nullptr);
        return uri;
    }
    String_t GetLocalName(int i) const override {
        String_t local;
        if (In(i)) SplitName(atts_[2 * i], nullptr, &local, nullptr);
        return local;
    }
    String_t GetQName(int i) const override {
        String_t q;
        if (In(i)) SplitName(atts_[2 * i], nullptr, nullptr, &q);
        return q;
    }
    String_t GetValue(int i) const override {
        return In(i) ? String_t(atts_[2 * i + 1]) : String_t();
    }
    int GetIndex(const String_t& qName) const override {
        for (int i = 0; i < count_; ++i) {
            if (GetQName(i) == qName) return i;
        }
        return -1;
    }
    int GetIndex(const String_t& uri, const String_t& localName) const override {
        for (int i = 0; i < count_; ++i) {
            String_t u, l;
            SplitName(atts_[2 * i], &u, &l, nullptr);
            if (u == uri && l == localName) return i;
        }
        return -1;
    }
    String_t GetValue(const String_t& qName) const override { return GetValue(GetIndex(qName)); }
    String_t GetValue(const String_t& uri, const String_t& localName) const override {
        return GetValue(GetIndex(uri, localName));
    }

  private:
    bool In(int i) const { return i >= 0 && i < count_; }
    const XML_Char** atts_;
    int count_ = 0;
};

// The state of one Parse: the engine's callbacks find it through their user data.
struct ParseContext_t {
    XML_Parser parser = nullptr;
    Handlers handlers{};
    // The first exception of a handler; the engine is stopped and it is rethrown once the
    // engine has returned, since no exception may unwind through the engine's C frames.
    std::exception_ptr pending;
    bool stopped = false;
    // Why the parser refused the document, and where.
    std::string refusal;
    int refusalLine = 0;
    int refusalColumn = 0;
};

ParseContext_t& Context(void* userData) { return *static_cast<ParseContext_t*>(userData); }

// Runs a handler call, turning an exception into a stop of the engine.
template <class F>
void Guarded(void* userData, F&& call) {
    ParseContext_t& c = Context(userData);
    if (c.stopped) return;
    try {
        call(c);
    } catch (...) {
        c.pending = std::current_exception();
        c.stopped = true;
        XML_StopParser(c.parser, XML_FALSE);
    }
}

void OnStartElement(void* ud, const XML_Char* name, const XML_Char** atts) {
    Guarded(ud, [&](ParseContext_t& c) {
        String_t uri, local, qName;
        SplitName(name, &uri, &local, &qName);
        ExpatAttributes_t attributes(atts);
        c.handlers.content->StartElement(uri, local, qName, attributes);
    });
}

void OnEndElement(void* ud, const XML_Char* name) {
    Guarded(ud, [&](ParseContext_t& c) {
        String_t uri, local, qName;
        SplitName(name, &uri, &local, &qName);
        c.handlers.content->EndElement(uri, local, qName);
    });
}

void OnCharacters(void* ud, const XML_Char* s, int len) {
    Guarded(ud, [&](ParseContext_t& c) {
        // The engine hands over whole characters, never part of a UTF-8 sequence.
        std::u16string units = QmXplStr::Utf::Decode(std::string_view(s, static_cast<size_t>(len)));
        c.handlers.content->Characters(units.data(), 0, static_cast<int>(units.size()));
    });
}

void OnProcessingInstruction(void* ud, const XML_Char* target, const XML_Char* data) {
    Guarded(ud, [&](ParseContext_t& c) {
        c.handlers.content->ProcessingInstruction(TextOrEmpty(target), TextOrEmpty(data));
    });
}

void OnStartNamespace(void* ud, const XML_Char* prefix, const XML_Char* uri) {
    Guarded(ud, [&](ParseContext_t& c) {
        c.handlers.content->StartPrefixMapping(TextOrEmpty(prefix), TextOrEmpty(uri));
    });
}

void OnEndNamespace(void* ud, const XML_Char* prefix) {
    Guarded(ud,
            [&](ParseContext_t& c) { c.handlers.content->EndPrefixMapping(TextOrEmpty(prefix)); });
}

void OnSkippedEntity(void* ud, const XML_Char* name, int isParameterEntity) {
    Guarded(ud, [&](ParseContext_t& c) {
        c.handlers.content->SkippedEntity(isParameterEntity ? String_t("%") + TextOrEmpty(name)
                                                            : TextOrEmpty(name));
    });
}

void OnNotationDecl(void* ud, const XML_Char* name, const XML_Char* /*base*/,
                    const XML_Char* systemId, const XML_Char* publicId) {
    Guarded(ud, [&](ParseContext_t& c) {
        c.handlers.dtd->NotationDecl(TextOrEmpty(name), Text(publicId), Text(systemId));
    });
}

// Every entity declaration ends the parse before the entity can be used (see SAXParser_t.h).
void OnEntityDecl(void* ud, const XML_Char* name, int isParameterEntity, const XML_Char* /*value*/,
                  int /*valueLength*/, const XML_Char* /*base*/, const XML_Char* /*systemId*/,
                  const XML_Char* /*publicId*/, const XML_Char* /*notationName*/) {
    ParseContext_t& c = Context(ud);
    if (c.stopped) return;
    c.stopped = true;
    c.refusal = std::string("the document declares the ") +
                (isParameterEntity ? "parameter entity '" : "entity '") + (name ? name : "") +
                "', and entity declarations are not accepted";
    c.refusalLine = static_cast<int>(XML_GetCurrentLineNumber(c.parser));
    c.refusalColumn = static_cast<int>(XML_GetCurrentColumnNumber(c.parser)) + 1;
    XML_StopParser(c.parser, XML_FALSE);
}

// Fills buf with what the stream gives without waiting beyond its first read: a stream that
// knows more is ready is drained so the engine sees large pieces, but a connection that waits for
// an answer is never waited on for more. Returns the count, or -1 at the end; eof is set when
// the end came after some bytes.
int ReadChunk(const QmXplIo::InputStream_t& in, char* buf, int size, bool& eof) {
    int got;
    while ((got = in.Read(buf, size)) == 0) {
    }
    if (got < 0) return -1;
    while (got < size) {
        int ready = in.Available();
        if (ready <= 0) break;
        int n = in.Read(buf + got, std::min(ready, size - got));
        if (n < 0) {
            eof = true;
            break;
        }
        if (n == 0) break;
        got += n;
    }
    return got;
}

struct ParserFree_t {
    void operator()(XML_Parser p) const noexcept { XML_ParserFree(p); }
};

}  // namespace

class SAXParserImpl_t : public QmXplRef::RefCounted_t {
  public:
    void Parse(const InputSource_t& source, const Handlers& handlers);

    ContentHandler_i* content_ = nullptr;
    ErrorHandler_i* error_ = nullptr;
    DTDHandler_i* dtd_ = nullptr;

  private:
    [[noreturn]] void Fail(ParseContext_t& c, const InputSource_t& source);
    bool parsing_ = false;
};

void SAXParserImpl_t::Fail(ParseContext_t& c, const InputSource_t& source) {
    if (c.pending) std::rethrow_exception(c.pending);
    std::string text;
    int line;
    int column;
    if (!c.refusal.empty()) {
        text = c.refusal;
        line = c.refusalLine;
        column = c.refusalColumn;
    } else {
        text = XML_ErrorString(XML_GetErrorCode(c.parser));
        line = static_cast<int>(XML_GetCurrentLineNumber(c.parser));
        column = static_cast<int>(XML_GetCurrentColumnNumber(c.parser)) + 1;
    }
    String_t message = String_t("XML parse error at line ") + String_t(std::to_string(line)) +
                       ", column " + String_t(std::to_string(column)) + ": " + String_t(text);
    SAXParseException_t e(CreateError_t(message), source.GetPublicId(), source.GetSystemId(), line,
                          column);
    if (c.handlers.error) c.handlers.error->FatalError(e);
    // The engine cannot go on after a fatal error, whatever the handler decided.
    throw e;
}

void SAXParserImpl_t::Parse(const InputSource_t& source, const Handlers& handlers) {
    if (parsing_) {
        throw QmXplMsg::IllegalStateError_t(
            CreateError_t(String_t("SAXParser_t::Parse called while the parser is parsing")));
    }
    const QmXplIo::InputStream_t& in = source.GetByteStream();
    if (in.IsNull()) {
        throw QmXplMsg::IllegalArgumentError_t(
            CreateError_t(String_t("SAXParser_t::Parse: the input source has no byte stream")));
    }
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(parsing_);

    // A fresh engine per document: nothing of an earlier document (or of an earlier failure)
    // can leak into the next one.
    QmXplStr::UTF8_t encoding(source.GetEncoding());
    std::unique_ptr<XML_ParserStruct, ParserFree_t> parser(XML_ParserCreateNS(
        source.GetEncoding().IsEmpty() ? nullptr : encoding.c_str(), kSeparator));
    if (!parser) throw std::bad_alloc();
    XML_Parser p = parser.get();
    ParseContext_t c;
    c.parser = p;
    c.handlers = handlers;
    XML_SetUserData(p, &c);
    XML_SetReturnNSTriplet(p, 1);
    XML_SetParamEntityParsing(p, XML_PARAM_ENTITY_PARSING_NEVER);
    if (!XML_SetBillionLaughsAttackProtectionMaximumAmplification(p, kMaxAmplification) ||
        !XML_SetBillionLaughsAttackProtectionActivationThreshold(p, kAmplificationThreshold)) {
        throw QmXplMsg::IllegalStateError_t(
            CreateError_t(String_t("The XML engine refused its amplification limits")));
    }
    XML_SetEntityDeclHandler(p, OnEntityDecl);
    if (handlers.content) {
        XML_SetElementHandler(p, OnStartElement, OnEndElement);
        XML_SetCharacterDataHandler(p, OnCharacters);
        XML_SetProcessingInstructionHandler(p, OnProcessingInstruction);
        XML_SetNamespaceDeclHandler(p, OnStartNamespace, OnEndNamespace);
        XML_SetSkippedEntityHandler(p, OnSkippedEntity);
    }
    if (handlers.dtd) XML_SetNotationDeclHandler(p, OnNotationDecl);
    // No external entity handler is installed: the engine itself never opens anything, so an
    // external DTD or entity is never read.

    if (handlers.content) handlers.content->StartDocument();
    bool eof = false;
    for (;;) {
        int n = -1;
        if (!eof) {
            void* buf = XML_GetBuffer(p, kChunk);
            if (!buf) throw std::bad_alloc();
            n = ReadChunk(in, static_cast<char*>(buf), kChunk, eof);
        }
        bool last = n < 0;
        if (XML_ParseBuffer(p, last ? 0 : n, last) != XML_STATUS_OK) Fail(c, source);
        if (last) break;
    }
    if (handlers.content) handlers.content->EndDocument();
}

// --- SAXParser_t ------------------------------------------------------------------------------

SAXParser_t::SAXParser_t() : body_(new SAXParserImpl_t) {}
SAXParser_t::SAXParser_t(const SAXParser_t&) = default;
SAXParser_t& SAXParser_t::operator=(const SAXParser_t&) = default;
SAXParser_t::~SAXParser_t() = default;

SAXParserImpl_t* SAXParser_t::Impl() const {
    if (!body_)
        throw QmXplMsg::IllegalStateError_t(QmXplMsg::CreateWarn_t(String_t("SAXParser_t")));
    return body_.Get();
}

void SAXParser_t::SetContentHandler(ContentHandler_i* handler) const { Impl()->content_ = handler; }
ContentHandler_i* SAXParser_t::GetContentHandler() const { return Impl()->content_; }
void SAXParser_t::SetErrorHandler(ErrorHandler_i* handler) const { Impl()->error_ = handler; }
ErrorHandler_i* SAXParser_t::GetErrorHandler() const { return Impl()->error_; }
void SAXParser_t::SetDTDHandler(DTDHandler_i* handler) const { Impl()->dtd_ = handler; }
DTDHandler_i* SAXParser_t::GetDTDHandler() const { return Impl()->dtd_; }

void SAXParser_t::Parse(const InputSource_t& source) const {
    SAXParserImpl_t* impl = Impl();
    impl->Parse(source, Handlers{impl->content_, impl->error_, impl->dtd_});
}

void SAXParser_t::Parse(const InputSource_t& source, DefaultHandler_t& handler) const {
    Impl()->Parse(source, Handlers{&handler, &handler, &handler});
}

XMLReader_t::XMLReader_t() = default;
XMLReader_t::~XMLReader_t() = default;

}  // namespace QmXplXml
