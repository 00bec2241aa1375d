// The base of the authorization exceptions.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/Message_t.h"

namespace QmSecAuth {

// The base of the authorization exceptions.
class QMSEC_API SecAuthException : public QmXplMsg::RuntimeException_t {
  public:
    explicit SecAuthException(const QmXplMsg::Message_t& message);
    ~SecAuthException() override;
};

}  // namespace QmSecAuth
