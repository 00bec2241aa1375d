#include "Names.h"

#include "Cli.h"

namespace qmsec {

void CheckAlias(const std::string& alias, const std::string& what) {
    if (alias.empty()) throw UsageError("the " + what + " must not be empty");
    if (alias == "." || alias == "..") throw UsageError("'" + alias + "' is no valid " + what);
    if (alias.size() > 200) throw UsageError("the " + what + " is longer than 200 bytes");
    for (unsigned char c : alias) {
        if (c == '/' || c == '\\' || c < 0x20 || c == 0x7f)
            throw UsageError(
                "the " + what + " '" + alias +
                "' holds a character that cannot be part of a file name ('/', '\\' or a "
                "control character)");
    }
    if (alias.front() == ' ' || alias.back() == ' ')
        throw UsageError("the " + what + " must not start or end with a blank");
}

}  // namespace qmsec
