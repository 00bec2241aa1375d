#include "QmSecCoreTrc/TraceText.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace QmSecCoreTrc {

namespace {

char* Duplicate(const char* data, size_t length) {
    char* p = static_cast<char*>(std::malloc(length + 1));
    if (!p) throw std::bad_alloc();
    if (length) std::memcpy(p, data, length);
    p[length] = '\0';
    return p;
}

void EscapeUnit(std::string& out, unsigned short unit) {
    char buf[8];
    if (unit == '&') {
        out += "&amp;";
    } else if (unit < 128) {
        out.push_back(static_cast<char>(unit));
    } else if (unit < 256) {
        std::snprintf(buf, sizeof buf, "&%02X;", unit);
        out += buf;
    } else {
        std::snprintf(buf, sizeof buf, "&%04X;", unit);
        out += buf;
    }
}

template <class Unit>
std::string HexList(const Unit* data, int size, const char* format) {
    std::string out = "{";
    char buf[8];
    for (int i = 0; i < size; ++i) {
        std::snprintf(buf, sizeof buf, format, static_cast<unsigned>(data[i]));
        out += buf;
        out.push_back(i + 1 < size ? ' ' : '}');
    }
    if (size <= 0) out.push_back('}');
    return out;
}

template <class T>
std::string Printf(const char* format, T value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

constexpr int kTraceFormat =
    QmXplMsg::kFormatNumber | QmXplMsg::kFormatDetails | QmXplMsg::kFormatOneLine;

}  // namespace

TraceText::~TraceText() {
    FreeFollowing();
    std::free(piece_);
}

void TraceText::FreeFollowing() noexcept {
    TraceText* node = next_;
    next_ = nullptr;
    while (node) {
        TraceText* following = node->next_;
        node->next_ = nullptr;  // so that the node's destructor frees only itself
        delete node;
        node = following;
    }
}

TraceText& TraceText::Append(const char* data, size_t length) {
    TraceText* node = this;
    while (node->piece_ && node->next_) node = node->next_;
    if (!node->piece_) {
        node->piece_ = Duplicate(data, length);
    } else {
        node->next_ = new TraceText(Duplicate(data, length));
    }
    return *this;
}

TraceText& TraceText::operator<<(const char* text) {
    return text ? Append(text, std::strlen(text)) : Append("", 0);
}

TraceText& TraceText::operator<<(const unsigned short* utf16) {
    std::string out;
    for (const unsigned short* p = utf16; p && *p; ++p) EscapeUnit(out, *p);
    return Append(out.data(), out.size());
}

TraceText& TraceText::operator<<(const char16_t* utf16) {
    return *this << reinterpret_cast<const unsigned short*>(utf16);
}

TraceText& TraceText::operator<<(unsigned short unit) {
    std::string out;
    EscapeUnit(out, unit);
    return Append(out.data(), out.size());
}

TraceText& TraceText::operator<<(const void* pointer) {
    std::string s = Printf("0x%lX", reinterpret_cast<unsigned long>(pointer));
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(const QmXplArray::CharArray_t& bytes) {
    std::string s =
        HexList(reinterpret_cast<const unsigned char*>(bytes.GetData()), bytes.GetSize(), "%02X");
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(const QmXplArray::UTF16CharArray_t& units) {
    std::string s = HexList(units.GetData(), units.GetSize(), "%04X");
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(const QmXplStr::String_t& text) {
    return *this << QmXplStr::MBS_t(text);
}

TraceText& TraceText::operator<<(const QmXplStr::MBS_t& text) {
    return Append(text.c_str(), static_cast<size_t>(text.GetLength()));
}

TraceText& TraceText::operator<<(const QmXplStr::UTF8_t& text) {
    // The system's multibyte encoding is UTF-8, so the bytes pass unchanged.
    return Append(text.c_str(), static_cast<size_t>(text.GetLength()));
}

TraceText& TraceText::operator<<(const QmXplMsg::Message_t& message) {
    return *this << message.Format(kTraceFormat);
}

TraceText& TraceText::operator<<(const QmXplMsg::Exception_t& exception) {
    return *this << exception.GetMessageList().Format(kTraceFormat);
}

TraceText& TraceText::operator<<(bool value) {
    return value ? Append("true", 4) : Append("false", 5);
}

TraceText& TraceText::operator<<(int value) {
    std::string s = Printf("%d", value);
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(unsigned int value) {
    std::string s = Printf("%u", value);
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(long value) {
    std::string s = Printf("%ld", value);
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(unsigned long value) {
    std::string s = Printf("%lu", value);
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(long long value) {
    std::string s = Printf("%lld", value);
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(unsigned long long value) {
    std::string s = Printf("%llu", value);
    return Append(s.data(), s.size());
}

TraceText& TraceText::operator<<(const AsHex& value) {
    unsigned v = value.Value();
    std::string s = Printf(v < 256 ? "{%02X}" : v < 65536 ? "{%04X}" : "{%08X}", v);
    return Append(s.data(), s.size());
}

const char* TraceText::GetMsg() {
    if (!next_) return piece_ ? piece_ : "";
    std::string joined;
    for (TraceText* node = this; node && node->piece_; node = node->next_) joined += node->piece_;
    char* one = Duplicate(joined.data(), joined.size());
    FreeFollowing();
    std::free(piece_);
    piece_ = one;
    return piece_;
}

const char* TraceText::operator[](int index) const noexcept {
    const TraceText* node = this;
    for (int i = 0; node && i < index; ++i) node = node->next_;
    return (index >= 0 && node && node->piece_) ? node->piece_ : "";
}

const char* TraceText::GetCombinedMsg() {
    const char* pattern = piece_ ? piece_ : "";
    std::string out;
    for (const char* p = pattern; *p; ++p) {
        if (*p != '%') {
            out.push_back(*p);
            continue;
        }
        if (!p[1]) {  // a lone '%' at the end has no piece number: keep it as it is
            out.push_back('%');
            break;
        }
        ++p;
        int n = (*p >= '0' && *p <= '9') ? *p - '0' : 0;
        out += (*this)[n];
    }
    char* one = Duplicate(out.data(), out.size());
    FreeFollowing();
    std::free(piece_);
    piece_ = one;
    return piece_;
}

}  // namespace QmSecCoreTrc
