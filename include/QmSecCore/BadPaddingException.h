// Decrypted data ended with padding that is not valid (wrong key or damaged data).
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// Decrypted data ended with padding that is not valid (wrong key or damaged data).
class QMSEC_API BadPaddingException : public SecCoreException {
  public:
    explicit BadPaddingException(const QmXplMsg::Message_t& message);
    ~BadPaddingException() override;
};

}  // namespace QmSecCore
