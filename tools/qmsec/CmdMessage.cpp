// sign, verify, seal and unseal: message security over files of any length.
#include "Cli.h"

namespace qmsec {

void AddMessageCommands(CommandTable&) {}

}  // namespace qmsec
