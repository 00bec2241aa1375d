// A key of the wrong kind was given for the operation.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// A key of the wrong kind was given for the operation.
class QMSEC_API InvalidKeyException : public SecCoreException {
  public:
    explicit InvalidKeyException(const QmXplMsg::Message_t& message);
    ~InvalidKeyException() override;
};

}  // namespace QmSecCore
