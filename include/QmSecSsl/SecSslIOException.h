// A secure connection failed while moving data (handshake, verification, read or write).
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/IOException_t.h"

namespace QmSecSsl {

// A secure connection failed while moving data (handshake, verification, read or write).
class QMSEC_API SecSslIOException : public QmXplIo::IOException_t {
  public:
    explicit SecSslIOException(const QmXplMsg::Message_t& message);
    ~SecSslIOException() override;
};

}  // namespace QmSecSsl
