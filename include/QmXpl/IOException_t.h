// Exceptions of input and output.
#pragma once

#include "QmXpl/Export.h"
#include "QmXpl/Message_t.h"

namespace QmXplIo {

// An input or output operation failed.
class QMXPL_API IOException_t : public QmXplMsg::Exception_t {
  public:
    using QmXplMsg::Exception_t::Exception_t;
    ~IOException_t() override;
};

// The end of a stream came before the data a reader needed.
class QMXPL_API EOFException_t : public IOException_t {
  public:
    using IOException_t::IOException_t;
    ~EOFException_t() override;
};

// A file could not be opened (missing, a directory, or not permitted).
class QMXPL_API FileNotFoundException_t : public IOException_t {
  public:
    using IOException_t::IOException_t;
    ~FileNotFoundException_t() override;
};

}  // namespace QmXplIo
