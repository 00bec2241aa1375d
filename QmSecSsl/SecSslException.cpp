#include "QmSecSsl/SecSslException.h"

// Defined out of line so that the class has one home for its vtable and type information: a throw
// inside the library is caught by type in any program.
QmSecSsl::SecSslException::SecSslException(const QmXplMsg::Message_t& message)
    : QmXplMsg::RuntimeException_t(message) {}
QmSecSsl::SecSslException::~SecSslException() = default;
