// Receives the content of a document from the parser.
#pragma once

#include "QmXpl/Attributes_i.h"
#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplXml {

using QmXplStr::String_t;

// The parser's calls for the content of a document, in document order. An exception thrown by
// any of them ends the parse and leaves SAXParser_t::Parse unchanged (same type, same
// messages); no further call follows.
class QMXPL_API ContentHandler_i {
  public:
    virtual ~ContentHandler_i();
    // Before anything else of a document.
    virtual void StartDocument() = 0;
    // After the whole document was read and found well-formed (not after an error).
    virtual void EndDocument() = 0;
    // uri and localName come from namespace processing (uri empty outside any namespace);
    // qName is the name as written.
    virtual void StartElement(const String_t& uri, const String_t& localName, const String_t& qName,
                              const Attributes_i& attributes) = 0;
    virtual void EndElement(const String_t& uri, const String_t& localName,
                            const String_t& qName) = 0;
    // length UTF-16 units of text at chars + start, valid only during the call. One run of text
    // may come in several calls.
    virtual void Characters(const char16_t* chars, int start, int length) = 0;
    // Whitespace that a validating parser knows to be insignificant; this parser does not
    // validate and reports all text through Characters.
    virtual void IgnorableWhitespace(const char16_t* chars, int start, int length) = 0;
    // data is empty when the instruction has none.
    virtual void ProcessingInstruction(const String_t& target, const String_t& data) = 0;
    // Around the element that declares it; the default namespace has the empty prefix, and
    // undeclaring it (xmlns="") gives the empty uri.
    virtual void StartPrefixMapping(const String_t& prefix, const String_t& uri) = 0;
    virtual void EndPrefixMapping(const String_t& prefix) = 0;
    // A reference to an entity that was declared in an external DTD, which this parser never
    // reads; parameter entities are named with a leading '%'.
    virtual void SkippedEntity(const String_t& name) = 0;
};

}  // namespace QmXplXml
