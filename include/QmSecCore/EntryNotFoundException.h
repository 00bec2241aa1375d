// A key store entry that was asked for does not exist.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"

namespace QmSecCore {

// A key store entry that was asked for does not exist.
class QMSEC_API EntryNotFoundException : public SecCoreException {
  public:
    explicit EntryNotFoundException(const QmXplMsg::Message_t& message);
    ~EntryNotFoundException() override;
};

}  // namespace QmSecCore
