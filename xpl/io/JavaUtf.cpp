#include "io/JavaUtf.h"

namespace QmXplIo::detail {

namespace {

constexpr char16_t kReplacement = u'\uFFFD';

bool IsContinuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

}  // namespace

size_t JavaUtfLength(std::u16string_view text) noexcept {
    size_t n = 0;
    for (char16_t u : text) n += (u != 0 && u < 0x80) ? 1 : (u < 0x800 ? 2 : 3);
    return n;
}

void EncodeJavaUtf(std::u16string_view text, std::string& out) {
    out.reserve(out.size() + JavaUtfLength(text));
    for (char16_t u : text) {
        if (u != 0 && u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (u >> 6)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xE0 | (u >> 12)));
            out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
        }
    }
}

std::u16string DecodeJavaUtf(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            // A raw zero byte is not what the writer produces, but it is unambiguous.
            out.push_back(b);
            ++i;
        } else if ((b & 0xE0) == 0xC0) {
            if (i + 1 < n && IsContinuation(static_cast<unsigned char>(bytes[i + 1]))) {
                char16_t v = static_cast<char16_t>(
                    ((b & 0x1F) << 6) | (static_cast<unsigned char>(bytes[i + 1]) & 0x3F));
                // Only C0 80 may be overlong; other overlong forms would let one character
                // hide behind several spellings.
                out.push_back(v < 0x80 && v != 0 ? kReplacement : v);
                i += 2;
            } else {
                out.push_back(kReplacement);
                ++i;
            }
        } else if ((b & 0xF0) == 0xE0) {
            bool c1 = i + 1 < n && IsContinuation(static_cast<unsigned char>(bytes[i + 1]));
            bool c2 = c1 && i + 2 < n && IsContinuation(static_cast<unsigned char>(bytes[i + 2]));
            if (c2) {
                char16_t v = static_cast<char16_t>(
                    ((b & 0x0F) << 12) | ((static_cast<unsigned char>(bytes[i + 1]) & 0x3F) << 6) |
                    (static_cast<unsigned char>(bytes[i + 2]) & 0x3F));
                out.push_back(v < 0x800 ? kReplacement : v);
                i += 3;
            } else {
                out.push_back(kReplacement);
                i += c1 ? 2 : 1;
            }
        } else {
            // A stray continuation byte, or a lead byte that modified UTF-8 never uses.
            out.push_back(kReplacement);
            ++i;
        }
    }
    return out;
}

}  // namespace QmXplIo::detail
