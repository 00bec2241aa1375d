// Body of X509Certificate, and the reading of validity times that its time getters use.
#pragma once

#include <ctime>
#include <optional>
#include <string>

#include "OpenSsl.h"
#include "QmSecCore/Key.h"
#include "QmSecCore/ObjectImpl.h"
#include "QmSecCore/X509Certificate.h"
#include "Trace.h"

namespace QmSecCore {

class X509CertificateImpl : public ObjectImpl {
  public:
    // Parses the first PEM certificate of length bytes at data.
    X509CertificateImpl(const char* data, int length);
    // Shares an existing OpenSSL certificate (adds a reference; the caller keeps its own).
    // IllegalArgumentError_t for a null certificate.
    explicit X509CertificateImpl(X509* certificate);
    ~X509CertificateImpl() override;
    QMSEC_DESTROY_THIS(QmSecCoreTrc::kCoreArea.proc, "X509CertificateImpl::DestroyThis()")

    QmXplArray::CharArray_t& GetEncoded(QmXplArray::CharArray_t& out) const;
    QmXplStr::String_t GetFingerprint() const;
    Key GetPublicKey() const;
    bool Verify(const Key& key) const;
    bool CheckValidity() const;
    QmXplStr::String_t GetNotBefore() const;
    QmXplStr::String_t GetNotAfter() const;
    QmXplStr::String_t GetIssuerCN() const;
    QmXplStr::String_t GetSubjectCN() const;
    QmXplStr::String_t GetIssuerDN() const;
    QmXplStr::String_t GetSubjectDN() const;
    QmXplStr::String_t GetSerial() const;

    // The OpenSSL certificate, owned by this body and never changed; valid while the body lives.
    // For the library's own parts (key store, SSL, sealer, verifier).
    X509* GetX509() const noexcept { return certificate_.get(); }

    // The body of a handle; IllegalStateError_t ("X509Certificate") for an empty handle.
    static X509CertificateImpl& Of(const X509Certificate& certificate);
    // A handle on a new body sharing certificate (see the wrapping constructor).
    static X509Certificate Wrap(X509* certificate);

  private:
    QmXplStr::String_t TimeText(const ASN1_TIME* time) const;

    ossl::X509Ptr certificate_;
};

namespace detail {

// A validity time read at fixed positions from the digits it begins with: YYMMDDhhmmss for a
// UTCTime (two-digit year; 00-49 mean 2000-2049, 50-99 mean 1950-1999) and YYYYMMDDhhmmss for a
// GeneralizedTime. The fields are taken as stored: no range check, no time zone conversion.
struct CertificateTime {
    std::tm tm{};                // tm_wday set, tm_yday and tm_isdst 0
    bool fourDigitYear = false;  // stored as GeneralizedTime
};

// Empty when the time does not begin with the 12 (UTCTime) or 14 (GeneralizedTime) digits.
std::optional<CertificateTime> ReadCertificateTime(const ASN1_TIME* time);

// The day of the week (0 = Sunday) of a date of the Gregorian calendar, by Sakamoto's rule;
// month 1 to 12 (another month gives 0), any day of the month.
int Weekday(int year, int month, int day) noexcept;

// "%x %X GMT" in the C locale ("MM/DD/YY hh:mm:ss GMT"), or with the four-digit year
// ("MM/DD/YYYY hh:mm:ss GMT"). The process's locale plays no part.
std::string FormatCertificateTime(const CertificateTime& time);

}  // namespace detail

}  // namespace QmSecCore
