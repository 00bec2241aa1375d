#include "QmSecCore/SecCoreCertificateFailureException.h"

#include "QmXpl/MBS_t.h"

namespace QmSecCore {

using QmXplStr::String_t;

namespace {

X509Certificate ParseText(const QmXplMsg::Message_t& certificate) {
    QmXplStr::MBS_t bytes(certificate.GetText());
    return X509Certificate(bytes.c_str(), bytes.GetLength());
}

}  // namespace

SecCoreCertificateFailureException::SecCoreCertificateFailureException(
    const QmXplMsg::Message_t& reason, const QmXplMsg::Message_t& message,
    const QmXplMsg::Message_t& certificate)
    : SecCoreException(message),
      certificateText_(certificate.GetText()),
      reasonText_(reason.GetText()),
      messageText_(message.GetText()),
      issuerName_("Unable to extract the IssuerName"),
      subjectName_("Unable to extract the SubjectName"),
      certificate_(ParseText(certificate)) {}

SecCoreCertificateFailureException::~SecCoreCertificateFailureException() = default;

String_t SecCoreCertificateFailureException::GetIssuerName() const { return issuerName_; }
String_t SecCoreCertificateFailureException::GetSubjectName() const { return subjectName_; }
X509Certificate SecCoreCertificateFailureException::GetCertificate() const { return certificate_; }
String_t SecCoreCertificateFailureException::GetReasonText() const { return reasonText_; }
String_t SecCoreCertificateFailureException::GetMessageText() const { return messageText_; }

}  // namespace QmSecCore
