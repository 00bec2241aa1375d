// Small conversions and checks every test program needs.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <utility>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Message_t.h"

namespace qmsec_test {

// The bytes of a from offset on: length of them, or all the rest when length is negative.
inline std::string Str(const QmXplArray::CharArray_t& a, int offset = 0, int length = -1) {
    if (length < 0) length = a.GetSize() - offset;
    return std::string(a.GetData() + offset, static_cast<size_t>(length));
}
inline QmXplArray::CharArray_t Arr(const std::string& s) {
    return QmXplArray::CharArray_t(s.data(), static_cast<int>(s.size()));
}
inline std::string RandomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}
inline std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    return RandomBytes(rng, n);
}

// v as a big-endian integer of the given number of bytes.
inline std::string BigEndian(uint32_t v, int bytes = 4) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
}

// Concatenation by appending (GCC 12 warns falsely on "literal" + std::string at -O2 and up).
template <class... Parts>
std::string Cat(const Parts&... parts) {
    std::string s;
    ((s += parts), ...);
    return s;
}

// The catalog number of an exception's first message.
inline int MessageNumber(const QmXplMsg::Exception_t& e) {
    return e.GetMessageList().Get(0).GetNumber();
}

// The number and text of the first message of the E that f throws; -1 and "(nothing thrown)"
// when it throws nothing, so that a check of either fails then too.
struct Thrown {
    int number = -1;
    std::string text = "(nothing thrown)";
};
template <class E, class F>
Thrown ThrownBy(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return {MessageNumber(e), e.GetMessageList().Get(0).GetText().ToUtf8()};
    }
    return {};
}
template <class E, class F>
int ThrownNumber(F&& f) {
    return ThrownBy<E>(std::forward<F>(f)).number;
}
template <class E, class F>
std::string ThrownText(F&& f) {
    return ThrownBy<E>(std::forward<F>(f)).text;
}

}  // namespace qmsec_test
