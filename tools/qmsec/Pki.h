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
    // A self-signed certificate that may not issue others: a stand-in that only carries the key.
    bool endEntity = false;
};

// A new RSA key and an X.509 v3 certificate for it with the subject CN=commonName, a random
// 128-bit serial number, valid from now for the given days, signed with SHA-256. Throws the
// tool's failure with OpenSSL's reason when anything fails.
void CreateKeyAndCertificate(const CertificateRequest& request, KeyAndCertificate& out);

// A PKCS #10 certificate request (PEM) for the subject CN=commonName and the public key of
// keyPem, signed with that key (SHA-256).
std::string CreateCertificateRequest(const std::string& keyPem, const std::string& commonName);

// A PKCS #12 file of the key and certificate, under the friendly name, protected by password
// with OpenSSL's current defaults (AES-256-CBC, PBKDF2, HMAC-SHA-256), which the openssl
// command and Java key stores read.
std::string CreatePkcs12(const std::string& keyPem, const std::string& certPem,
                         const std::string& friendlyName, const std::string& password);

// The key and certificate of a PKCS #12 file. Fails when the password does not open it, when it
// lacks either, or when the key is not RSA (the only kind the key store keeps). Certificates of
// the chain are counted in chainCount, not returned.
void ReadPkcs12(const std::string& der, const std::string& password, KeyAndCertificate& out,
                int& chainCount);

}  // namespace qmsec
