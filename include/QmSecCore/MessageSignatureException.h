// A message signature could not be made, parsed or trusted.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// A message signature could not be made, parsed or trusted.
class QMSEC_API MessageSignatureException : public SecCoreException {
  public:
    explicit MessageSignatureException(const QmXplMsg::Message_t& message);
    ~MessageSignatureException() override;
};

}  // namespace QmSecCore
