// A message signature as it travels: the RSA signature bytes with the signer's certificate or
// only the signer's common name, and its text encoding.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Object.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class MessageSignatureImpl;

// What MessageSigner::Sign produces and MessageVerifier checks. Immutable: copies of a handle
// share one value and any number of threads may read it at once. Every method but the
// constructors throws IllegalStateError_t ("MessageSignature") on a handle without a body.
//
// The encoded form is Base64 text (standard alphabet, lines of 64 characters each ending with a
// line feed) of this record, integers big-endian as DataOutputStream_t writes them:
//   - one byte: 1 when a certificate follows, 0 when a common name follows;
//   - the signature length n (32 bits, greater than 0), then the n signature bytes;
//   - with a certificate: its length m (32 bits, greater than 0), then its m bytes of PEM text;
//     with a common name: the name as modified UTF-8 behind its 16-bit byte count.
class QMSEC_API MessageSignature : public Object {
  public:
    // The longest encoded form accepted: far beyond an RSA signature of the largest key with a
    // certificate of any real size, and refused before any of it is decoded.
    static constexpr int kMaxEncodedLength = 256 * 1024;

    // An empty handle.
    MessageSignature() noexcept = default;
    // Parses the encoded form. MessageSignatureException 45 when the text is longer than
    // kMaxEncodedLength (before any of it is decoded), is not Base64, the record ends early, a
    // length is not greater than 0 or announces more bytes than the rest of the record holds
    // (refused before anything is allocated for it), or the certificate does not parse; the
    // cause, where there is one, is attached as details. Bytes after the record are ignored.
    explicit MessageSignature(const QmXplArray::CharArray_t& encoded);
    ~MessageSignature() override;

    // Whether the signature carries the signer's certificate (else only a common name).
    bool ContainsCertificate() const;
    // Replaces out's contents with the encoded form and returns out. MessageSignatureException
    // 47 when it cannot be written (a common name of more than 65535 bytes of modified UTF-8;
    // a certificate that cannot be encoded), with the cause as details.
    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const;
    // Replaces out's contents with the signature bytes and returns out.
    QmXplArray::CharArray_t& GetSignature(QmXplArray::CharArray_t& out) const;
    // The signer's certificate (sharing it). MessageSignatureException 46 when the signature
    // carries none.
    X509Certificate GetCertificate() const;
    // With a certificate its subject common name, otherwise the common name carried.
    QmXplStr::String_t GetSignerCN() const;

    // Wraps an existing body (for the library's own parts).
    explicit MessageSignature(MessageSignatureImpl* body) noexcept;

  private:
    friend class MessageSignatureImpl;
    MessageSignatureImpl* Body() const;
};

}  // namespace QmSecCore
