#include "QmSecAuth/AuthorizationPolicyException.h"

// Defined out of line so that the class has one home for its vtable and type information: a throw
// inside the library is caught by type in any program.
QmSecAuth::AuthorizationPolicyException::AuthorizationPolicyException(
    const QmXplMsg::Message_t& message)
    : SecAuthException(message) {}
QmSecAuth::AuthorizationPolicyException::~AuthorizationPolicyException() = default;
