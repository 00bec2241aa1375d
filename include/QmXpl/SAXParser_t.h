// The layer's XML parser.
#pragma once

#include "QmXpl/ContentHandler_i.h"
#include "QmXpl/DTDHandler_i.h"
#include "QmXpl/DefaultHandler_t.h"
#include "QmXpl/ErrorHandler_i.h"
#include "QmXpl/Export.h"
#include "QmXpl/InputSource_t.h"
#include "QmXpl/RefCounted_t.h"

namespace QmXplXml {

class SAXParserImpl_t;

// A non-validating, namespace-aware XML parser that reports a document through handler calls
// while it streams it in chunks from an InputStream_t. One parser parses any number of
// documents one after the other; each Parse starts from a clean state and reuses the handlers
// that are set. Copies share the parser. A parser serves one thread at a time, and Parse may not
// be called again from inside one of its own handler calls (IllegalStateError_t).
//
// Hostile input: the parser never opens anything a document names. An external DTD or external
// entity is never read, and a document that declares any entity in its DTD (general or
// parameter, internal or external) is refused with SAXParseException_t at that declaration,
// before any expansion: entity expansion is what turns a small document into an unbounded
// amount of text (nested or recursive entities) or into a read of a local file. Amplification
// by the DTD beyond that is bounded as well.
class QMXPL_API SAXParser_t {
  public:
    // A working parser without handlers.
    SAXParser_t();
    SAXParser_t(const SAXParser_t&);
    SAXParser_t& operator=(const SAXParser_t&);
    virtual ~SAXParser_t();

    // Handlers are not owned; the caller keeps them alive while a parse may use them. Null
    // drops that kind of call (and, for the error handler, makes fatal errors throw directly).
    void SetContentHandler(ContentHandler_i* handler) const;
    ContentHandler_i* GetContentHandler() const;
    void SetErrorHandler(ErrorHandler_i* handler) const;
    ErrorHandler_i* GetErrorHandler() const;
    void SetDTDHandler(DTDHandler_i* handler) const;
    DTDHandler_i* GetDTDHandler() const;

    // Parses the document of source, reading its byte stream to the end (the stream is not
    // closed). Throws SAXParseException_t for a document that is not well-formed or is refused
    // (after offering it to the error handler), IllegalArgumentError_t for a source without a
    // byte stream, IOException_t from the stream, and whatever a handler throws.
    void Parse(const InputSource_t& source) const;
    void Parse(const QmXplIo::InputStream_t& stream) const { Parse(InputSource_t(stream)); }
    // Parses with handler as content, error and DTD handler for this document only.
    void Parse(const InputSource_t& source, DefaultHandler_t& handler) const;

  private:
    SAXParserImpl_t* Impl() const;
    QmXplRef::Ref_t<SAXParserImpl_t> body_;
};

}  // namespace QmXplXml
