// The library's message catalog.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/MessageCatalog_t.h"

namespace QmSecCore {

class QMSEC_API Catalog {
  public:
    // The catalog "sec.core", from which every message of the library is built. Constructed on
    // the first call (concurrent first calls construct one), lives until the library unloads.
    static const QmXplMsg::MessageCatalog_t& GetCatalog();
};

}  // namespace QmSecCore
