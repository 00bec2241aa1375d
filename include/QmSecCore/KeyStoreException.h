// The key store could not be read or changed.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// The key store could not be read or changed.
class QMSEC_API KeyStoreException : public SecCoreException {
  public:
    explicit KeyStoreException(const QmXplMsg::Message_t& message);
    ~KeyStoreException() override;
};

}  // namespace QmSecCore
