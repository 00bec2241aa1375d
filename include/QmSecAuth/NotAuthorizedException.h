// For callers that refuse an operation because the entity lacks the rights; the library itself
// never throws it.
#pragma once

#include "QmSecAuth/SecAuthException.h"
#include "QmSecCore/Export.h"

namespace QmSecAuth {

// For callers that refuse an operation because the entity lacks the rights; the library itself
// never throws it.
class QMSEC_API NotAuthorizedException : public SecAuthException {
  public:
    explicit NotAuthorizedException(const QmXplMsg::Message_t& message);
    ~NotAuthorizedException() override;
};

}  // namespace QmSecAuth
