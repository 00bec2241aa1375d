// Supplies the content of external entities.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/InputSource_t.h"
#include "QmXpl/String_t.h"

namespace QmXplXml {

using QmXplStr::String_t;

// Part of the handler family for code written against it. This layer's parser never loads an
// external entity or DTD (SAXParser_t), so it never asks a resolver.
class QMXPL_API EntityResolver_i {
  public:
    virtual ~EntityResolver_i();
    // A source for the entity, or one without a byte stream to decline.
    virtual InputSource_t ResolveEntity(const String_t& publicId, const String_t& systemId) = 0;
};

}  // namespace QmXplXml
