// Receives the errors the parser finds.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/SAXParseException_t.h"

namespace QmXplXml {

// The parser reports each error here before Parse ends. A fatal error ends the parse in any
// case: if FatalError returns instead of throwing, Parse throws the same exception itself. An
// exception thrown by the handler reaches the caller of Parse unchanged.
class QMXPL_API ErrorHandler_i {
  public:
    virtual ~ErrorHandler_i();
    virtual void Warning(const SAXParseException_t& exception) = 0;
    // A recoverable error (this parser finds none: every error of well-formedness is fatal).
    virtual void Error(const SAXParseException_t& exception) = 0;
    virtual void FatalError(const SAXParseException_t& exception) = 0;
};

}  // namespace QmXplXml
