// A secure-transport failure that is not an I/O failure.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/Message_t.h"

namespace QmSecSsl {

// A secure-transport failure that is not an I/O failure.
class QMSEC_API SecSslException : public QmXplMsg::RuntimeException_t {
  public:
    explicit SecSslException(const QmXplMsg::Message_t& message);
    ~SecSslException() override;
};

}  // namespace QmSecSsl
