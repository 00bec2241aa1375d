#include "QmXpl/IOException_t.h"

namespace QmXplIo {

EOFException_t::~EOFException_t() = default;

}  // namespace QmXplIo
