// Base of every body of the library's handles.
#pragma once

#include "QmSecCore/Export.h"
#include "QmXpl/RefCounted_t.h"

namespace QmSecCore {

// A reference-counted body. It adds nothing to RefCounted_t but makes DestroyThis() pure: every
// body class destroys itself inside a block trace named after it, so that its destructor's trace
// nests inside. A fresh body has count 0; the handle that wraps it adds the first reference.
class QMSEC_API ObjectImpl : public QmXplRef::RefCounted_t {
  public:
    ~ObjectImpl() override;
    void DestroyThis() override = 0;

  protected:
    ObjectImpl() noexcept = default;
};

}  // namespace QmSecCore
