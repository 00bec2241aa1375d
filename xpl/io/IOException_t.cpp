#include "QmXpl/IOException_t.h"

namespace QmXplIo {

IOException_t::~IOException_t() = default;

}  // namespace QmXplIo
