// The permissions a caller may ask of a file stream.
#pragma once

namespace QmXplIo::detail {

// Throws IllegalArgumentError_t unless mode is a permission mode, 0 to 07777.
void CheckFileMode(int mode);

}  // namespace QmXplIo::detail
