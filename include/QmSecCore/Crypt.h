// Printable encryption of short secrets under a key that a registered provider supplies.
#pragma once

#include "QmSecCore/CryptImpl.h"
#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

// Turns bytes into printable ciphertext and back: Blowfish-CBC under the key of the process-wide
// key provider (CryptImpl::RegisterFunctionPointer), the random vector in front, all of it in
// Base64 lines. Each call works on objects of its own, so calls may run on many threads at once
// (the provider must allow that).
//
// Every method but operator-> throws IllegalStateError_t ("Crypt") on a handle without a body,
// and IllegalStateError_t when no provider is registered. Errors of the key, the cipher and the
// codec pass through: for example BadPaddingException 76 when the provider's key is not the one
// the text was encrypted with. Results are the length of out, which is resized to exactly it.
class QMSEC_API Crypt : public Object {
  public:
    Crypt();
    ~Crypt() override;

    // The body, unchecked (null for a handle without a body).
    CryptImpl* operator->() const noexcept;

    // Encrypts the bytes into Base64 text in out. A null text is empty.
    int Encrypt(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int Encrypt(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int Encrypt(const char* in, QmXplArray::CharArray_t& out) const;

    // Decrypts Base64 text made by Encrypt into the original bytes in out. A null text is empty.
    int Decrypt(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int Decrypt(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int Decrypt(const char* in, QmXplArray::CharArray_t& out) const;

  private:
    CryptImpl* Body() const;
};

}  // namespace QmSecCore
