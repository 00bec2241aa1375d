// UTF-16 text with a distinct null value.
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "QmXpl/Export.h"

namespace QmXplStr {

// UTF-16 text. A null string (default-constructed, String_t::Null, or built from a null
// pointer) differs from the empty string: IsNull() tells them apart, IsEmpty() is true for
// both. Comparisons are by UTF-16 code units; a null string equals only another null string
// and sorts before every non-null string. Invalid UTF-8 input never fails: every malformed
// sequence decodes to U+FFFD, so text from outside can always be held and printed.
class QMXPL_API String_t {
  public:
    static const String_t Null;
    static constexpr int npos = -1;

    String_t() noexcept : null_(true) {}
    String_t(std::nullptr_t) noexcept : null_(true) {}
    String_t(const char* utf8);              // null pointer gives the null string
    String_t(const char* utf8, int length);  // length bytes of UTF-8
    String_t(const std::string& utf8);
    String_t(std::string_view utf8);
    String_t(const char16_t* utf16);  // zero-terminated; null pointer gives null
    String_t(const char16_t* utf16, int length);
    String_t(const unsigned short* utf16, int length = -1);  // -1: zero-terminated
    String_t(std::u16string utf16) noexcept : text_(std::move(utf16)), null_(false) {}
    String_t(int count, char16_t unit);

    bool IsNull() const noexcept { return null_; }
    bool IsEmpty() const noexcept { return text_.empty(); }
    int GetLength() const noexcept { return static_cast<int>(text_.size()); }
    // The unit at index; 0 when index is outside the string.
    char16_t GetAt(int index) const noexcept {
        return index >= 0 && index < GetLength() ? text_[static_cast<size_t>(index)] : u'\0';
    }
    // Zero-terminated UTF-16 units; an empty buffer for the null string.
    const char16_t* GetBuffer() const noexcept { return text_.c_str(); }
    const unsigned short* GetUnits() const noexcept {
        return reinterpret_cast<const unsigned short*>(text_.c_str());
    }
    const std::u16string& Str() const noexcept { return text_; }

    // Appending to the null string makes it a non-null string.
    String_t& Append(const String_t& other);
    String_t& Append(char16_t unit);
    String_t& Append(const char16_t* units, int count);
    String_t& operator+=(const String_t& other) { return Append(other); }
    String_t& operator+=(char16_t unit) { return Append(unit); }

    // count characters from start (all to the end when count < 0); ranges are clipped.
    String_t Mid(int start, int count = -1) const;
    String_t Left(int count) const { return Mid(0, count); }
    // Index of the first occurrence at or after start, or npos.
    int Find(const String_t& what, int start = 0) const;
    int Find(char16_t unit, int start = 0) const;
    // Index of the first unit at or after start that is one of chars, or npos.
    int FindOneOf(const String_t& chars, int start = 0) const;
    int ReverseFind(char16_t unit) const;
    bool StartsWith(const String_t& prefix) const;
    bool EndsWith(const String_t& suffix) const;

    // Case mapping of ASCII and Latin-1 letters; other units are kept.
    String_t ToUpper() const;
    String_t ToLower() const;
    // Removes leading and trailing blanks, tabs, carriage returns and line feeds.
    String_t Trim() const;
    // <0, 0, >0 comparing with case folded as ToUpper does.
    int CaseCompare(const String_t& other) const;
    int Compare(const String_t& other) const noexcept;

    bool operator==(const String_t& o) const noexcept {
        return null_ == o.null_ && text_ == o.text_;
    }
    bool operator!=(const String_t& o) const noexcept { return !(*this == o); }
    bool operator<(const String_t& o) const noexcept { return Compare(o) < 0; }
    bool operator<=(const String_t& o) const noexcept { return Compare(o) <= 0; }
    bool operator>(const String_t& o) const noexcept { return Compare(o) > 0; }
    bool operator>=(const String_t& o) const noexcept { return Compare(o) >= 0; }

    // The text as UTF-8 (unpaired surrogates become U+FFFD).
    std::string ToUtf8() const;
    size_t Hash() const noexcept { return std::hash<std::u16string>()(text_); }

  private:
    std::u16string text_;
    bool null_;
};

QMXPL_API String_t operator+(const String_t& a, const String_t& b);
QMXPL_API String_t operator+(const String_t& a, const char* b);
QMXPL_API String_t operator+(const char* a, const String_t& b);
// Writes the text as UTF-8; the null string writes nothing.
QMXPL_API std::ostream& operator<<(std::ostream& out, const String_t& s);

// Case-insensitive comparison of UTF-16 texts, as String_t::CaseCompare.
class QMXPL_API Utf16_t {
  public:
    static int CaseCompare(const String_t& a, const String_t& b) { return a.CaseCompare(b); }
};

// Formats one integer with a printf-style format holding exactly one integer conversion
// ("%d", "%x", "%08X", "' with IP 0x%x. No ID"); the length modifier is chosen here, so the
// format need not name one. A format with no or more than one conversion, or a conversion that
// is not an integer one, throws IllegalArgumentError_t.
QMXPL_API String_t NumToStr(long long value, const char* format = "%d");

}  // namespace QmXplStr

template <>
struct std::hash<QmXplStr::String_t> {
    size_t operator()(const QmXplStr::String_t& s) const noexcept { return s.Hash(); }
};
