// Modified UTF-8, the text form of the data streams.
#pragma once

#include <string>
#include <string_view>

namespace QmXplIo::detail {

// Bytes that EncodeJavaUtf needs for text.
size_t JavaUtfLength(std::u16string_view text) noexcept;
// Appends the modified UTF-8 of text to out: U+0001..U+007F as one byte, U+0000 and
// U+0080..U+07FF as two, every other unit (each surrogate on its own) as three.
void EncodeJavaUtf(std::u16string_view text, std::string& out);
// Decodes modified UTF-8. Each malformed sequence (stray continuation byte, lead byte without
// its continuation bytes, overlong form other than C0 80, the bytes F0..FF) becomes U+FFFD.
std::u16string DecodeJavaUtf(std::string_view bytes);

}  // namespace QmXplIo::detail
