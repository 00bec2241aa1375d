#include "QmXpl/SAXParseException_t.h"

namespace QmXplXml {

SAXParseException_t::SAXParseException_t(const QmXplMsg::Message_t& message,
                                         const String_t& publicId, const String_t& systemId,
                                         int lineNumber, int columnNumber)
    : Exception_t(message),
      publicId_(publicId),
      systemId_(systemId),
      line_(lineNumber),
      column_(columnNumber) {}

SAXParseException_t::~SAXParseException_t() = default;

}  // namespace QmXplXml
