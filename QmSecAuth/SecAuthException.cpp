#include "QmSecAuth/SecAuthException.h"

// Defined out of line so that the class has one home for its vtable and type information: a throw
// inside the library is caught by type in any program.
QmSecAuth::SecAuthException::SecAuthException(const QmXplMsg::Message_t& message)
    : QmXplMsg::RuntimeException_t(message) {}
QmSecAuth::SecAuthException::~SecAuthException() = default;
