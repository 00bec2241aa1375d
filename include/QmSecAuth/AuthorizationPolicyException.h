// A policy file or the rights configuration could not be used.
#pragma once

#include "QmSecAuth/SecAuthException.h"
#include "QmSecCore/Export.h"

namespace QmSecAuth {

// A policy file or the rights configuration could not be used.
class QMSEC_API AuthorizationPolicyException : public SecAuthException {
  public:
    explicit AuthorizationPolicyException(const QmXplMsg::Message_t& message);
    ~AuthorizationPolicyException() override;
};

}  // namespace QmSecAuth
