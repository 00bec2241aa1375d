// A handler for every kind of parser call, doing nothing unless overridden.
#pragma once

#include "QmXpl/ContentHandler_i.h"
#include "QmXpl/DTDHandler_i.h"
#include "QmXpl/EntityResolver_i.h"
#include "QmXpl/ErrorHandler_i.h"
#include "QmXpl/Export.h"

namespace QmXplXml {

// Base for handlers that override only the calls they need. Every call does nothing, except
// FatalError, which throws the exception it is given, and ResolveEntity, which declines.
class QMXPL_API DefaultHandler_t : public EntityResolver_i,
                                   public DTDHandler_i,
                                   public ContentHandler_i,
                                   public ErrorHandler_i {
  public:
    DefaultHandler_t();
    ~DefaultHandler_t() override;

    InputSource_t ResolveEntity(const String_t& publicId, const String_t& systemId) override;

    void NotationDecl(const String_t& name, const String_t& publicId,
                      const String_t& systemId) override;
    void UnparsedEntityDecl(const String_t& name, const String_t& publicId,
                            const String_t& systemId, const String_t& notationName) override;

    void StartDocument() override;
    void EndDocument() override;
    void StartElement(const String_t& uri, const String_t& localName, const String_t& qName,
                      const Attributes_i& attributes) override;
    void EndElement(const String_t& uri, const String_t& localName, const String_t& qName) override;
    void Characters(const char16_t* chars, int start, int length) override;
    void IgnorableWhitespace(const char16_t* chars, int start, int length) override;
    void ProcessingInstruction(const String_t& target, const String_t& data) override;
    void StartPrefixMapping(const String_t& prefix, const String_t& uri) override;
    void EndPrefixMapping(const String_t& prefix) override;
    void SkippedEntity(const String_t& name) override;

    void Warning(const SAXParseException_t& exception) override;
    void Error(const SAXParseException_t& exception) override;
    // Throws exception (a copy of it, as SAXParseException_t).
    void FatalError(const SAXParseException_t& exception) override;
};

}  // namespace QmXplXml
