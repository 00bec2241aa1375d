#include "QmXpl/IOException_t.h"

namespace QmXplIo {

FileNotFoundException_t::~FileNotFoundException_t() = default;

}  // namespace QmXplIo
