#include "QmSecAuth/NotAuthorizedException.h"

// Defined out of line so that the class has one home for its vtable and type information: a throw
// inside the library is caught by type in any program.
QmSecAuth::NotAuthorizedException::NotAuthorizedException(const QmXplMsg::Message_t& message)
    : SecAuthException(message) {}
QmSecAuth::NotAuthorizedException::~NotAuthorizedException() = default;
