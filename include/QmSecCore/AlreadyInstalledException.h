// A key store entry exists and replacing it was not asked for.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// A key store entry exists and replacing it was not asked for.
class QMSEC_API AlreadyInstalledException : public SecCoreException {
  public:
    explicit AlreadyInstalledException(const QmXplMsg::Message_t& message);
    ~AlreadyInstalledException() override;
};

}  // namespace QmSecCore
