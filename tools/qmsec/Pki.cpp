#include "Pki.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

#include "Cli.h"
#include "OpenSsl.h"

namespace qmsec {

namespace {

namespace ossl = QmSecCore::ossl;

// Fails with OpenSSL's reason for the step that went wrong, after what the tool was doing.
void Check(bool ok, const char* what,
           const char* doing = "Could not create the key or certificate") {
    if (ok) return;
    unsigned long code = ERR_get_error();
    char reason[256] = "unknown reason";
    if (code) ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    Fail(std::string(doing) + ": " + what + " failed (" + reason + ").");
}

std::string BioText(BIO* bio) {
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    return std::string(data, static_cast<size_t>(n > 0 ? n : 0));
}

ossl::PKey ReadKey(const std::string& pem, const char* what = "reading the issuer's key") {
    ossl::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Check(bio != nullptr, what);
    ossl::PKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    Check(key != nullptr, what);
    return key;
}

ossl::X509Ptr ReadCertificate(const std::string& pem,
                              const char* what = "reading the issuer's certificate") {
    ossl::Bio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    Check(bio != nullptr, what);
    ossl::X509Ptr cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
    Check(cert != nullptr, what);
    return cert;
}

ossl::X509Name CommonNameOnly(const std::string& commonName) {
    ossl::X509Name name(X509_NAME_new());
    Check(name != nullptr, "creating the subject name");
    Check(X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                                     reinterpret_cast<const unsigned char*>(commonName.data()),
                                     static_cast<int>(commonName.size()), -1, 0) == 1,
          "setting the common name");
    return name;
}

void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const char* value) {
    ossl::X509Extension ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
    Check(ext != nullptr, "making a certificate extension");
    Check(X509_add_ext(cert, ext.get(), -1) == 1, "adding a certificate extension");
}

}  // namespace

KeyAndCertificate::~KeyAndCertificate() {
    if (!keyPem.empty()) OPENSSL_cleanse(keyPem.data(), keyPem.size());
}

CertificateRequest::~CertificateRequest() {
    if (!issuerKeyPem.empty()) OPENSSL_cleanse(issuerKeyPem.data(), issuerKeyPem.size());
}

void CreateKeyAndCertificate(const CertificateRequest& request, KeyAndCertificate& out) {
    ossl::PKey key(EVP_RSA_gen(static_cast<unsigned>(request.bits)));
    Check(key != nullptr, "generating the RSA key");

    bool selfSigned = request.issuerCertPem.empty();
    ossl::PKey issuerKey = selfSigned ? nullptr : ReadKey(request.issuerKeyPem);
    ossl::X509Ptr issuer = selfSigned ? nullptr : ReadCertificate(request.issuerCertPem);

    ossl::X509Ptr cert(X509_new());
    Check(cert != nullptr, "creating the certificate");
    Check(X509_set_version(cert.get(), 2) == 1, "setting the version");

    // A positive random serial: large enough that two certificates of one issuer never share one.
    ossl::BigNum serial(BN_new());
    Check(serial && BN_rand(serial.get(), 128, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY) == 1,
          "drawing the serial number");
    Check(BN_to_ASN1_INTEGER(serial.get(), X509_get_serialNumber(cert.get())) != nullptr,
          "setting the serial number");

    Check(X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0) != nullptr, "setting the start");
    Check(X509_time_adj_ex(X509_getm_notAfter(cert.get()), request.days, 0, nullptr) != nullptr,
          "setting the end");

    ossl::X509Name subject = CommonNameOnly(request.commonName);
    Check(X509_set_subject_name(cert.get(), subject.get()) == 1, "setting the subject");
    Check(X509_set_issuer_name(
              cert.get(), selfSigned ? subject.get() : X509_get_subject_name(issuer.get())) == 1,
          "setting the issuer");
    Check(X509_set_pubkey(cert.get(), key.get()) == 1, "setting the public key");

    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, selfSigned ? cert.get() : issuer.get(), cert.get(), nullptr, nullptr, 0);
    bool ca = request.ca || (selfSigned && !request.endEntity);
    AddExtension(cert.get(), &ctx, NID_basic_constraints,
                 ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(cert.get(), &ctx, NID_key_usage,
                 ca ? "critical,keyCertSign,cRLSign,digitalSignature"
                    : "critical,digitalSignature,keyEncipherment");
    AddExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (!selfSigned) AddExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");

    Check(X509_sign(cert.get(), selfSigned ? key.get() : issuerKey.get(), EVP_sha256()) > 0,
          "signing the certificate");

    ossl::Bio certBio(BIO_new(BIO_s_mem()));
    Check(certBio && PEM_write_bio_X509(certBio.get(), cert.get()) == 1, "writing the certificate");
    out.certPem = BioText(certBio.get());

    ossl::Bio keyBio(BIO_new(BIO_s_secmem()));
    Check(keyBio && PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                             nullptr) == 1,
          "writing the key");
    out.keyPem = BioText(keyBio.get());
}

std::string CreateCertificateRequest(const std::string& keyPem, const std::string& commonName) {
    ossl::PKey key = ReadKey(keyPem, "reading the new key");
    ossl::X509Req request(X509_REQ_new());
    Check(request != nullptr, "creating the request");
    Check(X509_REQ_set_version(request.get(), 0) == 1, "setting the request's version");
    ossl::X509Name subject = CommonNameOnly(commonName);
    Check(X509_REQ_set_subject_name(request.get(), subject.get()) == 1, "setting the subject");
    Check(X509_REQ_set_pubkey(request.get(), key.get()) == 1, "setting the public key");
    Check(X509_REQ_sign(request.get(), key.get(), EVP_sha256()) > 0, "signing the request");
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    Check(bio && PEM_write_bio_X509_REQ(bio.get(), request.get()) == 1, "writing the request");
    return BioText(bio.get());
}

std::string CreatePkcs12(const std::string& keyPem, const std::string& certPem,
                         const std::string& friendlyName, const std::string& password) {
    const char* doing = "Could not make the PKCS #12 file";
    ossl::PKey key = ReadKey(keyPem, "reading the private key");
    ossl::X509Ptr cert = ReadCertificate(certPem, "reading the certificate");
    // 0 for the algorithms, iterations and MAC settings: OpenSSL's defaults of the day.
    ossl::Pkcs12 p12(PKCS12_create(password.c_str(), friendlyName.c_str(), key.get(), cert.get(),
                                   nullptr, 0, 0, 0, 0, 0));
    Check(p12 != nullptr, "encrypting the key and certificate", doing);
    ossl::Bio bio(BIO_new(BIO_s_mem()));
    Check(bio && i2d_PKCS12_bio(bio.get(), p12.get()) == 1, "encoding", doing);
    return BioText(bio.get());
}

void ReadPkcs12(const std::string& der, const std::string& password, KeyAndCertificate& out,
                int& chainCount) {
    const char* doing = "Could not read the PKCS #12 file";
    ossl::Bio bio(BIO_new_mem_buf(der.data(), static_cast<int>(der.size())));
    Check(bio != nullptr, "reading", doing);
    ossl::Pkcs12 p12(d2i_PKCS12_bio(bio.get(), nullptr));
    Check(p12 != nullptr, "decoding (it is not a PKCS #12 file)", doing);
    EVP_PKEY* rawKey = nullptr;
    X509* rawCert = nullptr;
    STACK_OF(X509)* rawChain = nullptr;
    int parsed = PKCS12_parse(p12.get(), password.c_str(), &rawKey, &rawCert, &rawChain);
    ossl::PKey key(rawKey);
    ossl::X509Ptr cert(rawCert);
    ossl::X509Stack chain(rawChain);
    Check(parsed == 1, "opening it with the password (a wrong password?)", doing);
    if (!key || !cert) Fail(std::string(doing) + ": it holds no private key with its certificate.");
    if (!EVP_PKEY_is_a(key.get(), "RSA"))
        Fail(std::string(doing) + ": its key is a " + EVP_PKEY_get0_type_name(key.get()) +
             " key; the key store keeps RSA keys only.");
    chainCount = chain ? sk_X509_num(chain.get()) : 0;

    ossl::Bio certBio(BIO_new(BIO_s_mem()));
    Check(certBio && PEM_write_bio_X509(certBio.get(), cert.get()) == 1, "writing the certificate",
          doing);
    out.certPem = BioText(certBio.get());
    ossl::Bio keyBio(BIO_new(BIO_s_secmem()));
    Check(keyBio && PEM_write_bio_PrivateKey(keyBio.get(), key.get(), nullptr, nullptr, 0, nullptr,
                                             nullptr) == 1,
          "writing the key", doing);
    out.keyPem = BioText(keyBio.get());
}

}  // namespace qmsec
