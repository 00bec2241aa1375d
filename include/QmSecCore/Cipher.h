// Symmetric (Blowfish, DES, Triple-DES in CBC mode) and RSA encryption of data fed in pieces.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"

namespace QmSecCore {

class X509Certificate;

class CipherImpl;

// Encrypts or decrypts data fed in pieces with Update and ended with DoFinal.
//
// Symmetric algorithms write a fresh random 8-byte initialisation vector in front of their
// output and read it back from the front of their input, then the CBC ciphertext with PKCS #5
// padding follows; such a ciphertext is self-contained. After every DoFinal the cipher is ready
// for the next message with the same key and mode (and a new vector). RSA encrypts chunks of
// (modulus length - 12) bytes with PKCS #1 v1.5 padding and decrypts chunks of the modulus
// length; a public key encrypts for the private one, a private key encrypts what the public one
// recovers.
//
// A handle: copies share one cipher state (a cipher stream and its creator see the same cipher).
// Not synchronised: one thread uses a cipher at a time. Every method of a handle without a body
// throws IllegalStateError_t ("Cipher").
//
// The Update/DoFinal family: every result is the number of bytes written into out at the output
// offset; out grows as needed and never shrinks. A negative length, a null input pointer with a
// positive length, or an output offset that is negative or beyond out's size, throws
// IllegalArgumentError_t 9; an input range outside the input array throws
// IllegalArgumentError_t 12. A null zero-terminated text is empty. Input that lies inside out
// (transforming an array in place) is safe.
class QMSEC_API Cipher : public Object {
  public:
    enum OpMode : int { eEncrypt = 0, eDecrypt = 1 };  // every value other than 0 decrypts

    // An empty handle.
    Cipher() noexcept = default;
    // Algorithm eRSA: an RSA cipher with an RSA public or private key; any other algorithm: a
    // symmetric cipher with a secret key (its key schedule lives in the cipher context, which
    // OpenSSL wipes when it goes). Throws IllegalArgumentError_t 71 when the key does not fit the
    // algorithm, 41 for an algorithm outside the enumeration, 74 when a secret key is shorter than
    // the algorithm's key length (16 Blowfish, 8 DES, 24 Triple-DES; longer keys use their first
    // bytes); IOException_t 75 when the algorithm is not available from OpenSSL.
    Cipher(OpMode mode, const Key& key, Key::Algorithm algorithm);
    // The same with the public key of certificate (X509Certificate::GetPublicKey, which throws
    // for a certificate whose key cannot be read).
    Cipher(OpMode mode, const X509Certificate& certificate, Key::Algorithm algorithm);
    ~Cipher() override;

    // The algorithm given at construction.
    Key::Algorithm GetAlgorithm() const;
    // The most bytes that Update plus DoFinal can write for inputLength more input bytes (an
    // upper bound; saturates at the largest int). IllegalArgumentError_t 40 when negative.
    int GetOutputSize(int inputLength) const;
    // Starts over with a new mode and key of the same algorithm, discarding anything pending.
    // Throws as the constructor does; on failure the cipher keeps its previous mode and key.
    void Reset(OpMode mode, const Key& key) const;

    // Processes input and writes what is ready. Symmetric encryption writes the vector first
    // (with the first call, even for 0 bytes). Symmetric decryption collects the vector from the
    // first 8 bytes and holds the last block back until DoFinal. IOException_t 75 (symmetric) or
    // 72 (RSA) when OpenSSL fails.
    int Update(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, QmXplArray::CharArray_t& out) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int Update(const QmXplArray::CharArray_t& in, int offset, int length,
               QmXplArray::CharArray_t& out, int outOffset) const;
    int Update(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

    // Ends the message and writes the rest. Symmetric encryption writes the vector first when no
    // Update has written it yet, then the padded last block. Symmetric decryption throws
    // BadPaddingException 76 when the padding is wrong or the input was shorter than a vector
    // and one block; the cipher is then ready for the next message all the same. RSA processes
    // the buffered last chunk (IOException_t 72 on failure, and when decrypting a last block
    // shorter than the modulus; IllegalArgumentError_t 73 for an output offset outside out). The
    // forms with input update first and finish right after.
    int DoFinal(QmXplArray::CharArray_t& out) const;
    int DoFinal(QmXplArray::CharArray_t& out, int outOffset) const;
    int DoFinal(const QmXplArray::CharArray_t& in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, QmXplArray::CharArray_t& out) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out) const;
    int DoFinal(const QmXplArray::CharArray_t& in, int offset, int length,
                QmXplArray::CharArray_t& out, int outOffset) const;
    int DoFinal(const char* in, int length, QmXplArray::CharArray_t& out, int outOffset) const;

  private:
    CipherImpl* Body() const;
};

}  // namespace QmSecCore
