// Where the node's installation directory is.
#pragma once

#include <string>

namespace QmXplRuntime {

// $QMXPL_HOME, or $HOME/.qm when it is not set (or "/tmp/.qm" without a HOME), as UTF-8 path
// without a trailing slash. Read anew on every call, so tests may switch it.
std::string HomeDirectory();

}  // namespace QmXplRuntime
