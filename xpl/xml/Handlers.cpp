#include "QmXpl/Attributes_i.h"
#include "QmXpl/ContentHandler_i.h"
#include "QmXpl/DTDHandler_i.h"
#include "QmXpl/DefaultHandler_t.h"
#include "QmXpl/EntityResolver_i.h"
#include "QmXpl/ErrorHandler_i.h"
#include "QmXpl/InputSource_t.h"
#include "QmXpl/SAXParseException_t.h"

namespace QmXplXml {

Attributes_i::~Attributes_i() = default;
ContentHandler_i::~ContentHandler_i() = default;
ErrorHandler_i::~ErrorHandler_i() = default;
DTDHandler_i::~DTDHandler_i() = default;
EntityResolver_i::~EntityResolver_i() = default;

// --- InputSource_t --------------------------------------------------------------------------

InputSource_t::InputSource_t() = default;
InputSource_t::InputSource_t(const QmXplIo::InputStream_t& byteStream) : stream_(byteStream) {}
InputSource_t::InputSource_t(const InputSource_t&) = default;
InputSource_t& InputSource_t::operator=(const InputSource_t&) = default;
InputSource_t::~InputSource_t() = default;

// --- DefaultHandler_t -----------------------------------------------------------------------

DefaultHandler_t::DefaultHandler_t() = default;
DefaultHandler_t::~DefaultHandler_t() = default;

InputSource_t DefaultHandler_t::ResolveEntity(const String_t&, const String_t&) {
    return InputSource_t();
}

void DefaultHandler_t::NotationDecl(const String_t&, const String_t&, const String_t&) {}
void DefaultHandler_t::UnparsedEntityDecl(const String_t&, const String_t&, const String_t&,
                                          const String_t&) {}
void DefaultHandler_t::StartDocument() {}
void DefaultHandler_t::EndDocument() {}
void DefaultHandler_t::StartElement(const String_t&, const String_t&, const String_t&,
                                    const Attributes_i&) {}
void DefaultHandler_t::EndElement(const String_t&, const String_t&, const String_t&) {}
void DefaultHandler_t::Characters(const char16_t*, int, int) {}
void DefaultHandler_t::IgnorableWhitespace(const char16_t*, int, int) {}
void DefaultHandler_t::ProcessingInstruction(const String_t&, const String_t&) {}
void DefaultHandler_t::StartPrefixMapping(const String_t&, const String_t&) {}
void DefaultHandler_t::EndPrefixMapping(const String_t&) {}
void DefaultHandler_t::SkippedEntity(const String_t&) {}
void DefaultHandler_t::Warning(const SAXParseException_t&) {}
void DefaultHandler_t::Error(const SAXParseException_t&) {}

void DefaultHandler_t::FatalError(const SAXParseException_t& exception) { throw exception; }

}  // namespace QmXplXml
