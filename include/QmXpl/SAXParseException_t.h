// Errors found while parsing an XML document.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/Message_t.h"

namespace QmXplXml {

using QmXplStr::String_t;

// A document that is not well-formed, or that the parser refuses (see SAXParser_t). Carries the
// position of the error (line from 1, column from 1, counted in characters) and the public and
// system ids of the document as its InputSource_t gave them (null when not set).
class QMXPL_API SAXParseException_t : public QmXplMsg::Exception_t {
  public:
    SAXParseException_t(const QmXplMsg::Message_t& message, const String_t& publicId,
                        const String_t& systemId, int lineNumber, int columnNumber);
    ~SAXParseException_t() override;

    int GetLineNumber() const noexcept { return line_; }
    int GetColumnNumber() const noexcept { return column_; }
    const String_t& GetPublicId() const noexcept { return publicId_; }
    const String_t& GetSystemId() const noexcept { return systemId_; }

  private:
    String_t publicId_;
    String_t systemId_;
    int line_;
    int column_;
};

}  // namespace QmXplXml
