// The XML parser under its reader name.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/SAXParser_t.h"

namespace QmXplXml {

// The same parser as SAXParser_t (same engine, same rules), for code that expects a reader.
class QMXPL_API XMLReader_t : public SAXParser_t {
  public:
    XMLReader_t();
    ~XMLReader_t() override;
};

}  // namespace QmXplXml
