// The body of Key: what every kind of key offers.
#pragma once

#include "OpenSsl.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/ObjectImpl.h"
#include "Trace.h"

namespace QmSecCore {

// The key length of a symmetric algorithm: 16 for Blowfish (and the default), 8 for DES, 24
// for Triple-DES; 0 for RSA and values outside the enumeration. Password derivation and the
// symmetric cipher agree on it through this one table.
int SymmetricKeyLength(Key::Algorithm algorithm) noexcept;

class KeyImpl : public ObjectImpl {
  public:
    ~KeyImpl() override;
    virtual QmXplStr::String_t GetAlgorithm() const = 0;
    virtual Key::Type GetType() const = 0;
    virtual QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const = 0;
};

}  // namespace QmSecCore

// Both kinds of body, for the code that takes a key apart by kind. Each header includes this one
// first, so either order of inclusion works.
#include "RSAKey.h"
#include "SecretKey.h"
