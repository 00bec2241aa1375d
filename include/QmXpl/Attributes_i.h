// The attributes of an element start.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplXml {

using QmXplStr::String_t;

// The attributes handed to ContentHandler_i::StartElement, valid only during that call.
// Namespace declarations (xmlns, xmlns:p) are not attributes here. An index outside
// 0..GetLength()-1, or a name that is not there, gives the null string (and -1 for GetIndex).
class QMXPL_API Attributes_i {
  public:
    virtual ~Attributes_i();
    virtual int GetLength() const = 0;
    // The namespace URI of the attribute (empty when it has none).
    virtual String_t GetURI(int index) const = 0;
    // The name without prefix.
    virtual String_t GetLocalName(int index) const = 0;
    // The name as written, with its prefix.
    virtual String_t GetQName(int index) const = 0;
    // The normalised value.
    virtual String_t GetValue(int index) const = 0;
    virtual int GetIndex(const String_t& qName) const = 0;
    virtual int GetIndex(const String_t& uri, const String_t& localName) const = 0;
    virtual String_t GetValue(const String_t& qName) const = 0;
    virtual String_t GetValue(const String_t& uri, const String_t& localName) const = 0;
};

}  // namespace QmXplXml
