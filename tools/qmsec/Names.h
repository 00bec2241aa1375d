// Checks of the names that qmsec passes on to the key store and the configuration.
#pragma once

#include <string>

namespace qmsec {

// Key-store aliases become file names in the store directory (alias + "_cert.pem"), and a node's
// core id is its default alias. An alias that could leave the directory or hide a file is
// refused: it must not be empty, ".", "..", or longer than 200 bytes, and must hold no slash, no
// backslash, no control character and no blank at either end. Throws the usage error naming what
// (for example "alias").
void CheckAlias(const std::string& alias, const std::string& what);

}  // namespace qmsec
