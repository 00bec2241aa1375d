// UTF-8 <-> UTF-16 conversion used by the string classes and the data streams.
#pragma once

#include <string>
#include <string_view>

namespace QmXplStr::Utf {

// Decodes UTF-8; every malformed or overlong sequence, surrogate code point or value above
// U+10FFFF becomes U+FFFD, one per maximal invalid subpart.
std::u16string Decode(std::string_view utf8);
// Encodes UTF-16; unpaired surrogates become U+FFFD.
std::string Encode(std::u16string_view utf16);

}  // namespace QmXplStr::Utf
