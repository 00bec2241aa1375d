// The base of the library's own exceptions.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/Message_t.h"

namespace QmSecCore {

// The base of the library's own exceptions.
class QMSEC_API SecCoreException : public QmXplMsg::RuntimeException_t {
  public:
    explicit SecCoreException(const QmXplMsg::Message_t& message);
    ~SecCoreException() override;
};

}  // namespace QmSecCore
