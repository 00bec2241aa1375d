// libFuzzer target: arbitrary bytes given to X509Certificate as PEM text, and every getter of
// whatever certificate comes out. Input from outside may be refused only with the library's
// documented exceptions; a crash, a leak, a read past a field, an IllegalStateError_t or a
// certificate that does not survive its own encoding is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "QmSecCore/Key.h"
#include "QmSecCore/SecCoreException.h"
#include "QmSecCore/X509Certificate.h"
#include "QmXpl/CharArray_t.h"
#include "QmXpl/Message_t.h"

namespace {

using QmSecCore::X509Certificate;

// Runs one getter; refusing the certificate's content is allowed (an unreadable time, a key
// that is not RSA or cannot be read), anything else propagates and ends the run.
template <class F>
void Tolerant(F&& f) {
    try {
        f();
    } catch (const QmXplMsg::RuntimeException_t&) {
        // CertificateParsingException and its relatives: a refusal with a message.
    } catch (const QmXplMsg::IllegalArgumentError_t&) {
        // The public key is not an RSA key.
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    X509Certificate cert;
    try {
        cert = X509Certificate(reinterpret_cast<const char*>(data), static_cast<int>(size));
    } catch (const QmSecCore::SecCoreException&) {
        return 0;  // not a certificate: CertificateParsingException 91
    }

    QmXplArray::CharArray_t pem;
    cert.GetEncoded(pem);
    X509Certificate again(pem);
    if (again.GetFingerprint() != cert.GetFingerprint())
        std::abort();  // the encoding must give back the same certificate

    Tolerant([&] { cert.GetFingerprint(); });
    Tolerant([&] { cert.GetType(); });
    Tolerant([&] { cert.CheckValidity(); });
    Tolerant([&] { cert.GetNotBefore(); });
    Tolerant([&] { cert.GetNotAfter(); });
    Tolerant([&] { cert.GetIssuerCN(); });
    Tolerant([&] { cert.GetSubjectCN(); });
    Tolerant([&] { cert.GetIssuerDN(); });
    Tolerant([&] { cert.GetSubjectDN(); });
    Tolerant([&] { cert.GetSerial(); });
    Tolerant([&] {
        QmSecCore::Key key = cert.GetPublicKey();
        cert.Verify(key);
    });
    return 0;
}
