// Checks of the names that qmsec passes on to the key store and the configuration, and their
// form in text output.
#pragma once

#include <string>

namespace qmsec {

// Key-store aliases become file names, and a node's core id is its default alias: only an alias
// that the key store counts as portable (KeyStore::IsPortableAlias) is taken. Throws the usage
// error naming what (for example "alias").
void CheckAlias(const std::string& alias, const std::string& what);

// A name from a certificate, a file or the configuration as one piece of a line of text output:
// control characters (C0, DEL and C1) are shown as \n, \r, \t or \xHH (\u0080 to \u009f), so
// that a common name with a line break cannot print a line of its own, nor an escape sequence
// steer the terminal. Everything else, other UTF-8 text too, stays as it is.
std::string Printable(const std::string& name);

// The line "HEX  FILE" of a digest, in the form sha1sum writes and its --check reads: a name
// with a backslash, line feed or carriage return has them escaped and the line starts with a
// backslash.
std::string DigestLine(const std::string& hex, const std::string& file);

// Whether text is valid UTF-8 (what the configuration and the key store keep is Unicode text;
// anything else would be changed on the way in).
bool IsUtf8(const std::string& text);

}  // namespace qmsec
