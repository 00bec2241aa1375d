#include "QmXpl/String_t.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "QmXpl/MBS_t.h"
#include "QmXpl/Message_t.h"
#include "str/Utf.h"

namespace QmXplStr {

const String_t String_t::Null;

namespace {

char16_t UpperUnit(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
    if (c == 0xFF) return 0x178;
    return c;
}

char16_t LowerUnit(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 0x20);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 0x20);
    if (c == 0x178) return 0xFF;
    return c;
}

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

}  // namespace

String_t::String_t(const char* utf8) : null_(utf8 == nullptr) {
    if (utf8) text_ = Utf::Decode(utf8);
}

String_t::String_t(const char* utf8, int length) : null_(utf8 == nullptr) {
    if (utf8 && length > 0)
        text_ = Utf::Decode(std::string_view(utf8, static_cast<size_t>(length)));
}

String_t::String_t(const std::string& utf8) : text_(Utf::Decode(utf8)), null_(false) {}

String_t::String_t(std::string_view utf8) : text_(Utf::Decode(utf8)), null_(false) {}

String_t::String_t(const char16_t* utf16) : null_(utf16 == nullptr) {
    if (utf16) text_ = utf16;
}

String_t::String_t(const char16_t* utf16, int length) : null_(utf16 == nullptr) {
    if (utf16 && length > 0) text_.assign(utf16, static_cast<size_t>(length));
}

String_t::String_t(const unsigned short* utf16, int length) : null_(utf16 == nullptr) {
    if (!utf16) return;
    if (length < 0) {
        length = 0;
        while (utf16[length] != 0) ++length;
    }
    text_.resize(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        text_[static_cast<size_t>(i)] = static_cast<char16_t>(utf16[i]);
}

String_t::String_t(int count, char16_t unit)
    : text_(static_cast<size_t>(std::max(count, 0)), unit), null_(false) {}

String_t& String_t::Append(const String_t& other) {
    null_ = false;
    text_ += other.text_;
    return *this;
}

String_t& String_t::Append(char16_t unit) {
    null_ = false;
    text_.push_back(unit);
    return *this;
}

String_t& String_t::Append(const char16_t* units, int count) {
    null_ = false;
    if (units && count > 0) text_.append(units, static_cast<size_t>(count));
    return *this;
}

String_t String_t::Mid(int start, int count) const {
    if (null_) return String_t();
    int len = GetLength();
    start = std::clamp(start, 0, len);
    int n = count < 0 ? len - start : std::min(count, len - start);
    return String_t(text_.substr(static_cast<size_t>(start), static_cast<size_t>(n)));
}

int String_t::Find(const String_t& what, int start) const {
    if (start < 0) start = 0;
    if (start > GetLength()) return npos;
    size_t pos = text_.find(what.text_, static_cast<size_t>(start));
    return pos == std::u16string::npos ? npos : static_cast<int>(pos);
}

int String_t::Find(char16_t unit, int start) const {
    if (start < 0) start = 0;
    if (start > GetLength()) return npos;
    size_t pos = text_.find(unit, static_cast<size_t>(start));
    return pos == std::u16string::npos ? npos : static_cast<int>(pos);
}

int String_t::FindOneOf(const String_t& chars, int start) const {
    if (start < 0) start = 0;
    if (start > GetLength() || chars.IsEmpty()) return npos;
    size_t pos = text_.find_first_of(chars.text_, static_cast<size_t>(start));
    return pos == std::u16string::npos ? npos : static_cast<int>(pos);
}

int String_t::ReverseFind(char16_t unit) const {
    size_t pos = text_.rfind(unit);
    return pos == std::u16string::npos ? npos : static_cast<int>(pos);
}

bool String_t::StartsWith(const String_t& prefix) const {
    return text_.compare(0, prefix.text_.size(), prefix.text_) == 0;
}

bool String_t::EndsWith(const String_t& suffix) const {
    return text_.size() >= suffix.text_.size() &&
           text_.compare(text_.size() - suffix.text_.size(), suffix.text_.size(), suffix.text_) ==
               0;
}

String_t String_t::ToUpper() const {
    String_t r(*this);
    for (auto& c : r.text_) c = UpperUnit(c);
    return r;
}

String_t String_t::ToLower() const {
    String_t r(*this);
    for (auto& c : r.text_) c = LowerUnit(c);
    return r;
}

String_t String_t::Trim() const {
    if (null_) return String_t();
    size_t b = 0, e = text_.size();
    while (b < e && IsBlank(text_[b])) ++b;
    while (e > b && IsBlank(text_[e - 1])) --e;
    return String_t(text_.substr(b, e - b));
}

int String_t::CaseCompare(const String_t& other) const {
    size_t n = std::min(text_.size(), other.text_.size());
    for (size_t i = 0; i < n; ++i) {
        char16_t a = UpperUnit(text_[i]), b = UpperUnit(other.text_[i]);
        if (a != b) return a < b ? -1 : 1;
    }
    if (text_.size() != other.text_.size()) return text_.size() < other.text_.size() ? -1 : 1;
    return 0;
}

int String_t::Compare(const String_t& other) const noexcept {
    if (null_ || other.null_) return null_ == other.null_ ? 0 : (null_ ? -1 : 1);
    int c = text_.compare(other.text_);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

std::string String_t::ToUtf8() const { return Utf::Encode(text_); }

String_t operator+(const String_t& a, const String_t& b) {
    String_t r(a);
    r.Append(b);
    return r;
}

String_t operator+(const String_t& a, const char* b) { return a + String_t(b); }

String_t operator+(const char* a, const String_t& b) { return String_t(a) + b; }

std::ostream& operator<<(std::ostream& out, const String_t& s) { return out << s.ToUtf8(); }

MBS_t::MBS_t(const String_t& text, int /*encoding*/) : bytes_(text.ToUtf8()) {}

String_t NumToStr(long long value, const char* format) {
    // Rewrite the single integer conversion with the "ll" length modifier, keeping its flags,
    // width and precision, so that any integer type the caller had in mind prints correctly.
    std::string fmt;
    int conversions = 0;
    bool isSigned = true;
    bool wide = false;  // the caller named a long length modifier
    for (const char* p = format ? format : ""; *p; ++p) {
        if (*p != '%') {
            fmt.push_back(*p);
            continue;
        }
        if (p[1] == '%') {
            fmt += "%%";
            ++p;
            continue;
        }
        fmt.push_back('%');
        ++p;
        while (*p && std::strchr("-+ #0123456789.", *p)) fmt.push_back(*p++);
        while (*p && std::strchr("hlqjzt", *p)) {  // dropped: we choose the modifier
            wide = wide || std::strchr("lqjzt", *p);
            ++p;
        }
        if (!*p || !std::strchr("diuxXo", *p)) {
            throw QmXplMsg::IllegalArgumentError_t(QmXplMsg::CreateWarn_t(
                String_t("NumToStr: format '") + String_t(format) + "' has no integer conversion"));
        }
        isSigned = *p == 'd' || *p == 'i';
        fmt += "ll";
        fmt.push_back(*p);
        ++conversions;
    }
    if (conversions != 1) {
        throw QmXplMsg::IllegalArgumentError_t(QmXplMsg::CreateWarn_t(
            String_t("NumToStr: format '") + String_t(format) + "' needs exactly one conversion"));
    }
    // Without a long modifier a negative value prints as the 32-bit int it would be in C.
    if (!isSigned && !wide && value < 0 && value >= INT32_MIN) {
        value = static_cast<long long>(static_cast<uint32_t>(value));
    }
    char buf[256];
    int n = isSigned ? std::snprintf(buf, sizeof buf, fmt.c_str(), value)
                     : std::snprintf(buf, sizeof buf, fmt.c_str(),
                                     static_cast<unsigned long long>(value));
    if (n < 0) return String_t("");
    if (static_cast<size_t>(n) < sizeof buf) return String_t(buf, n);
    std::string big(static_cast<size_t>(n) + 1, '\0');
    isSigned ? std::snprintf(big.data(), big.size(), fmt.c_str(), value)
             : std::snprintf(big.data(), big.size(), fmt.c_str(),
                             static_cast<unsigned long long>(value));
    return String_t(big.c_str(), n);
}

}  // namespace QmXplStr
