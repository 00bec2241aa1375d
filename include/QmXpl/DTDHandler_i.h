// Receives the notations a document's DTD declares.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/String_t.h"

namespace QmXplXml {

using QmXplStr::String_t;

// Ids that a declaration omits are null strings.
class QMXPL_API DTDHandler_i {
  public:
    virtual ~DTDHandler_i();
    virtual void NotationDecl(const String_t& name, const String_t& publicId,
                              const String_t& systemId) = 0;
    // Never called by this layer's parser, which refuses entity declarations (SAXParser_t).
    virtual void UnparsedEntityDecl(const String_t& name, const String_t& publicId,
                                    const String_t& systemId, const String_t& notationName) = 0;
};

}  // namespace QmXplXml
