#include "QmSecSsl/SecSslIOException.h"

// Defined out of line so that the class has one home for its vtable and type information: a throw
// inside the library is caught by type in any program.
QmSecSsl::SecSslIOException::SecSslIOException(const QmXplMsg::Message_t& message)
    : QmXplIo::IOException_t(message) {}
QmSecSsl::SecSslIOException::~SecSslIOException() = default;
