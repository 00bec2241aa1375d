// Small conversions and checks every test program needs.
#pragma once

#include <string>

#include "QmXpl/CharArray_t.h"
#include "QmXpl/Message_t.h"

namespace qmsec_test {

inline std::string Str(const QmXplArray::CharArray_t& a) {
    return std::string(a.GetData(), static_cast<size_t>(a.GetSize()));
}
inline std::string Str(const QmXplArray::CharArray_t& a, int offset, int length) {
    return std::string(a.GetData() + offset, static_cast<size_t>(length));
}
inline QmXplArray::CharArray_t Arr(const std::string& s) {
    return QmXplArray::CharArray_t(s.data(), static_cast<int>(s.size()));
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

}  // namespace qmsec_test
