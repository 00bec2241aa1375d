// X.509 certificates made in the test itself with OpenSSL's API, as PEM and DER texts.
//
//   TestCertificate ca = CertificateBuilder().CommonName("Test CA").Ca().Build();
//   TestCertificate leaf = CertificateBuilder()
//                              .Subject({{"O", "Acme"}, {"CN", "node1"}})
//                              .IssuedBy(ca)
//                              .SerialHex("0123456789ABCDEF0123")
//                              .ValidFromNow(-3600, 86400)
//                              .Build();
//
// By default a certificate is self-signed, has the subject "CN=Test Certificate", serial 1, is
// valid from one hour ago for one day and is signed with SHA-256 by the RSA key of
// TestRsaKey(2048). Every field can be chosen, including ones no well-behaved authority would
// write (a time in the wrong form, a negative or very long serial, names with odd string types),
// and Modify() gives the OpenSSL certificate itself for anything else. The keys come from
// Keys.h and exist only while the test program runs; nothing here is ever written to the tree.
#pragma once

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "OpenSsl.h"
#include "support/Keys.h"

namespace qmsec_test {

namespace cert_detail {

namespace ossl = QmSecCore::ossl;

inline void Check(bool ok, const char* what) {
    if (!ok)
        throw std::runtime_error(std::string("making a test certificate: ") + what + " failed");
}

inline ossl::PKey ReadPrivateKey(const std::string& pem) {
    ossl::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    ossl::PKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    Check(key != nullptr, "reading the private key");
    return key;
}

inline ossl::X509Ptr ReadCertificate(const std::string& pem) {
    ossl::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    ossl::X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    Check(cert != nullptr, "reading the issuer certificate");
    return cert;
}

}  // namespace cert_detail

// One attribute of a name. type is either an MBSTRING_* value (value is text that OpenSSL stores
// in the string type it picks, UTF8String by default) or a V_ASN1_* string type (value holds the
// raw bytes stored with exactly that type, for example UTF-16BE bytes for V_ASN1_BMPSTRING; a
// zero byte inside is kept).
struct NameField {
    std::string field;  // "CN", "O", "OU", "C", "emailAddress", ... (short or long name)
    std::string value;
    int type = MBSTRING_UTF8;
};
using Name = std::vector<NameField>;

struct TestCertificate {
    std::string pem;            // one "CERTIFICATE" block with its trailing newline
    std::string der;            // the same certificate in DER
    std::string privateKeyPem;  // the subject's key, PKCS #8 (test use only)
    std::string publicKeyPem;   // "PUBLIC KEY"
};

// An EC P-256 private key (PKCS #8 PEM), made once per test program: a key that is not RSA.
inline const std::string& TestEcKeyPem() {
    static std::once_flag once;
    static std::string pem;
    std::call_once(once, [] {
        QmSecCore::ossl::PKey key(EVP_EC_gen("P-256"));
        cert_detail::Check(key != nullptr, "EVP_EC_gen");
        pem = KeyPem(key.get(), true);
    });
    return pem;
}

// DER bytes (of a certificate, or bytes that should pass for one) as a PEM "CERTIFICATE" block:
// for certificates changed after signing.
inline std::string CertificatePem(const std::string& der) {
    QmSecCore::ossl::Bio bio(BIO_new(BIO_s_mem()));
    cert_detail::Check(PEM_write_bio(bio.get(), "CERTIFICATE", "",
                                     reinterpret_cast<const unsigned char*>(der.data()),
                                     static_cast<long>(der.size())) > 0,
                       "PEM_write_bio");
    return BioText(bio.get());
}

// How a literal validity time is stored.
enum class TimeForm {
    kAuto,         // GeneralizedTime for texts of 15 characters or more, UTCTime otherwise
    kUtc,          // UTCTime, whatever the text
    kGeneralized,  // GeneralizedTime, whatever the text
};

class CertificateBuilder {
  public:
    CertificateBuilder() = default;

    // The subject name, entries in this order. An empty name is allowed.
    CertificateBuilder& Subject(Name subject) {
        subject_ = std::move(subject);
        return *this;
    }
    // A subject of one common name.
    CertificateBuilder& CommonName(const std::string& cn) { return Subject({{"CN", cn}}); }
    // Signed by ca's key with ca's subject as issuer name (unless IssuerName() says otherwise).
    CertificateBuilder& IssuedBy(const TestCertificate& ca) {
        issuerPem_ = ca.pem;
        signerKeyPem_ = ca.privateKeyPem;
        return *this;
    }
    // The issuer field as given, whoever signs.
    CertificateBuilder& IssuerName(Name issuer) {
        issuerName_ = std::move(issuer);
        hasIssuerName_ = true;
        return *this;
    }
    // The serial as big-endian hexadecimal digits of any length; a leading '-' makes it
    // negative, "0" is zero.
    CertificateBuilder& SerialHex(std::string hex) {
        serialHex_ = std::move(hex);
        return *this;
    }
    // Valid from now + startSeconds to now + endSeconds (negative values lie in the past),
    // stored as OpenSSL chooses (UTCTime up to 2049, GeneralizedTime from 2050).
    CertificateBuilder& ValidFromNow(long startSeconds, long endSeconds) {
        startOffset_ = startSeconds;
        endOffset_ = endSeconds;
        notBefore_.reset();
        notAfter_.reset();
        return *this;
    }
    // Literal validity times, stored byte for byte ("491231235959Z", "20510101000000Z", or any
    // malformed text a test needs, the empty one included).
    CertificateBuilder& NotBefore(std::string text, TimeForm form = TimeForm::kAuto) {
        notBefore_ = std::move(text);
        notBeforeForm_ = form;
        return *this;
    }
    CertificateBuilder& NotAfter(std::string text, TimeForm form = TimeForm::kAuto) {
        notAfter_ = std::move(text);
        notAfterForm_ = form;
        return *this;
    }
    // The subject's private key (PEM, any algorithm); for a self-signed certificate also the
    // signing key.
    CertificateBuilder& SubjectKey(std::string privateKeyPem) {
        subjectKeyPem_ = std::move(privateKeyPem);
        return *this;
    }
    // The signature's digest ("SHA256", "SHA1", ...).
    CertificateBuilder& Digest(std::string name) {
        digest_ = std::move(name);
        return *this;
    }
    // An X.509 v3 extension in the configuration syntax of the openssl command
    // ("basicConstraints", "critical,CA:TRUE").
    CertificateBuilder& Extension(std::string name, std::string value) {
        extensions_.emplace_back(std::move(name), std::move(value));
        return *this;
    }
    // Marks the certificate as an authority that may sign certificates.
    CertificateBuilder& Ca() {
        return Extension("basicConstraints", "critical,CA:TRUE")
            .Extension("keyUsage", "critical,keyCertSign,cRLSign")
            .Extension("subjectKeyIdentifier", "hash");
    }
    // A last change of the certificate before it is signed.
    CertificateBuilder& Modify(std::function<void(X509*)> change) {
        modify_ = std::move(change);
        return *this;
    }

    TestCertificate Build() const {
        using namespace cert_detail;
        const std::string subjectKeyPem =
            subjectKeyPem_.empty() ? TestRsaKey(2048).privatePem : subjectKeyPem_;
        ossl::PKey subjectKey = ReadPrivateKey(subjectKeyPem);
        ossl::PKey signerKey = signerKeyPem_.empty() ? nullptr : ReadPrivateKey(signerKeyPem_);
        ossl::X509Ptr issuer = issuerPem_.empty() ? nullptr : ReadCertificate(issuerPem_);

        ossl::X509Ptr cert(X509_new());
        Check(cert != nullptr, "X509_new");
        Check(X509_set_version(cert.get(), X509_VERSION_3) == 1, "X509_set_version");

        BIGNUM* bn = nullptr;
        Check(BN_hex2bn(&bn, serialHex_.c_str()) > 0, "BN_hex2bn");
        ossl::BigNum serialBn(bn);
        ossl::Asn1Integer serial(BN_to_ASN1_INTEGER(serialBn.get(), nullptr));
        Check(serial && X509_set_serialNumber(cert.get(), serial.get()) == 1, "serial number");

        ossl::X509Name subject = MakeName(subject_);
        Check(X509_set_subject_name(cert.get(), subject.get()) == 1, "subject name");
        if (hasIssuerName_) {
            ossl::X509Name name = MakeName(issuerName_);
            Check(X509_set_issuer_name(cert.get(), name.get()) == 1, "issuer name");
        } else if (issuer) {
            Check(X509_set_issuer_name(cert.get(), X509_get_subject_name(issuer.get())) == 1,
                  "issuer name");
        } else {
            Check(X509_set_issuer_name(cert.get(), subject.get()) == 1, "issuer name");
        }

        SetTime(cert.get(), true, notBefore_, notBeforeForm_, startOffset_);
        SetTime(cert.get(), false, notAfter_, notAfterForm_, endOffset_);
        Check(X509_set_pubkey(cert.get(), subjectKey.get()) == 1, "X509_set_pubkey");

        for (const auto& [name, value] : extensions_) {
            X509V3_CTX ctx;
            X509V3_set_ctx(&ctx, issuer ? issuer.get() : cert.get(), cert.get(), nullptr, nullptr,
                           0);
            ossl::X509Extension ext(X509V3_EXT_nconf(nullptr, &ctx, name.c_str(), value.c_str()));
            Check(ext && X509_add_ext(cert.get(), ext.get(), -1) == 1, "extension");
        }
        if (modify_) modify_(cert.get());

        EVP_PKEY* signWith = signerKey ? signerKey.get() : subjectKey.get();
        const EVP_MD* md = EVP_get_digestbyname(digest_.c_str());
        Check(md != nullptr, "digest lookup");
        Check(X509_sign(cert.get(), signWith, md) > 0, "X509_sign");

        TestCertificate out;
        ossl::Bio pem(BIO_new(BIO_s_mem()));
        Check(PEM_write_bio_X509(pem.get(), cert.get()) == 1, "PEM_write_bio_X509");
        out.pem = BioText(pem.get());
        ossl::Bio der(BIO_new(BIO_s_mem()));
        Check(i2d_X509_bio(der.get(), cert.get()) == 1, "i2d_X509_bio");
        out.der = BioText(der.get());
        out.privateKeyPem = subjectKeyPem;
        ossl::Bio pub(BIO_new(BIO_s_mem()));
        Check(PEM_write_bio_PUBKEY(pub.get(), subjectKey.get()) == 1, "PEM_write_bio_PUBKEY");
        out.publicKeyPem = BioText(pub.get());
        return out;
    }

  private:
    static cert_detail::ossl::X509Name MakeName(const Name& fields) {
        using namespace cert_detail;
        ossl::X509Name name(X509_NAME_new());
        Check(name != nullptr, "X509_NAME_new");
        for (const NameField& f : fields) {
            Check(X509_NAME_add_entry_by_txt(name.get(), f.field.c_str(), f.type,
                                             reinterpret_cast<const unsigned char*>(f.value.data()),
                                             static_cast<int>(f.value.size()), -1, 0) == 1,
                  "name entry");
        }
        return name;
    }

    static void SetTime(X509* cert, bool start, const std::optional<std::string>& literal,
                        TimeForm form, long offset) {
        using namespace cert_detail;
        ASN1_TIME* field = start ? X509_getm_notBefore(cert) : X509_getm_notAfter(cert);
        if (!literal) {
            Check(X509_gmtime_adj(field, offset) != nullptr, "X509_gmtime_adj");
            return;
        }
        const std::string& text = *literal;
        bool generalized =
            form == TimeForm::kGeneralized || (form == TimeForm::kAuto && text.size() >= 15);
        ossl::Asn1String time(
            ASN1_STRING_type_new(generalized ? V_ASN1_GENERALIZEDTIME : V_ASN1_UTCTIME));
        Check(time && ASN1_STRING_set(time.get(), text.data(), static_cast<int>(text.size())) == 1,
              "validity time");
        Check((start ? X509_set1_notBefore(cert, time.get())
                     : X509_set1_notAfter(cert, time.get())) == 1,
              "X509_set1_notBefore/After");
    }

    Name subject_{{"CN", "Test Certificate"}};
    Name issuerName_;
    bool hasIssuerName_ = false;
    std::string issuerPem_;
    std::string signerKeyPem_;
    std::string subjectKeyPem_;
    std::string serialHex_ = "01";
    long startOffset_ = -3600;
    long endOffset_ = 86400;
    std::optional<std::string> notBefore_, notAfter_;  // literal times, else the offsets
    TimeForm notBeforeForm_ = TimeForm::kAuto, notAfterForm_ = TimeForm::kAuto;
    std::string digest_ = "SHA256";
    std::vector<std::pair<std::string, std::string>> extensions_;
    std::function<void(X509*)> modify_;
};

}  // namespace qmsec_test
