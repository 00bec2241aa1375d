// A rejected certificate, for callers that report one.
#pragma once

#include "QmSecCore/Export.h"
#include "QmSecCore/SecCoreException.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/String_t.h"

namespace QmSecCore {

// Carries why a certificate was rejected, together with the certificate. The library never
// throws it itself. The exception's own message is the second argument of the constructor.
class QMSEC_API SecCoreCertificateFailureException : public SecCoreException {
  public:
    // Keeps the texts of reason and message, and the certificate parsed from the text of
    // certificate (PEM); whatever that parse throws (CertificateParsingException 91 for text
    // without a certificate) propagates. The issuer and subject names are fixed texts saying
    // that they could not be extracted.
    SecCoreCertificateFailureException(const QmXplMsg::Message_t& reason,
                                       const QmXplMsg::Message_t& message,
                                       const QmXplMsg::Message_t& certificate);
    ~SecCoreCertificateFailureException() override;

    // "Unable to extract the IssuerName" / "Unable to extract the SubjectName".
    virtual QmXplStr::String_t GetIssuerName() const;
    virtual QmXplStr::String_t GetSubjectName() const;
    // A handle sharing the stored certificate.
    virtual X509Certificate GetCertificate() const;
    // The texts of the reason and of the message given to the constructor.
    virtual QmXplStr::String_t GetReasonText() const;
    virtual QmXplStr::String_t GetMessageText() const;

  private:
    QmXplStr::String_t certificateText_;
    QmXplStr::String_t reasonText_;
    QmXplStr::String_t messageText_;
    QmXplStr::String_t issuerName_;
    QmXplStr::String_t subjectName_;
    X509Certificate certificate_;
};

}  // namespace QmSecCore
