// Signing or verifying failed inside the cryptographic engine (a mismatch is no exception).
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// Signing or verifying failed inside the cryptographic engine (a mismatch is no exception).
class QMSEC_API SignatureException : public SecCoreException {
  public:
    explicit SignatureException(const QmXplMsg::Message_t& message);
    ~SignatureException() override;
};

}  // namespace QmSecCore
