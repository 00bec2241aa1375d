// Making RSA keys and X.509 certificates, which the library itself does not offer.
#pragma once

#include <string>

namespace qmsec {

// A key and its certificate as PEM texts. The key text is a secret: the destructor wipes it.
struct KeyAndCertificate {
    std::string keyPem;   // "PRIVATE KEY" (PKCS #8), unencrypted
    std::string certPem;  // "CERTIFICATE"
    KeyAndCertificate() = default;
    KeyAndCertificate(const KeyAndCertificate&) = delete;
    KeyAndCertificate& operator=(const KeyAndCertificate&) = delete;
    ~KeyAndCertificate();
};

// What the new certificate is to be. The issuer's key text is a secret: the destructor wipes it.
struct CertificateRequest {
    CertificateRequest() = default;
    CertificateRequest(const CertificateRequest&) = delete;
    CertificateRequest& operator=(const CertificateRequest&) = delete;
    ~CertificateRequest();
    std::string commonName;
    int bits = 2048;  // RSA modulus
    int days = 365;   // validity from now
    // Empty for a self-signed certificate, which is made a CA certificate (it may issue others).
    // Otherwise the issuer's certificate and private key (PEM): the new certificate is an end
    // entity's (digital signatures and key encipherment) unless ca is set.
    std::string issuerCertPem;
    std::string issuerKeyPem;
    bool ca = false;
};

// A new RSA key and an X.509 v3 certificate for it with the subject CN=commonName, a random
// 128-bit serial number, valid from now for the given days, signed with SHA-256. Throws the
// tool's failure with OpenSSL's reason when anything fails.
void CreateKeyAndCertificate(const CertificateRequest& request, KeyAndCertificate& out);

}  // namespace qmsec
