// Small conversions and checks every test program needs.
#pragma once

#include <random>
#include <string>

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

// The catalog number of an exception's first message.
inline int MessageNumber(const QmXplMsg::Exception_t& e) {
    return e.GetMessageList().Get(0).GetNumber();
}

// The number of the first message of the E that f throws; -1 when it throws nothing.
template <class E, class F>
int ThrownNumber(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return MessageNumber(e);
    }
    return -1;
}

// The text of the first message of the E that f throws; "(nothing thrown)" when it throws
// nothing, so that a check of the text fails then too.
template <class E, class F>
std::string ThrownText(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.GetMessageList().Get(0).GetText().ToUtf8();
    }
    return "(nothing thrown)";
}

}  // namespace qmsec_test
