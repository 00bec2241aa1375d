// Sealing a message for one recipient: a symmetric cipher under a fresh secret, and the secret
// RSA-encrypted for the recipient's certificate in a header in front.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

class MessageSealerImpl;
class X509Certificate;

// Seals a message that the caller feeds in pieces with Update and ends with DoFinal. Sealed
// data is, in this order:
//   - the header length L, a big-endian 32-bit integer (1 to 10000);
//   - the header: L bytes, the RSA encryption (PKCS #1 v1.5, for the recipient's public key) of
//     the key block, which is 24 random secret bytes (none of them zero) followed by the
//     symmetric algorithm as a big-endian 32-bit integer;
//   - the body: the symmetric cipher's output over the whole message (its random 8-byte vector,
//     then the CBC ciphertext with PKCS #5 padding) under the key derived from the secret as a
//     password (the password form of Key).
// The first Update or DoFinal writes L and the header in front of its output; a message of zero
// bytes is therefore still the header, the vector and one padded block. MessageUnsealer reads
// it with the recipient's private key.
//
// The secret is drawn once per sealer. After DoFinal the sealer goes on under the same secret
// without writing the header again: a further message is only a body, which the same
// MessageUnsealer object reads after its own DoFinal. One message per sealer is the usual use.
//
// A handle: copies share one state. Not synchronised: one thread uses a sealer at a time. Every
// method of a handle without a body throws IllegalStateError_t ("MessageSealer").
//
// The Update/DoFinal family: every result is the number of bytes written into out at the output
// offset; out grows as needed and never shrinks. A negative length, a null input pointer with a
// positive length, or an output offset that is negative or beyond out's size, throws
// IllegalArgumentError_t 9; an input range outside the input array throws
// IllegalArgumentError_t 12. A null zero-terminated text is empty. Input that lies inside out
// (sealing an array in place) is safe. IOException_t 75 when the cipher fails in OpenSSL.
class QMSEC_API MessageSealer : public Object {
  public:
    // An empty handle.
    MessageSealer() noexcept = default;
    // Prepares sealing for recipient's RSA public key with a symmetric algorithm (eDefault,
    // eBlowfish, eDES or eDES3). Throws IllegalArgumentError_t 43 for eRSA, 41 for a value
    // outside the enumeration, 44 when the recipient's key is so large that the header would
    // exceed 10000 bytes; RuntimeException_t when the random generator fails; what
    // X509Certificate::GetPublicKey and the RSA cipher throw for a certificate whose key is not a
    // usable RSA key (IllegalStateError_t "X509Certificate" for an empty certificate).
    MessageSealer(const X509Certificate& recipient, Key::Algorithm algorithm);
    ~MessageSealer() override;

    // Seals input and writes what is ready; the first call writes L and the header first.
    int Update(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int Update(const QmXplArray::CharArray_t& in, int offset, int length,
               QmXplArray::CharArray_t& out, int outOffset) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

    // Ends the message: the header first if no call has written it yet, then the rest of the
    // body (the vector too when no input came before). The forms with input seal it first and
    // finish right after.
    int DoFinal(QmXplArray::CharArray_t& out) const;
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset) const;
    int DoFinal(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int DoFinal(const QmXplArray::CharArray_t& in, int offset, int length,
                QmXplArray::CharArray_t& out, int outOffset) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

  private:
    MessageSealerImpl* Body() const;
};

}  // namespace QmSecCore
