// X.509 certificates read from PEM text: encoding, fingerprint, public key, signature check,
// validity and the names and serial number as text.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/Object.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

class X509CertificateImpl;

// One certificate, immutable after construction: copies of a handle share it, and any number of
// threads may read it at once. Every method but the constructors throws IllegalStateError_t
// ("X509Certificate") on a handle without a body.
class QMSEC_API X509Certificate : public Object {
  public:
    // An empty handle.
    X509Certificate() noexcept = default;
    ~X509Certificate() override;

    // Parses the first PEM "CERTIFICATE" block of length bytes at data (text before it is
    // skipped, anything after it ignored). Only PEM is accepted: DER bytes, or text without a
    // certificate block, throw CertificateParsingException 91 with OpenSSL's reason. A negative
    // length, or a null pointer with a positive length, throws IllegalArgumentError_t 40. The bytes
    // are not kept.
    X509Certificate(const char* data, int length);
    explicit X509Certificate(const QmXplArray::CharArray_t& encoded);

    // Fills out with the PEM text of the certificate (trailing newline, no terminating zero) and
    // returns it; building a certificate from that text gives the same certificate.
    // RuntimeException_t 34 / CertificateParsingException 92 when it cannot be written.
    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const;
    // The SHA-1 digest of the DER encoding: 20 upper-case hexadecimal pairs joined by colons
    // (59 characters). Certificates are compared by this text.
    QmXplStr::String_t GetFingerprint() const;
    // The certificate's RSA public key as a key of type eRSAPublicKey (sharing the key, which
    // stays valid after this handle goes). CertificateParsingException 93 without a readable
    // key; IllegalArgumentError_t 69 when the key is not RSA.
    Key GetPublicKey() const;
    // Always "X509Certificate".
    QmXplStr::String_t GetType() const;
    // Whether key (an RSA public key; any other type throws IllegalArgumentError_t 94) verifies
    // the certificate's signature. False as well when the signature cannot be checked at all (an
    // unknown signature algorithm, a key of the wrong kind); the reason is traced.
    bool Verify(const Key& key) const;
    // Whether the current time lies inside the validity period (false for a period that has
    // not begun or has ended, or when one of the two times cannot be read).
    // CertificateParsingException 95 when neither time can be read.
    bool CheckValidity() const;
    // Start and end of the validity period as stored (UTC, no conversion): "MM/DD/YY hh:mm:ss
    // GMT" for a time stored with a two-digit year (1950 to 2049) and "MM/DD/YYYY hh:mm:ss GMT"
    // for one stored with a four-digit year (as certificates store years from 2050 on).
    // CertificateParsingException 95 when the stored time does not begin with the digits of
    // either form.
    QmXplStr::String_t GetNotBefore() const;
    QmXplStr::String_t GetNotAfter() const;
    // The first common name of the issuer / subject (empty when there is none), at most 255
    // bytes as UTF-8. A zero character inside the name is shown as U+FFFD, so that a name with
    // one never equals the shorter name in front of it.
    QmXplStr::String_t GetIssuerCN() const;
    QmXplStr::String_t GetSubjectCN() const;
    // The whole issuer / subject name on one line, "/C=../O=../CN=..", in certificate order,
    // with bytes outside printable ASCII written as \xHH. CertificateParsingException 96 / 97
    // when the name cannot be written.
    QmXplStr::String_t GetIssuerDN() const;
    QmXplStr::String_t GetSubjectDN() const;
    // The serial number in upper-case hexadecimal, two digits per byte ("00" for zero, a
    // leading '-' when negative, a backslash and a line feed before every 35th byte of long
    // numbers). CertificateParsingException 98 when it cannot be written.
    QmXplStr::String_t GetSerial() const;

    // Wraps an existing body (for the library's own parts).
    explicit X509Certificate(X509CertificateImpl* body) noexcept;

  private:
    friend class X509CertificateImpl;
    X509CertificateImpl* Body() const;
};

}  // namespace QmSecCore
