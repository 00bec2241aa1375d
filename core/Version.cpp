#include "QmSecCore/Version.h"

namespace QmSecCore {

const char* GetVersion() noexcept { return QMSECCORE_VERSION_STRING; }

}  // namespace QmSecCore
