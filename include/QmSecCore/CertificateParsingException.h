// Certificate data could not be parsed.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// Certificate data could not be parsed.
class QMSEC_API CertificateParsingException : public SecCoreException {
  public:
    explicit CertificateParsingException(const QmXplMsg::Message_t& message);
    ~CertificateParsingException() override;
};

}  // namespace QmSecCore
