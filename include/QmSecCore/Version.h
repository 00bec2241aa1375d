// The library's version.
#pragma once

#include "QmSecCore/Export.h"

#define QMSECCORE_VERSION_STRING "1.0.0"

namespace QmSecCore {

// The version of the loaded library, "major.minor.patch".
QMSEC_API const char* GetVersion() noexcept;

}  // namespace QmSecCore
